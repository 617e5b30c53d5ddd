#include "PagingSimulator.h"
#include "PresetPrompt.h"
#include "SimulatedLine.h"
#include "TempSettings.h"
#include "modem/ModemConnection.h"
#include "modem/ModemList.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

using quillpost::sim::CallEnd;
using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

namespace {

const QList<QByteArray> kPagers { "1234567", "7654321" };
const QByteArray kText("Quillpost test page");
const QString kNotFound
    = QStringLiteral("Cannot find designated modem - please set the modem name");

// Plays the sending window's part: frames the port and, unless told not to, wakes the
// terminal when the call connects, sends one block per pager and closes on the last
// verdict or on a line failure.
class SendingOwner final : public IModemConnectionOwner
{
public:
    explicit SendingOwner(bool startExchange)
        : m_bStartExchange(startExchange)
    {
    }

    CModemConnection connection;
    QStringList events;
    bool framed = false;
    bool closed = false;

    void OnLineConnected(std::uintptr_t wParam) override
    {
        events << QStringLiteral("connected %1").arg(wParam);
        // 8N1: a pseudo-terminal cannot carry parity, and would refuse E71.
        framed = connection.SetPortFraming('N', 8, 1);
        if (!m_bStartExchange)
            return;
        connection.Exchange().SetMessageText(kText);
        connection.Exchange().SetPagerId(kPagers[0]);
        connection.Exchange().SendWakeUp();
    }
    void OnLineFailed(std::uintptr_t wParam, std::intptr_t lParam) override
    {
        events << QStringLiteral("failed %1 %2").arg(wParam).arg(lParam);
        Close();
    }
    void OnTapAccepted() override
    {
        events << QStringLiteral("accepted");
        if (++m_nextPager < kPagers.size()) {
            connection.Exchange().SetPagerId(kPagers[m_nextPager]);
            connection.Exchange().SendBlock();
            return;
        }
        connection.Exchange().SendLogout();
        Close();
    }
    void OnTapRefused() override
    {
        events << QStringLiteral("refused");
        Close();
    }

private:
    void Close()
    {
        if (std::exchange(closed, true))
            return;
        connection.HangUp();
        connection.CloseLine();
    }

    bool m_bStartExchange;
    int m_nextPager = 0;
};

} // namespace

class TestModemSimulator : public QObject
{
    Q_OBJECT

private slots:
    void calls_data();
    void calls();
};

void TestModemSimulator::calls_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QString>("stored"); // the modem name stored
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("idleTimeoutMs");
    QTest::addColumn<int>("dropAfterBlock");
    QTest::addColumn<bool>("exchange"); // the owner starts the exchange when connected
    QTest::addColumn<QStringList>("events"); // the owner's messages in each call
    QTest::addColumn<QList<int>>("ends"); // how a call may end; empty: never connected
    QTest::addColumn<int>("pages"); // accepted in each call

    const QStringList delivered { "connected 0", "accepted", "accepted" };
    const QList<int> finished { int(CallEnd::Logout), int(CallEnd::CallerHungUp) };
    const QStringList dropped { "connected 0", "accepted", "failed 0 64" };
    const QList<int> droppedByFault { int(CallEnd::DroppedByFault) };

    QTest::newRow("delivered over a pseudo-terminal")
        << false << kSimulatedLineName << false << 0 << 0 << true << delivered << finished << 2;
    QTest::newRow("delivered over tcp")
        << true << kSimulatedLineName << false << 0 << 0 << true << delivered << finished << 2;
    QTest::newRow("busy: one failure, no redial")
        << false << kSimulatedLineName << true << 0 << 0 << true << QStringList { "failed 0 64" }
        << QList<int>() << 0;
    QTest::newRow("far end hangs up before the exchange")
        << false << kSimulatedLineName << false << 300 << 0 << false
        << QStringList { "connected 0", "failed 0 0" } << QList<int> { int(CallEnd::IdleTimeout) }
        << 0;
    QTest::newRow("far end hangs up during the exchange, pseudo-terminal")
        << false << kSimulatedLineName << false << 0 << 1 << true << dropped << droppedByFault << 1;
    QTest::newRow("far end hangs up during the exchange, tcp")
        << true << kSimulatedLineName << false << 0 << 1 << true << dropped << droppedByFault << 1;
    QTest::newRow("no modem found: nothing dialled, nothing posted")
        << false << "Some other modem" << false << 0 << 0 << false << QStringList() << QList<int>()
        << 0;
}

// Two calls in a row on the same line: the second shows the first left the modem ready.
void TestModemSimulator::calls()
{
    QFETCH(bool, tcp);
    QFETCH(QString, stored);
    QFETCH(bool, busy);
    QFETCH(int, idleTimeoutMs);
    QFETCH(int, dropAfterBlock);
    QFETCH(bool, exchange);
    QFETCH(QStringList, events);
    QFETCH(QList<int>, ends);
    QFETCH(int, pages);

    TempSettings settingsFolder;
    PresetPrompt prompt;
    SimConfig config;
    config.faults.busy = busy;
    config.faults.dropLineAfterBlock = dropAfterBlock;
    config.idleTimeoutMs = idleTimeoutMs;
    config.logPath = QDir(settingsFolder.folder()).filePath(QStringLiteral("pages.jsonl"));
    PagingSimulator sim(config);
    const QString number = StartSimulatedLine(sim, tcp);
    CModemList modems([stored] { return stored; });

    for (int call = 1; call <= 2; ++call) {
        QCOMPARE(modems.Discover(), 0);
        QCOMPARE(modems.SelectedDevice(), stored == kSimulatedLineName ? 0 : CModemList::kNoDevice);
        SendingOwner owner(exchange);
        QCOMPARE(owner.connection.OpenLine(modems, modems.SelectedDevice(), &owner), 0);
        QCOMPARE(owner.connection.IsLineOpen(), stored == kSimulatedLineName);
        owner.connection.PlaceCall(number);
        QTRY_COMPARE_WITH_TIMEOUT(owner.events, events, 20000);
        QVERIFY(owner.closed || !exchange);
        QCOMPARE(owner.framed, events.value(0).startsWith("connected"));
        QTRY_COMPARE_WITH_TIMEOUT(sim.callEnds().size(), ends.isEmpty() ? 0 : call, 20000);
        if (!ends.isEmpty())
            QVERIFY(ends.contains(int(sim.callEnds().last().how)));
        // Past the time of a second attempt: nothing more is posted, nothing redialled.
        QTest::qWait(CModemConnection::kRedialDelayMs + 300);
        QCOMPARE(owner.events, events);
        QCOMPARE(sim.received().isEmpty(), events.isEmpty());
        if (!tcp)
            QCOMPARE(sim.received().count("ATDT5551234\r"), events.isEmpty() ? 0 : call);
        const QList<quillpost::sim::AcceptedPage> accepted = sim.pages().mid((call - 1) * pages);
        QCOMPARE(accepted.size(), pages);
        for (int i = 0; i < pages; ++i) {
            QCOMPARE(accepted[i].pagerId, kPagers[i]);
            QCOMPARE(accepted[i].text, kText);
            QCOMPARE(accepted[i].call, call);
        }
    }
    // The terminal wrote what it accepted to its log.
    QFile log(config.logPath);
    QCOMPARE(log.open(QIODevice::ReadOnly) ? int(log.readAll().count(kText)) : 0, sim.pageCount());
    QCOMPARE(prompt.shown, QStringList(stored == kSimulatedLineName ? 0 : 2, kNotFound));
}

QTEST_GUILESS_MAIN(TestModemSimulator)
#include "test_modem_simulator.moc"
