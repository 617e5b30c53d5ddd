#include "ScriptedModem.h"
#include "platform/telephony/LineTelephony.h"
#include "platform/telephony/ModemDialogue.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <memory>

namespace {

// What the line interface tells the program, as text, with the thread it came on.
struct EventLog
{
    QStringList events;
    bool offThread = false;

    static void Callback(std::uint32_t hDevice, std::uint32_t message, std::uintptr_t instance,
        std::uintptr_t param1, std::uintptr_t, std::uintptr_t)
    {
        auto* log = reinterpret_cast<EventLog*>(instance);
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            log->offThread = true;
        const char* kind = message == LINE_CALLSTATE ? "call" : "line";
        log->events << QStringLiteral("%1 %2 %3").arg(kind).arg(param1, 0, 16).arg(hDevice);
    }
};

QString CallState(std::uint32_t state, CallHandle call)
{
    return QStringLiteral("call %1 %2").arg(state, 0, 16).arg(call);
}

LineDevice HayesOn(const QString& path, int dialTimeoutMs = 3000)
{
    LineDevice line;
    line.name = QStringLiteral("Scripted");
    line.kind = LineDevice::Kind::Hayes;
    line.device = path;
    line.dialTimeoutMs = dialTimeoutMs;
    return line;
}

// One line device open on a fresh line interface.
struct OpenLine
{
    explicit OpenLine(const LineDevice& device)
        : telephony([device] { return QList<LineDevice> { device }; })
    {
        std::uint32_t count = 0;
        telephony.lineInitialize(&app, &EventLog::Callback, &count);
        telephony.lineNegotiateAPIVersion(app, 0, 0, 0xFFFFFFFF, &version, nullptr);
        telephony.lineOpen(app, 0, &line, version, 0, reinterpret_cast<std::uintptr_t>(&log),
            LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, nullptr);
    }
    CLineTelephony telephony;
    EventLog log;
    LineAppHandle app = 0;
    std::uint32_t version = 0;
    LineHandle line = 0;
};

} // namespace

class TestLineTelephony : public QObject
{
    Q_OBJECT

private slots:
    void modemReplies_data();
    void modemReplies();
    void dialResults_data();
    void dialResults();
    void ringingAnswered();
    void unsafeNumberNotDialled();
    void connectedCallHandsOverData();
    void noCarrierInDataMode();
    void dropDuringDialling();
    void nothingAfterLineClose();
    void directLineConnectsAtOnce();
    void tcpLine();
    void tcpRefused();
    void deviceErrors();
};

void TestLineTelephony::modemReplies_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("reply");
    QTest::newRow("OK") << QByteArray("OK") << int(ModemReply::Ok);
    QTest::newRow("OK numeric") << QByteArray("0") << int(ModemReply::Ok);
    QTest::newRow("CONNECT") << QByteArray("CONNECT") << int(ModemReply::Connect);
    QTest::newRow("CONNECT with speed")
        << QByteArray("CONNECT 9600/ARQ") << int(ModemReply::Connect);
    QTest::newRow("CONNECTED is no result") << QByteArray("CONNECTED") << int(ModemReply::None);
    QTest::newRow("BUSY") << QByteArray("BUSY") << int(ModemReply::Busy);
    QTest::newRow("NO CARRIER") << QByteArray(" NO CARRIER ") << int(ModemReply::NoCarrier);
    QTest::newRow("NO DIALTONE") << QByteArray("NO DIALTONE") << int(ModemReply::NoDialtone);
    QTest::newRow("NO DIAL TONE") << QByteArray("NO DIAL TONE") << int(ModemReply::NoDialtone);
    QTest::newRow("NO ANSWER") << QByteArray("NO ANSWER") << int(ModemReply::NoAnswer);
    QTest::newRow("ERROR") << QByteArray("ERROR") << int(ModemReply::Error);
    QTest::newRow("RING") << QByteArray("RING") << int(ModemReply::Ring);
    QTest::newRow("echo") << QByteArray("ATDT5551234") << int(ModemReply::None);
    QTest::newRow("lower case") << QByteArray("ok") << int(ModemReply::None);
}

