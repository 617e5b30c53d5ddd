// quillpost-send: which users a command line names, what it refuses (queuing nothing),
// what it cuts, the exit statuses, and --wait against rows that another program
// settles. (Which database it opens is in test_command_line; queueing
// is one transaction, as test_message_queue shows; a --wait that ends with every page
// sent is seen in test_headless_dispatcher.)
#include "RunningProgram.h"
#include "SendTool.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "platform/db/DaoRecordset.h"

#include <QTest>

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
        m_db = std::make_unique<TempDatabase>();
        m_db->addUser("Alice Marsh", "101", 0, { 1 });
        m_db->addUser("Ben Okafor", "102", 0, { 0, 0, 1 });
        m_db->addUser("Pat", "103");
        m_db->addUser("Pat Kerr", "104", 0, { 2 });
        for (const char* group : { "Night Shift", "Pat", "Empty" })
            m_db->addGroup(group);
    }
    void cleanup()
    {
        m_db.reset();
        CDaoRecordset::SetDefaultDatabaseName("Quillpost.mdb");
    }

    void commandLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("recipients"); // user IDs of the queued rows, in order
        QTest::addColumn<QString>("said"); // part of what was written to out or err
        QTest::addColumn<QString>("queued"); // the text stored; empty: not compared
        const auto row = [](const char* name, const QStringList& arguments, int status,
                             const QString& said, const QStringList& recipients = {},
                             const QString& input = {}, const QString& queued = {}) {
            QTest::newRow(name) << arguments << input << status << recipients << said << queued;
        };
        const QString sent = ": Sent using Quillpost";
        row("user name, any case", { "--to", "alice MARSH", "disk", "full" }, 0,
            "Queued message 1 for 1 recipient(s)", { "1" });
        row("group expands in table order, each user once", { "-t", "#2", "--to=night shift", "x" },
            0, "", { "2", "1" });
        row("user: and group: choose between one name",
            { "--to", "user:pat", "--to", "group:Pat", "x" }, 0, "", { "3", "4" });
        row("text from standard input, lines joined", { "--to", "#1" }, 0, "", { "1" },
            "line one\nline two\n");
        row("ambiguous name lists both", { "--to", "#1", "--to", "pat", "x" }, 1,
            "group \"Pat\" (#2)");
        row("unknown name lists resembling ones", { "--to", "#1", "--to", "okaf", "x" }, 1,
            "user \"Ben Okafor\" (#2)");
        row("unknown user ID", { "--to", "#99", "x" }, 1, "There is no user \"#99\"");
        row("group without members", { "--to", "empty", "x" }, 1, "has no members");
        row("no text", { "--to", "#1" }, 1, "no text", {}, " \n");
        row("text after --, starting with -", { "--to", "#1", "--", "-5", "degrees" }, 0, "",
            { "1" }, {}, "-5 degrees" + sent);
        row("text starting with -, no --", { "--to", "#1", "-5", "degrees" }, 2,
            "goes after \"--\"");
        row("over 240 characters: cut, said, queued",
            { "--to", "#1", QString(129, 'a') + QString(111, 'b') + "cd" }, 0, "cut off: \"cd\"",
            { "1" }, {}, QString(129, 'a') + sent);
        row("64 KiB of standard input: cut, queued", { "--to", "#1" }, 0, "cut off", { "1" },
            QString(64 * 1024, 'i'));
        row("more than 64 KiB of standard input", { "--to", "#1", "-" }, 1, "more than 65536", {},
            QString(64 * 1024 + 1, 'i'));
        row("impossible date", { "--to", "#1", "--at", "2026-02-30 10:00", "x" }, 1,
            "not a date and time");
        // Whatever the zone, the first is within what the program holds, the others not.
        row("due in January 2038", { "--to", "#1", "--at", "2038-01-18 00:00", "x" }, 0, "",
            { "1" });
        row("due after 2038", { "--to", "#1", "--at", "2038-01-20 00:00", "x" }, 1,
            "the latest time Quillpost can hold");
        row("due before 1901", { "--to", "#1", "--at", "1901-12-12", "x" }, 1,
            "the earliest time Quillpost can hold");
        row("no recipient", { "x" }, 2, "--to");
        row("unknown option", { "--to", "#1", "--urgent", "x" }, 2, "Unknown option: --urgent");
        row("--wait=0", { "--to", "#1", "--wait=0", "x" }, 2, "--wait");
        row("missing database", { "--db", "nowhere.mdb", "--to", "#1", "x" }, 3, "nowhere.mdb");
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
        if (status == kSendQueued) {
            const QString text = m_db->scalar("SELECT Text FROM Messages").toString();
            QVERIFY2(
                !text.contains('\n') && text.endsWith(": Sent using Quillpost"), qPrintable(text));
            QCOMPARE(m_db->scalar("SELECT COUNT(DISTINCT MessageId) FROM Messages").toInt(), 1);
            QVERIFY2(queued.isEmpty() || text == queued, qPrintable(text));
        }
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
    std::unique_ptr<TempDatabase> m_db;
};

QTEST_GUILESS_MAIN(TestQuillpostSend)
#include "test_quillpost_send.moc"
