// quillpost-send: which users a command line names, what it refuses (queuing nothing),
// what it cuts, the exit statuses, and --wait against rows that another program
// settles. (Which database it opens is in test_command_line; queueing
// is one transaction, as test_message_queue shows; a --wait that ends with every page
// sent is seen in test_headless_dispatcher.)
#include "RunningProgram.h"
#include "SendTool.h"
#include "TempDatabase.h"
#include "TempSettings.h"

#include <QTest>
#include <optional>

class TestQuillpostSend : public QObject
{
    Q_OBJECT

private slots:
    // The database is the test's own whatever the environment of the run names.
    void initTestCase() { qunsetenv("QUILLPOST_DB"); }

    // Users 1 Alice Marsh, 2 Ben Okafor, 3 Pat (also a group), 4 Pat Kerr; groups
    // 1 Night Shift (Ben, Alice), 2 Pat (Pat Kerr), 3 Empty.
    void init()
    {
        m_db.emplace(); // the previous one ends first, restoring the working directory
        m_db->addUser("Alice Marsh", "101", 0, { 1 });
        m_db->addUser("Ben Okafor", "102", 0, { 0, 0, 1 });
        m_db->addUser("Pat", "103");
        m_db->addUser("Pat Kerr", "104", 0, { 2 });
        for (const char* group : { "Night Shift", "Pat", "Empty" })
            m_db->addGroup(group);
    }

    void commandLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("recipients"); // user IDs of the queued rows, in order
        QTest::addColumn<QString>("said"); // part of what was written to out or err
        QTest::addColumn<QString>("queued"); // the text stored, before ": Sent using Quillpost"
        const auto row = [](const char* name, const QStringList& arguments, int status,
                             const QString& said, const QStringList& recipients = {},
                             const QString& input = {}, const QString& queued = "x") {
            QTest::newRow(name) << arguments << input << status << recipients << said << queued;
        };
        row("group expands in table order, each user once", { "-t", "#2", "--to=night shift", "x" },
            0, "Queued message 1 for 2 recipient(s)", { "2", "1" });
        row("user: and group: choose between one name",
            { "--to", "user:pat", "--to", "group:Pat", "x" }, 0, "", { "3", "4" });
        row("ambiguous name lists both", { "--to", "#1", "--to", "pat", "x" }, 1,
            "group \"Pat\" (#2)");
        row("unknown name lists resembling ones", { "--to", "#1", "--to", "okaf", "x" }, 1,
            "user \"Ben Okafor\" (#2)");
        row("unknown user ID", { "--to", "#99", "x" }, 1, "There is no user \"#99\"");
        row("group without members", { "--to", "empty", "x" }, 1,
            "The group \"Empty\" (#3) has no members.");
        row("no text", { "--to", "#1" }, 1, "there is no text to send.", {}, " \n");
        row("text after --, starting with -", { "--to", "#1", "--", "-5", "degrees" }, 0, "",
            { "1" }, {}, "-5 degrees");
        row("text starting with -, no --", { "--to", "#1", "-5", "degrees" }, 2,
            "goes after \"--\"");
        // 65536 characters in all, the most read: the text is cut where the composing dialog
        // stops the operator, and what went is quoted back (at most 60 characters of it).
        row("64 KiB of standard input: lines joined, cut, queued", { "--to", "#1" }, 0,
            "65536 characters, more than the 240 a message holds; cut off: \"cd" + QString(58, 'j')
                + "...\". Of the rest, the first 129 characters are sent.",
            { "1" }, "line one\nline two\n" + QString(222, 'i') + "cd" + QString(65294, 'j'),
            "line one line two " + QString(111, 'i'));
        row("more than 64 KiB of standard input", { "--to", "#1", "-" }, 1, "more than 65536", {},
            QString(64 * 1024 + 1, 'i'));
        row("impossible date", { "--to", "#1", "--at", "2026-02-30 10:00", "x" }, 1,
            "\"2026-02-30 10:00\" is not a date and time such as \"2026-12-24 18:30\".");
        // Whatever the zone, the first is within what the program holds, the other not (the
        // earliest time it holds is the due-time check's, as test_tree_commands'
        // sendOpensAtNowWhateverWasPreset shows).
        row("due in January 2038", { "--to", "#1", "--at", "2038-01-18 00:00", "x" }, 0, "",
            { "1" });
        row("due after 2038", { "--to", "#1", "--at", "2038-01-20 00:00", "x" }, 1,
            "the latest time Quillpost can hold");
        row("no recipient", { "x" }, 2, "Name at least one recipient with --to.");
        row("unknown option", { "--to", "#1", "--urgent", "x" }, 2, "Unknown option: --urgent");
        row("--wait=0", { "--to", "#1", "--wait=0", "x" }, 2,
            "--wait takes a whole number of seconds above 0.");
    }

    void commandLines()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, input);
        QFETCH(int, status);
        QFETCH(QStringList, recipients);
        QFETCH(QString, said);
        QFETCH(QString, queued);
        QTextStream in(&input);
        QString written;
        QTextStream out(&written);
        QCOMPARE(RunSendTool(arguments, in, out, out, 50), status);
        QVERIFY2(written.contains(said), qPrintable(written));
        QCOMPARE(m_db->rows("Messages", "Recipient"), recipients);
        if (status == kSendQueued)
            QCOMPARE(m_db->scalar("SELECT Text FROM Messages").toString(),
                queued + ": Sent using Quillpost");
    }

    void waitReportsTheOutcome_data()
    {
        QTest::addColumn<QString>("settle"); // SQL run once the message is queued
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("one failed for good")
            << "UPDATE Messages SET Status = 2 - (Recipient = 1), Retries = 4 * (Recipient = 2)"
            << 4 << "Ben Okafor (#2): failed for good after 4";
        QTest::newRow("deleted meanwhile") << "DELETE FROM Messages" << 4 << "was deleted";
        QTest::newRow("time runs out")
            << "UPDATE Messages SET Status = 1 WHERE Recipient = 1" << 5 << "Time ran out";
    }

    // The real program, while the test plays the dispatcher that settles the rows.
    void waitReportsTheOutcome()
    {
        QFETCH(QString, settle);
        QFETCH(int, status);
        QFETCH(QString, said);
        RunningProgram send("quillpost-send",
            { "--db", m_db->filePath(), "--wait=5", "--to", "#1", "--to", "#2", "server down" });
        QTRY_COMPARE_WITH_TIMEOUT(m_db->scalar("SELECT COUNT(*) FROM Messages").toInt(), 2, 20000);
        m_db->exec(settle);
        QCOMPARE(send.finish(), status);
        QVERIFY2(send.said(said), qPrintable(send.output()));
    }

private:
    TempSettings m_settings;
    std::optional<TempDatabase> m_db;
};

QTEST_GUILESS_MAIN(TestQuillpostSend)
#include "test_quillpost_send.moc"
