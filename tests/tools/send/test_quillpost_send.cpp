// quillpost-send: which users a command line names, what it refuses (queuing nothing),
// the exit statuses, and --wait against rows that another program settles. (Queueing
// is one transaction, as test_message_queue shows; a --wait that ends with every page
// sent is seen in test_headless_dispatcher.)
#include "RunningProgram.h"
#include "SendTool.h"
#include "TempDatabase.h"
#include "platform/db/DaoRecordset.h"

#include <QTest>

class TestQuillpostSend : public QObject
{
    Q_OBJECT

private slots:
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
        const auto row
            = [](const char* name, const QStringList& arguments, int status, const char* said,
                  const QStringList& recipients = {}, const char* input = "") {
                  QTest::newRow(name)
                      << arguments << QString(input) << status << recipients << QString(said);
              };
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
        row("241 characters", { "--to", "#1", QString(241, 'x') }, 1, "at most 240");
        row("impossible date", { "--to", "#1", "--at", "2026-02-30 10:00", "x" }, 1,
            "not a date and time");
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
    std::unique_ptr<TempDatabase> m_db;
};

QTEST_GUILESS_MAIN(TestQuillpostSend)
#include "test_quillpost_send.moc"