void TestLineTelephony::modemReplies()
{
    QFETCH(QByteArray, line);
    QFETCH(int, reply);
    QCOMPARE(int(ClassifyModemReply(line)), reply);
}

void TestLineTelephony::dialResults_data()
{
    QTest::addColumn<QByteArray>("initReply");
    QTest::addColumn<QByteArray>("dialReply");
    QTest::addColumn<std::uint32_t>("state");
    QTest::addColumn<bool>("dialled");

    QTest::newRow("connect") << QByteArray("OK") << QByteArray("CONNECT 9600")
                             << LINECALLSTATE_CONNECTED << true;
    QTest::newRow("busy") << QByteArray("OK") << QByteArray("BUSY") << LINECALLSTATE_BUSY << true;
    QTest::newRow("no carrier") << QByteArray("OK") << QByteArray("NO CARRIER")
                                << LINECALLSTATE_DISCONNECTED << true;
    QTest::newRow("no dialtone") << QByteArray("OK") << QByteArray("NO DIALTONE")
                                 << LINECALLSTATE_DISCONNECTED << true;
    QTest::newRow("no answer") << QByteArray("OK") << QByteArray("NO ANSWER")
                               << LINECALLSTATE_DISCONNECTED << true;
    QTest::newRow("error") << QByteArray("OK") << QByteArray("ERROR") << LINECALLSTATE_DISCONNECTED
                           << true;
    QTest::newRow("silent after dialling")
        << QByteArray("OK") << QByteArray() << LINECALLSTATE_DISCONNECTED << true;
    QTest::newRow("init refused") << QByteArray("ERROR") << QByteArray()
                                  << LINECALLSTATE_DISCONNECTED << false;
    QTest::newRow("silent modem") << QByteArray() << QByteArray() << LINECALLSTATE_DISCONNECTED
                                  << false;
}

void TestLineTelephony::dialResults()
{
    QFETCH(QByteArray, initReply);
    QFETCH(QByteArray, dialReply);
    QFETCH(std::uint32_t, state);
    QFETCH(bool, dialled);

    ScriptedModem modem([&](const QByteArray& line) -> QByteArray {
        if (line.startsWith("ATDT"))
            return dialReply;
        return line.startsWith("AT") ? initReply : QByteArray();
    });
    QVERIFY(modem.isValid());
    OpenLine open(HayesOn(modem.slavePath(), 1000));
    CallHandle call = 0;
    QCOMPARE(
        open.telephony.lineMakeCall(open.line, &call, QStringLiteral("9,5551234"), 0, nullptr), 0);
    QTRY_COMPARE_WITH_TIMEOUT(open.log.events, QStringList { CallState(state, call) }, 15000);
    QVERIFY(!open.log.offThread);
    QCOMPARE(modem.lines().first(), QStringLiteral("ATZ"));
    QCOMPARE(modem.lines().contains(QStringLiteral("ATDT9,5551234")), dialled);
    // The call cannot be released while it is up; dropping ends it.
    if (state != LINECALLSTATE_DISCONNECTED)
        QCOMPARE(open.telephony.lineDeallocateCall(call), LINEERR_INVALCALLSTATE);
    QCOMPARE(open.telephony.lineDrop(call), 0);
    QCOMPARE(open.telephony.lineDeallocateCall(call), 0);
    QCOMPARE(open.telephony.lineDeallocateCall(call), LINEERR_INVALCALLHANDLE);
}

