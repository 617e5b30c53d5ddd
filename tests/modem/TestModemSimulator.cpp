#include "PagingSimulator.h"
#include "PresetPrompt.h"
#include "TempSettings.h"
#include "modem/ModemConnection.h"
#include "modem/ModemList.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <memory>

using quillpost::sim::CallEnd;
using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

namespace {

const QString kLineName = QStringLiteral("Simulated modem");

// Plays the sending window's part: frames the port and wakes the terminal when the
// call connects, ticks the exchange, sends one block per recipient and closes on
// the last verdict or on a line failure.
class SendingOwner final : public IModemConnectionOwner
{
public:
    explicit SendingOwner(QList<QByteArray> pagers, bool startExchange = true)
        : m_pagers(std::move(pagers))
        , m_bStartExchange(startExchange)
    {
        m_ticker.setInterval(100);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            if (connection)
                connection->Exchange().OnTick();
        });
    }

    std::unique_ptr<CModemConnection> connection;
    QStringList events;
    bool framed = false;
    bool closed = false;

    void OnLineConnected(std::uintptr_t wParam) override
    {
        events << QStringLiteral("connected %1").arg(wParam);
        // 8N1: a pseudo-terminal cannot carry parity, and would refuse E71.
        framed = connection->SetPortFraming('N', 8, 1);
        if (!m_bStartExchange)
            return;
        connection->Exchange().SetMessageText("Quillpost test page");
        connection->Exchange().SetPagerId(m_pagers.value(0));
        connection->Exchange().SendWakeUp();
        m_ticker.start();
    }
    void OnLineFailed(std::uintptr_t wParam, std::intptr_t lParam) override
    {
        events << QStringLiteral("failed %1 %2").arg(wParam).arg(lParam);
        Close();
    }
    void OnTapAccepted() override
    {
        events << QStringLiteral("accepted");
        if (++m_nextPager < m_pagers.size()) {
            connection->Exchange().SetPagerId(m_pagers[m_nextPager]);
            connection->Exchange().SendBlock();
            return;
        }
        connection->Exchange().SendLogout();
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
        if (closed)
            return;
        closed = true;
        m_ticker.stop();
        connection->HangUp();
        connection->CloseLine();
    }

    QList<QByteArray> m_pagers;
    bool m_bStartExchange;
    int m_nextPager = 0;
    QTimer m_ticker;
};

void ConfigureLine(const QString& type, const QString& device)
{
    QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    settings.beginWriteArray(QStringLiteral("Lines"));
    settings.setArrayIndex(0);
    settings.setValue(QStringLiteral("name"), kLineName);
    settings.setValue(QStringLiteral("type"), type);
    settings.setValue(QStringLiteral("device"), device);
    settings.endArray();
    settings.setValue(QStringLiteral("Quillpost/Modem Name"), kLineName);
    settings.sync();
}

QString StoredModemName()
{
    QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    return settings.value(QStringLiteral("Quillpost/Modem Name")).toString();
}

} // namespace

class TestModemSimulator : public QObject
{
    Q_OBJECT

private slots:
    void pageOverModem_data();
    void pageOverModem();
    void busyIsOneFailure();
    void farEndHangsUpBeforeExchange();
    void farEndHangsUpDuringExchange_data();
    void farEndHangsUpDuringExchange();
    void noModemFoundPostsNothing();
    void hangUpInDataModeLeavesCommandMode();

private:
    // Starts the simulator as a modem on a pseudo-terminal or as a TCP terminal,
    // configures the line for it and gives the access number to dial.
    QString Start(PagingSimulator& sim, bool tcp);
    // Discovers the stored modem, opens its line and dials.
    void Dial(CModemList& modems, SendingOwner& owner, const QString& number);
};

QString TestModemSimulator::Start(PagingSimulator& sim, bool tcp)
{
    if (tcp) {
        if (!sim.startTcp())
            qFatal("%s", qPrintable(sim.errorString()));
        ConfigureLine(QStringLiteral("tcp"), QString());
        return QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort());
    }
    if (!sim.startPty())
        qFatal("%s", qPrintable(sim.errorString()));
    ConfigureLine(QStringLiteral("hayes"), sim.slavePath());
    return QStringLiteral("5551234");
}

void TestModemSimulator::Dial(CModemList& modems, SendingOwner& owner, const QString& number)
{
    QCOMPARE(modems.Discover(), 0);
    QCOMPARE(modems.SelectedDevice(), 0);
    QCOMPARE(modems.DeviceName(0), kLineName);
    owner.connection = std::make_unique<CModemConnection>();
    owner.connection->OpenLine(modems, modems.SelectedDevice(), &owner);
    QVERIFY(owner.connection->IsLineOpen());
    owner.connection->PlaceCall(number);
}

void TestModemSimulator::pageOverModem_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::newRow("hayes modem on a pseudo-terminal") << false;
    QTest::newRow("tcp") << true;
}

