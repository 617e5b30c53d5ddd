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
#include <QTest>
#include <memory>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

namespace {

constexpr int kWaitMs = 120000;

} // namespace

class TestServerDispatchers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error())); }
    void cleanupTestCase() { CDaoRecordset::SetDefaultDatabaseName(QStringLiteral("Quillpost.mdb")); }

    // Two dispatchers and twelve messages to two providers: no page goes out twice, and
    // both dispatchers send.
    void eachGroupSentOnce()
    {
        TempSettings settings;
        const QString uri = m_cluster.Url();
        CreateQuillpostDatabase(uri);
        CDaoRecordset::SetDefaultDatabaseName(uri);
        DaoConnection db(uri);
        for (int provider = 1; provider <= 2; ++provider)
            db.Execute("INSERT INTO ServiceProviders (ServiceName, AccessNumber, UseAsDefault) "
                       "VALUES (?, '5551234', 0)",
                { QString("P%1").arg(provider) }, "provider");
        for (int message = 1; message <= 12; ++message) {
            const int provider = 1 + message % 2;
            db.Execute("INSERT INTO Users (Name, TelephoneNumber, PreferredProvider) VALUES (?, ?, ?)",
                { QString("User %1").arg(message), QString::number(1000 + message), provider }, "user");
            db.Execute("INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, Status, "
                       "SendTime, RequestTime, RequiredSendTime, Retries) VALUES (?, 1, ?, ?, 0, "
                       "'2026-01-01 12:00:00', '2026-01-01 12:00:00', '2026-01-01 12:00:00', 0)",
                { message, message, QString("Text %1").arg(message) }, "message");
        }
        PagingSimulator first, second;
        const QStringList lines = StartSimulatedModems({ &first, &second });
        std::vector<std::unique_ptr<CModemList>> modems;
        std::vector<std::unique_ptr<CHeadlessDispatcher>> dispatchers;
        for (const QString& line : lines) {
            modems.push_back(std::make_unique<CModemList>([line] { return line; }));
            dispatchers.push_back(std::make_unique<CHeadlessDispatcher>(
                *modems.back(), [](const QString&) { }, 20, SendTiming { 20, 0, 0 },
                [line] { return SendCapacity { { line }, 0, {} }; }));
            dispatchers.back()->Start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(first.pageCount() + second.pageCount(), 12, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!dispatchers[0]->IsSending() && !dispatchers[1]->IsSending(), kWaitMs);
        QSet<QByteArray> paged;
        for (const auto& page : first.pages() + second.pages())
            QVERIFY2(!paged.contains(page.pagerId) && (paged.insert(page.pagerId), true),
                page.pagerId.constData());
        QVERIFY(first.pageCount() > 0 && second.pageCount() > 0);
        QSqlQuery sent = db.Execute("SELECT COUNT(*) FROM Messages WHERE Status = 1 AND Retries = 0", {}, "sent");
        QVERIFY(sent.next());
        QCOMPARE(sent.value(0).toInt(), 12);
        dispatchers.clear();
    }

private:
    PostgresCluster m_cluster;
};

QTEST_GUILESS_MAIN(TestServerDispatchers)
#include "test_server_dispatchers.moc"