void TestLineTelephony::ringingAnswered()
{
    bool ringSent = false;
    ScriptedModem* modemPointer = nullptr;
    ScriptedModem modem([&](const QByteArray& line) -> QByteArray {
        if (line == "ATA")
            return "CONNECT";
        if (line.startsWith("AT") && !ringSent) {
            ringSent = true;
            return "RING";
        }
        return {};
    });
    modemPointer = &modem;
    OpenLine open(HayesOn(modem.slavePath()));
    CallHandle call = 0;
    QCOMPARE(
        open.telephony.lineMakeCall(open.line, &call, QStringLiteral("5551234"), 0, nullptr), 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        open.log.events, QStringList { QStringLiteral("line 2 %1").arg(call) }, 10000);
    QCOMPARE(open.telephony.lineAnswer(call + 1000), LINEERR_INVALCALLHANDLE);
    QCOMPARE(open.telephony.lineAnswer(call), 0);
    QTRY_COMPARE_WITH_TIMEOUT(open.log.events.size(), 2, 10000);
    QCOMPARE(open.log.events.last(), CallState(LINECALLSTATE_CONNECTED, call));
    QVERIFY(modemPointer->lines().contains(QStringLiteral("ATA")));
    QVERIFY(!modemPointer->lines().contains(QStringLiteral("ATDT5551234")));
    // A connected call cannot be answered again.
    QCOMPARE(open.telephony.lineAnswer(call), LINEERR_INVALCALLSTATE);
}

void TestLineTelephony::unsafeNumberNotDialled()
{
    ScriptedModem modem([](const QByteArray& line) -> QByteArray {
        return line.startsWith("AT") ? QByteArray("OK") : QByteArray();
    });
    OpenLine open(HayesOn(modem.slavePath()));
    CallHandle call = 0;
    QCOMPARE(
        open.telephony.lineMakeCall(open.line, &call, QStringLiteral("555\rATZ"), 0, nullptr), 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        open.log.events, QStringList { CallState(LINECALLSTATE_DISCONNECTED, call) }, 10000);
    QCOMPARE(modem.lines(), QStringList { "ATZ" });
}