void TestModemSimulator::pageOverModem()
{
    QFETCH(bool, tcp);
    TempSettings settingsFolder;
    PresetPrompt prompt;
    SimConfig config;
    config.logPath = QDir(settingsFolder.folder()).filePath(QStringLiteral("pages.jsonl"));
    PagingSimulator sim(config);
    const QString number = Start(sim, tcp);
    CModemList modems(StoredModemName);

    for (int call = 1; call <= 2; ++call) {
        SendingOwner owner({ "1234567", "7654321" });
        Dial(modems, owner, number);
        QTRY_COMPARE_WITH_TIMEOUT(
            owner.events, (QStringList { "connected 0", "accepted", "accepted" }), 20000);
        QVERIFY(owner.framed);
        QVERIFY(owner.closed);
        QTRY_COMPARE_WITH_TIMEOUT(sim.callEnds().size(), call, 20000);
        QCOMPARE(sim.pageCount(), 2 * call);
        const auto pages = sim.pages();
        QCOMPARE(pages[2 * call - 2].pagerId, QByteArray("1234567"));
        QCOMPARE(pages[2 * call - 1].pagerId, QByteArray("7654321"));
        QCOMPARE(pages.last().text, QByteArray("Quillpost test page"));
        QCOMPARE(pages.last().call, call);
        // The second round shows the first left the modem ready for another call.
    }
    // The terminal wrote what it accepted to its log.
    QFile log(config.logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    QCOMPARE(logged.count("1234567"), 2);
    QCOMPARE(logged.count("Quillpost test page"), 4);
    if (!tcp) {
        const QByteArray heard = sim.received();
        QVERIFY(heard.startsWith("ATZ\r"));
        QCOMPARE(heard.count("ATDT5551234\r"), 2);
    }
    QVERIFY(prompt.shown.isEmpty());
}

void TestModemSimulator::busyIsOneFailure()
{
    TempSettings settingsFolder;
    PresetPrompt prompt;
    SimConfig config;
    config.faults.busy = true;
    PagingSimulator sim(config);
    const QString number = Start(sim, false);
    CModemList modems(StoredModemName);
    SendingOwner owner({ "1234567" });
    Dial(modems, owner, number);
    QTRY_COMPARE_WITH_TIMEOUT(owner.events, QStringList { "failed 0 64" }, 20000);
    QTest::qWait(1500);
    QCOMPARE(owner.events, QStringList { "failed 0 64" });
    QCOMPARE(sim.received().count("ATDT"), 1);
    QCOMPARE(sim.callCount(), 0);
}

void TestModemSimulator::farEndHangsUpBeforeExchange()
{
    TempSettings settingsFolder;
    PresetPrompt prompt;
    SimConfig config;
    config.idleTimeoutMs = 300;
    PagingSimulator sim(config);
    const QString number = Start(sim, false);
    CModemList modems(StoredModemName);
    // The owner never starts the exchange; the terminal gives up on the silent caller.
    SendingOwner owner({ "1234567" }, false);
    Dial(modems, owner, number);
    QTRY_COMPARE_WITH_TIMEOUT(owner.events, (QStringList { "connected 0", "failed 0 0" }), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.callEnds().size(), 1, 20000);
    QCOMPARE(sim.callEnds().first().how, CallEnd::IdleTimeout);
    QCOMPARE(sim.pageCount(), 0);
}

void TestModemSimulator::farEndHangsUpDuringExchange_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::newRow("hayes modem on a pseudo-terminal") << false;
    QTest::newRow("tcp") << true;
}

void TestModemSimulator::farEndHangsUpDuringExchange()
{
    QFETCH(bool, tcp);
    TempSettings settingsFolder;
    PresetPrompt prompt;
    SimConfig config;
    config.faults.dropLineAfterBlock = 1;
    PagingSimulator sim(config);
    const QString number = Start(sim, tcp);
    CModemList modems(StoredModemName);
    SendingOwner owner({ "1234567", "7654321" });
    Dial(modems, owner, number);
    QTRY_COMPARE_WITH_TIMEOUT(
        owner.events, (QStringList { "connected 0", "accepted", "failed 0 64" }), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.callEnds().size(), 1, 20000);
    QCOMPARE(sim.callEnds().first().how, CallEnd::DroppedByFault);
    QCOMPARE(sim.pageCount(), 1);
}

void TestModemSimulator::noModemFoundPostsNothing()
{
    TempSettings settingsFolder;
    PresetPrompt prompt;
    PagingSimulator sim;
    const QString number = Start(sim, false);
    CModemList modems([] { return QStringLiteral("Some other modem"); });
    QCOMPARE(modems.Discover(), 0);
    QCOMPARE(modems.SelectedDevice(), CModemList::kNoDevice);
    QCOMPARE(prompt.shown,
        QStringList { QStringLiteral("Cannot find designated modem - please set the modem name") });
    SendingOwner owner({ "1234567" });
    owner.connection = std::make_unique<CModemConnection>();
    QCOMPARE(owner.connection->OpenLine(modems, modems.SelectedDevice(), &owner), 0);
    owner.connection->PlaceCall(number);
    QTest::qWait(CModemConnection::kRedialDelayMs + 500);
    QVERIFY(owner.events.isEmpty());
    QVERIFY(sim.received().isEmpty());
}

void TestModemSimulator::hangUpInDataModeLeavesCommandMode()
{
    TempSettings settingsFolder;
    PresetPrompt prompt;
    PagingSimulator sim;
    const QString number = Start(sim, false);
    CModemList modems(StoredModemName);
    {
        // Connected, and closed before any exchange (as on the owner's time-out).
        SendingOwner owner({ "1234567" }, false);
        Dial(modems, owner, number);
        QTRY_COMPARE_WITH_TIMEOUT(owner.events, QStringList { "connected 0" }, 20000);
        owner.connection->HangUp();
        owner.connection->CloseLine();
        QTRY_COMPARE_WITH_TIMEOUT(sim.callEnds().size(), 1, 20000);
        QCOMPARE(sim.callEnds().first().how, CallEnd::CallerHungUp);
    }
    // The modem was escaped to command mode and hung up: the next call connects.
    QVERIFY(sim.received().contains("+++"));
    QVERIFY(sim.received().contains("ATH\r"));
    SendingOwner owner({ "1234567" });
    Dial(modems, owner, number);
    QTRY_COMPARE_WITH_TIMEOUT(owner.events, (QStringList { "connected 0", "accepted" }), 20000);
    QCOMPARE(sim.pageCount(), 1);
}

QTEST_GUILESS_MAIN(TestModemSimulator)
#include "TestModemSimulator.moc"
