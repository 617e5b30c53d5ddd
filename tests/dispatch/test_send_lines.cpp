// Dispatchers without a window, each line device a simulated modem of its own, seen from
// the simulators' records, the dispatcher's log and the rows. Two lines calling at once
// are seen in test_sending_dlg (twoLinesSendAtOnceAndOneIsCancelled); several dispatcher
// programs on one server sending each page once, in test_server_processes.
#include "PostgresCluster.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "dispatch/HeadlessDispatcher.h"
#include "modem/ModemList.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseSchema.h"

#include <QTest>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

constexpr int kWaitMs = 120000;

class TestSendLines : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { CDaoRecordset::SetDefaultDatabaseName("Quillpost.mdb"); }

    // Two messages to one provider, with a line free for each: the provider has one call
    // at a time, so the second message's call starts once the first page is through,
    // unless its settings allow it two. A send line that cannot be used costs nobody an
    // attempt and holds up no provider; the operator is told of it once.
    void callsPerProvider_data()
    {
        QTest::addColumn<int>("allowed");
        QTest::newRow("one call") << 1;
        QTest::newRow("two allowed") << 2;
    }

    void callsPerProvider()
    {
        QFETCH(int, allowed);
        TempSettings settings;
        TempDatabase db;
        SimConfig slow;
        slow.faults.slowReplyMs = 400;
        PagingSimulator first(slow), second(slow);
        const QStringList lines = StartSimulatedModems({ &first, &second });
        const int provider = db.addProvider("P1", "5551234", 1);
        db.addMessageRow(db.addUser("User 101", "101", provider), 1, "Hi");
        db.addMessageRow(db.addUser("User 102", "102", provider), 2, "Hi");
        CModemList modems([&lines] { return lines[0]; });
        QStringList log;
        // Ticks long enough that a loaded machine never times a call out.
        const SendCapacity capacity { QStringList { "No such modem" } + lines, 4,
            { { "P1", allowed } } };
        CHeadlessDispatcher dispatcher(modems, [&log](const QString& line) { log << line; }, 20,
            SendTiming { 20, 0, 0 }, [capacity] { return capacity; });
        dispatcher.Start();

        QTRY_COMPARE_WITH_TIMEOUT(
            db.rows("Messages", "Status || '/' || Retries"), QStringList(2, "1/0"), kWaitMs);
        const QString logged = log.join('\n');
        const qsizetype firstSent = logged.indexOf("Message 1 to User 101 (user 1): sent");
        const qsizetype secondCalled = logged.indexOf("Message 2: Calling");
        QVERIFY(firstSent >= 0 && secondCalled >= 0);
        QCOMPARE(firstSent > secondCalled, allowed > 1);
        QCOMPARE(logged.count("No line device is named \"No such modem\""), 1);
        QCOMPARE(first.pageCount() + second.pageCount(), 2);
    }

    // Two dispatchers share one database on a PostgreSQL server (a throwaway cluster of
    // the test's own), which restarts while one of them is in a slow call: the restart ends
    // the session holding its claim, yet the other dispatcher, idle and ready, does not
    // take the group up meanwhile, and every recipient is paged once.
    void serverRestartDuringACall()
    {
        TempSettings settings;
        PostgresCluster cluster;
        QVERIFY2(cluster.Start(), qPrintable(cluster.Error()));
        const QString url = cluster.Url();
        CreateQuillpostDatabase(url);
        CDaoRecordset::SetDefaultDatabaseName(url);
        // One message to four users of one provider.
        DaoConnection db(url);
        QVERIFY(QSqlQuery(db.database()).exec(
            "INSERT INTO ServiceProviders (ServiceName, AccessNumber) VALUES ('P1', '5551234');"
            "INSERT INTO Users (Name, TelephoneNumber, PreferredProvider) "
            "SELECT 'User ' || n, (1000 + n)::text, 1 FROM generate_series(1, 4) n;"
            "INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, SendTime, "
            "RequestTime, RequiredSendTime) SELECT ID, 4, 1, 'Text', '2026-01-01 12:00:00', "
            "'2026-01-01 12:00:00', '2026-01-01 12:00:00' FROM Users"));
        SimConfig slow;
        slow.faults.slowReplyMs = 700;
        PagingSimulator busy(slow), idle;
        std::vector<std::unique_ptr<CModemList>> modems;
        std::vector<std::unique_ptr<CHeadlessDispatcher>> dispatchers;
        for (const QString& line : StartSimulatedModems({ &busy, &idle })) {
            modems.push_back(std::make_unique<CModemList>([line] { return line; }));
            dispatchers.push_back(std::make_unique<CHeadlessDispatcher>(
                *modems.back(), [](const QString&) {}, 20, SendTiming { 20, 0, 0 },
                [line] { return SendCapacity { { line }, 0, {} }; }));
        }
        // Rows sent at the first attempt; -1 while the server cannot tell.
        const auto sentFirstTime = [&url] {
            try {
                DaoConnection reader(url);
                QSqlQuery sent = reader.Execute(
                    "SELECT COUNT(*) FROM Messages WHERE Status = 1 AND Retries = 0", {}, "sent");
                return sent.next() ? sent.value(0).toInt() : -1;
            } catch (const CDaoException&) {
                return -1;
            }
        };

        dispatchers[0]->Start();
        QTRY_VERIFY_WITH_TIMEOUT(busy.pageCount() == 1, kWaitMs);
        dispatchers[1]->Start();
        cluster.Stop();
        QVERIFY(cluster.Start());
        QTRY_VERIFY_WITH_TIMEOUT(
            !dispatchers[0]->IsSending() && !dispatchers[1]->IsSending() && sentFirstTime() == 4,
            kWaitMs);
        // Each row was sent once its page was taken: four pages are one for each.
        QCOMPARE(busy.pageCount() + idle.pageCount(), 4);
    }
};

QTEST_GUILESS_MAIN(TestSendLines)
#include "test_send_lines.moc"
