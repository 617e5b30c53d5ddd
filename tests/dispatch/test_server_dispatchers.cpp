// Dispatchers sharing one database on a PostgreSQL server (a throwaway cluster of the
// test's own), each with a simulated modem of its own: every row is sent once, by
// whichever dispatcher claimed its group.
#include "PagingSimulator.h"
#include "PostgresCluster.h"
#include "SimulatedLine.h"
#include "TempSettings.h"
#include "dispatch/HeadlessDispatcher.h"
#include "modem/ModemList.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseSchema.h"

#include <QSet>
#include <algorithm>
#include <QTest>
#include <memory>

using quillpost::sim::PagingSimulator;
using quillpost::sim::AcceptedPage;
using quillpost::sim::SimConfig;

namespace {

constexpr int kWaitMs = 120000;

// Dispatchers, each with a simulated modem of its own, sending from one server.
struct Desks
{
    explicit Desks(const std::vector<PagingSimulator*>& sims)
    {
        for (const QString& line : StartSimulatedModems(sims)) {
            modems.push_back(std::make_unique<CModemList>([line] { return line; }));
            dispatchers.push_back(std::make_unique<CHeadlessDispatcher>(
                *modems.back(), [](const QString&) { }, 20, SendTiming { 20, 0, 0 },
                [line] { return SendCapacity { { line }, 0, {} }; }));
        }
    }
    bool Sending() const
    {
        return std::any_of(dispatchers.begin(), dispatchers.end(),
            [](const auto& dispatcher) { return dispatcher->IsSending(); });
    }
    std::vector<std::unique_ptr<CModemList>> modems;
    std::vector<std::unique_ptr<CHeadlessDispatcher>> dispatchers;
};

} // namespace

class TestServerDispatchers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error())); }
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_database = QString("q%1").arg(++m_databases);
        QVERIFY(m_cluster.CreateDatabase(m_database));
        CreateQuillpostDatabase(m_cluster.Url(m_database));
        CDaoRecordset::SetDefaultDatabaseName(m_cluster.Url(m_database));
    }
    void cleanupTestCase() { CDaoRecordset::SetDefaultDatabaseName(QStringLiteral("Quillpost.mdb")); }

    // Two dispatchers and twelve messages to two providers: no page goes out twice, and
    // both dispatchers send.
    void eachGroupSentOnce()
    {
        Queue(2, 12, 1);
        PagingSimulator first, second;
        Desks desks({ &first, &second });
        for (const auto& dispatcher : desks.dispatchers)
            dispatcher->Start();
        QTRY_COMPARE_WITH_TIMEOUT(first.pageCount() + second.pageCount(), 12, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!desks.Sending(), kWaitMs);
        VerifyPagedOnce(first.pages() + second.pages(), 12);
        QVERIFY(first.pageCount() > 0 && second.pageCount() > 0);
    }

    // The server restarts while one dispatcher is in a slow call: the restart ends the
    // session holding its claim, yet the other dispatcher, idle and ready, does not take
    // the group up meanwhile, and every recipient is paged once.
    void serverRestartDuringACall()
    {
        Queue(1, 1, 4);
        SimConfig slow;
        slow.faults.slowReplyMs = 700;
        PagingSimulator busy(slow), idle;
        Desks desks({ &busy, &idle });
        desks.dispatchers[0]->Start();
        QTRY_VERIFY_WITH_TIMEOUT(busy.pageCount() == 1, kWaitMs);
        desks.dispatchers[1]->Start();
        m_cluster.Stop();
        QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error()));
        QTRY_VERIFY_WITH_TIMEOUT(!desks.Sending() && Sent() == 4, kWaitMs);
        VerifyPagedOnce(busy.pages() + idle.pages(), 4);
    }

private:
    // `messages` messages of `recipients` users each, spread over `providers` providers.
    void Queue(int providers, int messages, int recipients)
    {
        DaoConnection db(m_cluster.Url(m_database));
        for (int provider = 1; provider <= providers; ++provider)
            db.Execute("INSERT INTO ServiceProviders (ServiceName, AccessNumber, UseAsDefault) "
                       "VALUES (?, '5551234', 0)",
                { QString("P%1").arg(provider) }, "provider");
        int user = 0;
        for (int message = 1; message <= messages; ++message) {
            for (int recipient = 0; recipient < recipients; ++recipient) {
                ++user;
                db.Execute("INSERT INTO Users (Name, TelephoneNumber, PreferredProvider) VALUES (?, ?, ?)",
                    { QString("User %1").arg(user), QString::number(1000 + user), 1 + message % providers },
                    "user");
                db.Execute("INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, Status, "
                           "SendTime, RequestTime, RequiredSendTime, Retries) VALUES (?, 1, ?, ?, 0, "
                           "'2026-01-01 12:00:00', '2026-01-01 12:00:00', '2026-01-01 12:00:00', 0)",
                    { user, message, QString("Text %1").arg(message) }, "message");
            }
        }
    }

    // Sent at the first attempt, as recorded.
    int Sent()
    {
        try {
            DaoConnection db(m_cluster.Url(m_database));
            QSqlQuery sent = db.Execute(
                "SELECT COUNT(*) FROM Messages WHERE Status = 1 AND Retries = 0", {}, "sent");
            return sent.next() ? sent.value(0).toInt() : -1;
        } catch (const CDaoException&) {
            return -1;
        }
    }

    void VerifyPagedOnce(const QList<AcceptedPage>& pages, int expected)
    {
        QSet<QByteArray> paged;
        for (const auto& page : pages)
            QVERIFY2(!paged.contains(page.pagerId) && (paged.insert(page.pagerId), true),
                page.pagerId.constData());
        QCOMPARE(int(paged.size()), expected);
        QCOMPARE(Sent(), expected);
    }

    PostgresCluster m_cluster;
    std::unique_ptr<TempSettings> m_settings;
    QString m_database;
    int m_databases = 0;
};

QTEST_GUILESS_MAIN(TestServerDispatchers)
#include "test_server_dispatchers.moc"
