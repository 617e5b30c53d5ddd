// quillpost-send: which users a command line names, what it refuses (queuing nothing),
// the exit statuses, and --wait against rows that another program settles. (Queueing
// is one transaction, as test_message_queue shows; a --wait that ends with every page
// sent is seen in test_headless_dispatcher.)
#include "ProgramPath.h"
#include "SendTool.h"
#include "TempDatabase.h"
#include "platform/db/DaoRecordset.h"

#include <QProcess>
#include <QTest>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run runTool(const QStringList& arguments, QString input = {})
{
    QTextStream in(&input);
    Run run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.status = RunSendTool(arguments, in, out, err, 50);
    return run;
}

} // namespace

class TestQuillpostSend : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { CDaoRecordset::SetDefaultDatabaseName(QStringLiteral("Quillpost.mdb")); }

    void commandLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("recipients"); // user IDs of the queued rows, in order
        QTest::addColumn<QString>("said"); // part of what was written to out or err
        // Users 1 Alice Marsh, 2 Ben Okafor, 3 Pat (also a group), 4 Pat Kerr; groups
        // 1 Night Shift (Ben, Alice), 2 Pat (Pat Kerr), 3 Empty.
        const QStringList none;
        QTest::newRow("user name, any case")
            << QStringList { "--to", "alice MARSH", "disk", "full" } << "" << 0
            << QStringList { "1" } << "Queued message 1 for 1 recipient(s)";
        QTest::newRow("group expands in table order, each user once")
            << QStringList { "-t", "#2", "--to=night shift", "x" } << "" << 0
            << QStringList { "2", "1" } << "";
        QTest::newRow("user: and group: choose between one name")
            << QStringList { "--to", "user:pat", "--to", "group:Pat", "x" } << "" << 0
            << QStringList { "3", "4" } << "";
        QTest::newRow("group by ID")
            << QStringList { "--to", "group:#1", "x" } << "" << 0 << QStringList { "1", "2" } << "";
        QTest::newRow("text from standard input, lines joined")
            << QStringList { "--to", "#1" } << "line one\nline two\n"
            << 0 << QStringList { "1" } << "";
        QTest::newRow("ambiguous name lists both") << QStringList { "--to", "#1", "--to", "pat",
            "x" } << "" << 1 << none << "group \"Pat\" (#2)";
        QTest::newRow("unknown name lists resembling ones") << QStringList { "--to", "#1", "--to",
            "okaf", "x" } << "" << 1 << none << "user \"Ben Okafor\" (#2)";
        QTest::newRow("unknown user ID")
            << QStringList { "--to", "#99", "x" } << "" << 1 << none << "There is no user \"#99\"";
        QTest::newRow("group without members")
            << QStringList { "--to", "empty", "x" } << "" << 1 << none << "has no members";
        QTest::newRow("no text") << QStringList { "--to", "#1" } << " \n" << 1 << none << "no text";
        QTest::newRow("241 characters")
            << QStringList { "--to", "#1", QString(241, 'x') } << "" << 1 << none << "at most 240";
        QTest::newRow("impossible date") << QStringList { "--to", "#1", "--at", "2026-02-30 10:00",
            "x" } << "" << 1 << none << "not a date and time";
        QTest::newRow("no recipient") << QStringList { "x" } << "" << 2 << none << "--to";
        QTest::newRow("unknown option") << QStringList { "--to", "#1", "--urgent", "x" } << "" << 2
                                        << none << "Unknown option: --urgent";
        QTest::newRow("--wait=0") << QStringList { "--to", "#1", "--wait=0", "x" } << "" << 2
                                  << none << "--wait";
        QTest::newRow("missing database") << QStringList { "--db", "nowhere.mdb", "--to", "#1",
            "x" } << "" << 3 << none << "nowhere.mdb";
    }

    void commandLines()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, input);
        QFETCH(int, status);
        QFETCH(QStringList, recipients);
        QFETCH(QString, said);
        TempDatabase db;
        db.addUser("Alice Marsh", "101", 0, { 1 });
        db.addUser("Ben Okafor", "102", 0, { 0, 0, 1 });
        db.addUser("Pat", "103");
        db.addUser("Pat Kerr", "104", 0, { 2 });
        db.addGroup("Night Shift");
        db.addGroup("Pat");
        db.addGroup("Empty");

        const Run run = runTool(arguments, input);
        QVERIFY2(run.out.contains(said) || run.err.contains(said), qPrintable(run.out + run.err));
        QCOMPARE(run.status, status);
        QCOMPARE(db.rows("Messages", "Recipient"), recipients);
        if (status == kSendQueued) {
            const QString text = db.scalar("SELECT Text FROM Messages").toString();
            QVERIFY2(
                !text.contains('\n') && text.endsWith(": Sent using Quillpost"), qPrintable(text));
            QCOMPARE(db.scalar("SELECT COUNT(DISTINCT MessageId) FROM Messages").toInt(), 1);
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
        TempDatabase db;
        db.addUser("Alice Marsh", "101");
        db.addUser("Ben Okafor", "102");

        QProcess send;
        send.start(ProgramPath("quillpost-send"),
            { "--db", db.filePath(), "--wait=5", "--to", "#1", "--to", "#2", "server down" });
        QVERIFY(send.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(db.scalar("SELECT COUNT(*) FROM Messages").toInt(), 2, 20000);
        db.exec(settle);
        QVERIFY(send.waitForFinished(30000));
        const QString output = send.readAllStandardOutput() + send.readAllStandardError();
        QVERIFY2(output.contains(said), qPrintable(output));
        QCOMPARE(send.exitCode(), status);
    }
};

QTEST_GUILESS_MAIN(TestQuillpostSend)
#include "test_quillpost_send.moc"