void TestLineTelephony::connectedCallHandsOverData()
{
    ScriptedModem modem([](const QByteArray& line) -> QByteArray {
        if (line.startsWith("ATDT"))
            return "CONNECT";
        return line.startsWith("AT") || line.endsWith("ATH") ? QByteArray("OK") : QByteArray();
    });
    OpenLine open(HayesOn(modem.slavePath()));
    CallHandle call = 0;
    std::unique_ptr<CCommPort> port;
    QCOMPARE(
        open.telephony.lineMakeCall(open.line, &call, QStringLiteral("5551234"), 0, nullptr), 0);
    // Nothing to hand over before the call connects.
    QCOMPARE(
        open.telephony.lineGetID(open.line, 0, call, LINECALLSELECT_CALL, &port, "comm/datamodem"),
        LINEERR_INVALCALLSTATE);
    QTRY_COMPARE_WITH_TIMEOUT(
        open.log.events, QStringList { CallState(LINECALLSTATE_CONNECTED, call) }, 10000);
    QCOMPARE(open.telephony.lineGetID(open.line, 0, call, LINECALLSELECT_CALL, &port, "comm/voice"),
        LINEERR_INVALDEVICECLASS);
    QCOMPARE(
        open.telephony.lineGetID(open.line, 0, call, LINECALLSELECT_CALL, &port, "comm/datamodem"),
        0);
    QVERIFY(port && port->IsTerminal());
    port->Write("DATA", 4);
    QTRY_VERIFY_WITH_TIMEOUT(modem.received().endsWith("DATA"), 5000);
    modem.send("REPLY");
    char buffer[16];
    const CCommPort::ReadResult read = port->Read(buffer, sizeof buffer, 5000);
    QCOMPARE(QByteArray(buffer, read.count), QByteArray("REPLY"));
    // The program closes its handle; the line's own hang-up still reaches the modem.
    port.reset();
    QCOMPARE(open.telephony.lineDrop(call), 0);
    QTRY_VERIFY_WITH_TIMEOUT(modem.received().contains("+++"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(modem.lines().last().endsWith("ATH"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(open.log.events.last(), CallState(LINECALLSTATE_IDLE, call), 10000);
}

void TestLineTelephony::noCarrierInDataMode()
{
    ScriptedModem modem([](const QByteArray& line) -> QByteArray {
        return line.startsWith("ATDT") ? QByteArray("CONNECT") : QByteArray("OK");
    });
    OpenLine open(HayesOn(modem.slavePath()));
    CallHandle call = 0;
    open.telephony.lineMakeCall(open.line, &call, QStringLiteral("5551234"), 0, nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(open.log.events.size(), 1, 10000);
    std::unique_ptr<CCommPort> port;
    QCOMPARE(
        open.telephony.lineGetID(open.line, 0, call, LINECALLSELECT_CALL, &port, "comm/datamodem"),
        0);
    // The modem's result split over two reads is still seen.
    modem.send("ID=\r\nNO CAR");
    char buffer[64];
    QCOMPARE(port->Read(buffer, sizeof buffer, 5000).status, CCommPort::ReadStatus::Data);
    QTest::qWait(100);
    QCOMPARE(open.log.events.size(), 1);
    modem.send("RIER\r\n");
    QCOMPARE(port->Read(buffer, sizeof buffer, 5000).status, CCommPort::ReadStatus::Data);
    QTRY_COMPARE_WITH_TIMEOUT(open.log.events,
        (QStringList { CallState(LINECALLSTATE_CONNECTED, call),
            CallState(LINECALLSTATE_DISCONNECTED, call) }),
        5000);
    // The modem is in command mode already: dropping sends no escape.
    open.telephony.lineDrop(call);
    QTRY_COMPARE_WITH_TIMEOUT(open.log.events.last(), CallState(LINECALLSTATE_IDLE, call), 10000);
    QVERIFY(!modem.received().contains("+++"));
}

void TestLineTelephony::dropDuringDialling()
{
    ScriptedModem modem([](const QByteArray& line) -> QByteArray {
        return line == "ATZ" || line == "ATH" ? QByteArray("OK") : QByteArray();
    });
    OpenLine open(HayesOn(modem.slavePath(), 60000));
    CallHandle call = 0;
    open.telephony.lineMakeCall(open.line, &call, QStringLiteral("5551234"), 0, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(modem.lines().contains(QStringLiteral("ATDT5551234")), 10000);
    // The dial is abandoned long before its own time-out, with the modem told so.
    QCOMPARE(open.telephony.lineDrop(call), 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        open.log.events, QStringList { CallState(LINECALLSTATE_IDLE, call) }, 10000);
    QVERIFY(modem.lines().contains(QStringLiteral("ATH")));
}

void TestLineTelephony::nothingAfterLineClose()
{
    ScriptedModem modem([](const QByteArray& line) -> QByteArray {
        return line.startsWith("ATDT") ? QByteArray("CONNECT") : QByteArray("OK");
    });
    OpenLine open(HayesOn(modem.slavePath()));
    CallHandle call = 0;
    open.telephony.lineMakeCall(open.line, &call, QStringLiteral("5551234"), 0, nullptr);
    QCOMPARE(open.telephony.lineClose(open.line), 0);
    QCOMPARE(open.telephony.lineShutdown(open.app), 0);
    QTest::qWait(1500);
    QVERIFY(open.log.events.isEmpty());
    QCOMPARE(open.telephony.lineClose(open.line), LINEERR_INVALLINEHANDLE);
    QCOMPARE(open.telephony.lineMakeCall(open.line, &call, QStringLiteral("1"), 0, nullptr),
        LINEERR_INVALLINEHANDLE);
}

void TestLineTelephony::directLineConnectsAtOnce()
{
    ScriptedModem encoder([](const QByteArray&) { return QByteArray(); });
    LineDevice direct = HayesOn(encoder.slavePath());
    direct.kind = LineDevice::Kind::Direct;
    OpenLine open(direct);
    CallHandle call = 0;
    open.telephony.lineMakeCall(open.line, &call, QStringLiteral("ignored"), 0, nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(
        open.log.events, QStringList { CallState(LINECALLSTATE_CONNECTED, call) }, 10000);
    QVERIFY(encoder.received().isEmpty());
    std::unique_ptr<CCommPort> port;
    QCOMPARE(
        open.telephony.lineGetID(open.line, 0, call, LINECALLSELECT_CALL, &port, "comm/datamodem"),
        0);
    port->Write("\r", 1);
    QTRY_COMPARE_WITH_TIMEOUT(encoder.received(), QByteArray("\r"), 5000);
}

void TestLineTelephony::tcpLine()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    LineDevice tcp;
    tcp.name = QStringLiteral("TCP");
    tcp.kind = LineDevice::Kind::Tcp;
    OpenLine open(tcp);
    CallHandle call = 0;
    open.telephony.lineMakeCall(
        open.line, &call, QStringLiteral("127.0.0.1:%1").arg(server.serverPort()), 0, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 10000);
    std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
    QTRY_COMPARE_WITH_TIMEOUT(
        open.log.events, QStringList { CallState(LINECALLSTATE_CONNECTED, call) }, 10000);
    std::unique_ptr<CCommPort> port;
    QCOMPARE(
        open.telephony.lineGetID(open.line, 0, call, LINECALLSELECT_CALL, &port, "comm/datamodem"),
        0);
    QVERIFY(port->SetMode("parity=E data=7 stop=1"));
    // The peer closing is the end of the call, seen without reading.
    peer->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(open.log.events.size(), 2, 10000);
    QCOMPARE(open.log.events.last(), CallState(LINECALLSTATE_DISCONNECTED, call));
}

void TestLineTelephony::tcpRefused()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 closedPort = server.serverPort();
    server.close();
    LineDevice tcp;
    tcp.name = QStringLiteral("TCP");
    tcp.kind = LineDevice::Kind::Tcp;
    OpenLine open(tcp);
    for (const QString& number : { QStringLiteral("127.0.0.1:%1").arg(closedPort),
             QStringLiteral("no port"), QStringLiteral("host:99999") }) {
        open.log.events.clear();
        CallHandle call = 0;
        QCOMPARE(open.telephony.lineMakeCall(open.line, &call, number, 0, nullptr), 0);
        QTRY_COMPARE_WITH_TIMEOUT(
            open.log.events, QStringList { CallState(LINECALLSTATE_DISCONNECTED, call) }, 10000);
        open.telephony.lineDrop(call);
        QTRY_COMPARE_WITH_TIMEOUT(open.log.events.size(), 2, 10000);
        QCOMPARE(open.telephony.lineDeallocateCall(call), 0);
    }
}

void TestLineTelephony::deviceErrors()
{
    LineDevice missing = HayesOn(QStringLiteral("/nonexistent/modem"));
    OpenLine open(missing);
    LineDevCaps caps;
    QCOMPARE(open.telephony.lineGetDevCaps(open.app, 0, open.version, 0, &caps), 0);
    QCOMPARE(caps.lineName, QStringLiteral("Scripted"));
    QCOMPARE(
        open.telephony.lineGetDevCaps(open.app, 1, open.version, 0, &caps), LINEERR_BADDEVICEID);
    QCOMPARE(open.telephony.lineGetDevCaps(open.app + 99, 0, open.version, 0, &caps),
        LINEERR_INVALAPPHANDLE);
    std::uint32_t version = 0;
    QCOMPARE(open.telephony.lineNegotiateAPIVersion(
                 open.app, 0, 0x00030000, 0xFFFFFFFF, &version, nullptr),
        LINEERR_INCOMPATIBLEAPIVERSION);
    CallHandle call = 0;
    QCOMPARE(open.telephony.lineMakeCall(open.line, &call, QStringLiteral("1"), 0, nullptr), 0);
    // A second call on a busy line is refused at once.
    CallHandle second = 0;
    QCOMPARE(open.telephony.lineMakeCall(open.line, &second, QStringLiteral("1"), 0, nullptr),
        LINEERR_RESOURCEUNAVAIL);
    QTRY_COMPARE_WITH_TIMEOUT(
        open.log.events, QStringList { CallState(LINECALLSTATE_DISCONNECTED, call) }, 10000);
}

QTEST_GUILESS_MAIN(TestLineTelephony)
#include "TestLineTelephony.moc"
