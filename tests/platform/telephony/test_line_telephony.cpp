// The machine's line devices: configured lines and serial ports, Hayes modems on a
// scripted pseudo-terminal (each kind of verdict of a dial, a call offered and answered, a
// drop while dialling, a line that closes mid-dialogue, a call in data mode), direct
// links and TAP over TCP; and the port a call hands over: its framing, and writes once
// the far end has gone.
#include "TempSettings.h"
#include "platform/telephony/DialString.h"
#include "platform/telephony/LineTelephony.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <atomic>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray kCloseLine = "<close>";
using Responder = std::function<QByteArray(const QByteArray& line)>;

// A modem that says what the test wants: the master side of a pseudo-terminal, served
// by the test's event loop, that answers each command line with what the responder
// gives ("" for nothing, kCloseLine to close its side). It covers the replies the
// paging simulator does not give.
class ScriptedModem
{
public:
    explicit ScriptedModem(Responder responder)
    {
        termios raw = {};
        cfmakeraw(&raw);
        char name[256] = {};
        if (openpty(&m_master, &m_slaveKeeper, name, &raw, nullptr) != 0)
            qFatal("no pseudo-terminal");
        slavePath = QString::fromLocal8Bit(name);
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this, responder] {
            char buffer[256];
            const ssize_t count = std::max<ssize_t>(read(m_master, buffer, sizeof buffer), 0);
            received.append(buffer, count);
            m_pending.append(buffer, count);
            for (qsizetype end = 0; (end = m_pending.indexOf('\r')) >= 0;
                 m_pending.remove(0, end + 1)) {
                lines << QString::fromLatin1(m_pending.left(end));
                const QByteArray reply = responder(m_pending.left(end));
                if (reply == kCloseLine)
                    return closeLine();
                if (!reply.isEmpty())
                    send("\r\n" + reply + "\r\n");
            }
        });
    }
    ~ScriptedModem() { closeLine(); }
    void send(const QByteArray& bytes)
    {
        if (write(m_master, bytes.constData(), size_t(bytes.size())) != bytes.size())
            qWarning("the scripted modem could not write");
    }

    QString slavePath;
    QStringList lines; // every command line so far, without its CR
    QByteArray received; // every byte, data included

private:
    // Also called from inside the notifier's own signal, so the notifier is only
    // switched off here.
    void closeLine()
    {
        m_notifier->setEnabled(false);
        for (int* fd : { &m_master, &m_slaveKeeper })
            if (*fd >= 0)
                close(std::exchange(*fd, -1));
    }

    int m_master = -1;
    int m_slaveKeeper = -1;
    QByteArray m_pending;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

QStringList CallState(std::uint32_t state, CallHandle call)
{
    return { QStringLiteral("call %1 %2").arg(state, 0, 16).arg(call) };
}

// A line device of the kind on the scripted modem's terminal, open on a fresh line
// interface, with what it told the program (as text) and whether anything came on
// another thread than the test's.
struct OpenLine
{
    explicit OpenLine(Responder responder, LineDevice::Kind kind = LineDevice::Kind::Hayes,
        const QString& otherPath = {})
        : modem(std::move(responder))
        , telephony([kind, path = otherPath.isEmpty() ? modem.slavePath : otherPath] {
            return QList { LineDevice { "Scripted", kind, path, "ATZ", 9600, 3000 } };
        })
    {
        std::uint32_t count = 0;
        telephony.lineInitialize(&app, &Callback, &count);
        telephony.lineNegotiateAPIVersion(app, 0, 0, 0xFFFFFFFF, &version, nullptr);
        telephony.lineOpen(app, 0, &line, version, 0, reinterpret_cast<std::uintptr_t>(this),
            LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
    }
    static void Callback(std::uint32_t hDevice, std::uint32_t message, std::uintptr_t instance,
        std::uintptr_t param1, std::uintptr_t, std::uintptr_t)
    {
        auto* open = reinterpret_cast<OpenLine*>(instance);
        open->offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        const char* kind = message == LINE_CALLSTATE ? "call" : "line";
        open->events << QStringLiteral("%1 %2 %3").arg(kind).arg(param1, 0, 16).arg(hDevice);
    }
    CallHandle Dial(const QString& number = QStringLiteral("5551234"))
    {
        CallHandle call = 0;
        return telephony.lineMakeCall(line, &call, number, 0) == 0 ? call : 0;
    }
    std::int32_t GetPort(CallHandle call, std::unique_ptr<CCommPort>* port,
        const QString& deviceClass = kDataModemClass)
    {
        return telephony.lineGetID(line, 0, call, LINECALLSELECT_CALL, port, deviceClass);
    }

    ScriptedModem modem;
    CLineTelephony telephony;
    QStringList events;
    bool offThread = false;
    LineAppHandle app = 0;
    std::uint32_t version = 0;
    LineHandle line = 0;
};

} // namespace

class TestLineTelephony : public QObject
{
    Q_OBJECT

private slots:
    void configuredLines()
    {
        TempSettings folder;
        QSettings settings("Northmoor", "Quillpost");
        // Each line as name, type, device, init and speed; a null value is left unset.
        const auto writeLines = [&settings](int first, const QList<QStringList>& lines) {
            const char* keys[] = { "name", "type", "device", "init", "speed" };
            settings.beginWriteArray("Lines");
            for (int i = 0; i < lines.size(); ++i) {
                settings.setArrayIndex(first + i);
                for (int key = 0; key < lines[i].size(); ++key)
                    if (!lines[i][key].isNull())
                        settings.setValue(keys[key], lines[i][key]);
            }
            settings.endArray();
            settings.sync();
        };
        const QList<QStringList> lines { { "Office modem", "hayes", "/dev/null" },
            { "", "hayes", "/dev/null" }, { "Encoder", "DIRECT", "/dev/zero", {}, "1200" },
            { "Pigeon", "carrier-pigeon", "/dev/null" }, { "Provider over TCP", "tcp", "", "AT&F" },
            { "Bad speed", "hayes", "/dev/null", {}, "fast" } };
        writeLines(0, lines);
        for (int warning = 0; warning < 4; ++warning) // lines 2 and 4 are left out on each load
            QTest::ignoreMessage(QtWarningMsg,
                QRegularExpression(warning % 2 ? "Line 4 .*left out.*carrier-pigeon"
                                               : "Line 2 in the settings is left out"));

        // Each configured line as name, kind, device, init and speed; then every serial port
        // of the machine, driven as a modem. A speed that is no number cannot be set: the
        // call on it fails rather than running at a guessed speed.
        const QList<LineDevice> devices = LoadLineDevices();
        QStringList seen;
        for (const LineDevice& device : devices)
            seen << QStringLiteral("%1|%2|%3|%4|%5")
                        .arg(device.name, QString::number(int(device.kind)), device.device,
                            device.init, QString::number(device.speed));
        QCOMPARE(seen.mid(0, 4),
            (QStringList { "Office modem|0|/dev/null|ATZ|9600", "Encoder|1|/dev/zero|ATZ|1200",
                "Provider over TCP|2||AT&F|9600", "Bad speed|0|/dev/null|ATZ|0" }));
        const QList<LineDevice> ports = devices.mid(4);
        for (const LineDevice& port : ports) {
            struct stat status = {};
            QVERIFY2(stat(QFile::encodeName(port.device).constData(), &status) == 0
                    && S_ISCHR(status.st_mode) && port.kind == LineDevice::Kind::Hayes,
                qPrintable(port.device));
        }
        if (ports.isEmpty())
            QSKIP("no serial port here for a configured line to take over");

        // A configured line on a serial port, reached through a link, takes the port's place.
        const QString link = QDir(folder.folder()).filePath("ttyLinked");
        QVERIFY(QFile::link(ports.first().device, link));
        writeLines(int(lines.size()), { { "Linked modem", {}, link } });
        const QList<LineDevice> again = LoadLineDevices();
        QCOMPARE(again.size(), devices.size());
        QCOMPARE(again.at(4).device, link);
        for (const LineDevice& port : again.mid(5))
            QVERIFY(port.device != ports.first().device);
    }

    void dialResults_data()
    {
        QTest::addColumn<LineDevice::Kind>("kind");
        QTest::addColumn<QString>("number"); // for TCP, "listening": a port something listens on
        QTest::addColumn<QByteArray>("initReply");
        QTest::addColumn<QByteArray>("dialReply");
        QTest::addColumn<std::uint32_t>("state");
        QTest::addColumn<bool>("dialled");
        QTest::addColumn<QString>("logged"); // the warning that gives the reason of a failure
        // What kept this side from placing the call ("%1": the device's path); none when the
        // far end or the line did.
        QTest::addColumn<QString>("fault");
        const auto row
            = [](const QByteArray& name, const char* init, const QByteArray& dial,
                  std::uint32_t state, bool dialled = true, const QString& number = "9,5551234",
                  LineDevice::Kind kind = LineDevice::Kind::Hayes, const QString& logged = {},
                  const QString& fault = {}) {
                  QTest::newRow(name.constData()) << kind << number << QByteArray(init) << dial
                                                  << state << dialled << logged << fault;
              };
        const std::uint32_t connected = LINECALLSTATE_CONNECTED;
        const std::uint32_t disconnected = LINECALLSTATE_DISCONNECTED;
        row("connect", "OK", "CONNECT 9600", connected);
        row("busy", "OK", "BUSY", LINECALLSTATE_BUSY);
        row("no carrier", "OK", "NO CARRIER", disconnected);
        row("no verdict in time", "OK", "", disconnected);
        // Numeric result codes: 0 OK, 1 CONNECT.
        row("numeric connect", "0", "1", connected);
        row("the line closes while dialling", "OK", kCloseLine, disconnected);
        const auto hayes = LineDevice::Kind::Hayes;
        const QString modem
            = QStringLiteral("The modem \"Scripted\" does not answer its commands: ");
        row("init refused", "ERROR", "", disconnected, false, "9,5551234", hayes,
            "answered with ERROR$", modem + "ATZ was answered with ERROR");
        row("silent modem", "", "", disconnected, false, "9,5551234", hayes, "no reply to ATZ",
            modem + "no reply to ATZ within 5 seconds");
        // A CR would end the dial command and start another: nothing is dialled, and the
        // number is this side's fault. (What a dial string may hold: dialStrings.)
        row("number with a CR", "OK", "CONNECT", disconnected, false, "555\rATZ", hayes,
            "the access number holds U\\+000D",
            "The line device \"Scripted\" cannot place a call: the access number holds U+000D, "
            "which cannot be dialled");
        // Lines without a modem: nothing is sent to their device, which would answer anything.
        const auto direct = LineDevice::Kind::Direct, tcp = LineDevice::Kind::Tcp;
        row("direct link: connected at once", "OK", "OK", connected, false, "5551234", direct);
        row("direct link on a device that does not exist", "", "", disconnected, false, "no device",
            direct, "^Cannot open line device .*: No such file or directory$",
            "The line device \"Scripted\" cannot be opened: %1: No such file or directory");
        row("TCP", "OK", "OK", connected, false, "listening", tcp);
        row("TCP connection refused", "OK", "OK", disconnected, false, "refused", tcp,
            "^Cannot connect to 127\\.0\\.0\\.1:\\d+: Connection refused$");
        row("TCP access number that is not host:port", "OK", "OK", disconnected, false, "5551234",
            tcp, "^The access number \"5551234\" is not host:port$");
    }

    void dialResults()
    {
        QFETCH(LineDevice::Kind, kind);
        QFETCH(QString, number);
        QFETCH(QByteArray, initReply);
        QFETCH(QByteArray, dialReply);
        QFETCH(std::uint32_t, state);
        QFETCH(bool, dialled);
        QFETCH(QString, logged);
        QFETCH(QString, fault);
        QTemporaryDir folder;
        QTcpServer listening;
        QVERIFY(listening.listen(QHostAddress::LocalHost));
        const QString local = QStringLiteral("127.0.0.1:%1").arg(listening.serverPort());
        if (number == "refused")
            listening.close();
        if (number == "listening" || number == "refused")
            number = local;
        const QString missing = QDir(folder.path()).filePath("ttyGone");
        if (!logged.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(logged));
        OpenLine open(
            [&](const QByteArray& line) {
                return line.startsWith("ATDT") ? dialReply
                    : line.startsWith("AT")    ? initReply
                                               : QByteArray();
            },
            kind, number == "no device" ? missing : QString());
        const CallHandle call = open.Dial(number);
        QVERIFY(call != 0);
        QTRY_COMPARE_WITH_TIMEOUT(open.events, CallState(state, call), 15000);
        QVERIFY(!open.offThread);
        LineCallInfo info;
        QCOMPARE(open.telephony.lineGetCallInfo(call, &info), 0);
        QCOMPARE(info.localFault, fault.replace("%1", missing));
        QCOMPARE(info.disconnectMode, fault.isEmpty() ? 0 : LINEDISCONNECTMODE_LOCALFAULT);
        QCOMPARE(open.modem.lines.mid(0, 1),
            kind == LineDevice::Kind::Hayes ? QStringList { "ATZ" } : QStringList());
        QCOMPARE(open.modem.lines.filter(QRegularExpression("^ATD")),
            dialled ? QStringList { "ATDT" + number } : QStringList());
        std::unique_ptr<CCommPort> port; // handed over for a connected call only
        QCOMPARE(open.GetPort(call, &port) == 0, state == LINECALLSTATE_CONNECTED);
        port.reset();
        // The call cannot be released while it is up; dropping ends it.
        if (state != LINECALLSTATE_DISCONNECTED)
            QCOMPARE(open.telephony.lineDeallocateCall(call), LINEERR_INVALCALLSTATE);
        QCOMPARE(open.telephony.lineDrop(call), 0);
        QCOMPARE(open.telephony.lineDeallocateCall(call), 0);
        QCOMPARE(open.telephony.lineDeallocateCall(call), LINEERR_INVALCALLHANDLE);
    }

    void dialStrings_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("dialled");
        QTest::addColumn<QString>("refused"); // as the operator is told of it
        const auto row = [](const char* name, const QString& number, const QString& dialled,
                             const QString& refused = {}) {
            QTest::newRow(name) << number << dialled << refused;
        };
        row("digits and every dial modifier", "0123456789*#,WPT!@", "0123456789*#,WPT!@");
        row("w p t upper-cased", "9w555p1t2", "9W555P1T2");
        row("separators left out", "(555) 123-4567.8", "55512345678");
        row("nothing but separators", " -() ", "");
        row("a second command", "5551234;ATH", "", "\";\"");
        row("a CR", "555\rATZ", "", "U+000D");
        row("a letter other than W P T", "555A", "", "\"A\"");
        row("a tab", "555\t1", "", "U+0009");
        row("an accented letter", "555\u00e9", "", "\"\u00e9\"");
        row("a character beyond 16 bits", "5\U0001F4DF", "", "\"\U0001F4DF\"");
    }

    // What follows ATDT: a number with anything else is refused whole, never cleaned up.
    void dialStrings()
    {
        QFETCH(QString, number);
        QFETCH(QString, dialled);
        QFETCH(QString, refused);
        const DialString dial = ReadDialString(number);
        QCOMPARE(dial.dialled, dialled);
        QCOMPARE(dial.refused.isEmpty() ? QString() : DialCharacterName(dial.refused), refused);
    }

    void offeredCallAnswered_data()
    {
        QTest::addColumn<bool>("ringsAtInit");
        QTest::newRow("RING instead of the dial's verdict") << false;
        QTest::newRow("RING before the dial") << true;
    }

    // The modem offers a call: it is reported as ringing on the call's handle, and
    // answering it there makes the modem pick up and the call connect.
    void offeredCallAnswered()
    {
        QFETCH(bool, ringsAtInit);
        OpenLine open([ringsAtInit](const QByteArray& line) {
            if (line == "ATA")
                return QByteArray("CONNECT 2400");
            return line.startsWith("ATDT") || ringsAtInit ? QByteArray("RING") : QByteArray("OK");
        });
        const CallHandle call = open.Dial();
        QCOMPARE(open.telephony.lineAnswer(call), LINEERR_INVALCALLSTATE); // nothing offered yet
        const QStringList ringing { QStringLiteral("line 2 %1").arg(call) };
        QTRY_COMPARE_WITH_TIMEOUT(open.events, ringing, 15000);
        QCOMPARE(open.telephony.lineAnswer(call), 0);
        QTRY_COMPARE_WITH_TIMEOUT(
            open.events, ringing + CallState(LINECALLSTATE_CONNECTED, call), 15000);
        QCOMPARE(open.modem.lines.last(), "ATA");
        QCOMPARE(open.modem.lines.filter("ATDT").size(), ringsAtInit ? 0 : 1);
    }

    // A line carries one call at a time; a call dropped while the modem dials ends the dial
    // with a character and goes idle without any other verdict.
    void dropWhileDiallingOnABusyLine()
    {
        OpenLine open([](const QByteArray& line) { return line.startsWith("ATDT") ? "" : "OK"; });
        const CallHandle call = open.Dial();
        CallHandle second = 0;
        QCOMPARE(
            open.telephony.lineMakeCall(open.line, &second, "5550000", 0), LINEERR_RESOURCEUNAVAIL);
        QTRY_VERIFY_WITH_TIMEOUT(open.modem.lines.contains("ATDT5551234"), 15000);
        QCOMPARE(open.telephony.lineDrop(call), 0);
        QTRY_COMPARE_WITH_TIMEOUT(open.events, CallState(LINECALLSTATE_IDLE, call), 15000);
        QCOMPARE(open.modem.lines.last(), "ATH");
        QVERIFY(open.Dial() != 0); // the line is free again
    }

    void dataModeCall_data()
    {
        QTest::addColumn<bool>("carrierLost");
        QTest::newRow("hung up by the program: escape, then ATH") << false;
        QTest::newRow("carrier lost, the modem's result split over two reads") << true;
    }

    void dataModeCall()
    {
        QFETCH(bool, carrierLost);
        OpenLine open(
            [](const QByteArray& line) { return line.startsWith("ATDT") ? "CONNECT" : "OK"; });
        const CallHandle call = open.Dial();
        std::unique_ptr<CCommPort> port;
        // Nothing to hand over before the call connects, nor for another device class.
        QCOMPARE(open.GetPort(call, &port), LINEERR_INVALCALLSTATE);
        QTRY_COMPARE_WITH_TIMEOUT(open.events, CallState(LINECALLSTATE_CONNECTED, call), 10000);
        QCOMPARE(open.GetPort(call, &port, "comm/voice"), LINEERR_INVALDEVICECLASS);
        QCOMPARE(open.GetPort(call, &port), 0);
        QVERIFY(port && port->IsTerminal());
        port->Write("DATA", 4);
        QTRY_VERIFY_WITH_TIMEOUT(open.modem.received.endsWith("DATA"), 5000);
        const QByteArray reply = carrierLost ? "ID=\r\nNO CAR" : "REPLY";
        open.modem.send(reply);
        char buffer[64];
        const CCommPort::ReadResult read = port->Read(buffer, sizeof buffer, 5000);
        QCOMPARE(QByteArray(buffer, read.count), reply);
        if (carrierLost) {
            // Half of the result is not yet its end: the call is still up once all that is
            // queued has run.
            for (int round = 0; round < 5; ++round)
                QCoreApplication::sendPostedEvents();
            QCOMPARE(open.events.size(), 1);
            open.modem.send("RIER\r\n");
            QCOMPARE(port->Read(buffer, sizeof buffer, 5000).status, CCommPort::ReadStatus::Data);
            QTRY_COMPARE_WITH_TIMEOUT(
                open.events.last(), CallState(LINECALLSTATE_DISCONNECTED, call).first(), 5000);
        }
        // The program closes its handle; the line's own hang-up still reaches the modem, with
        // the escape only while the modem is in data mode.
        port.reset();
        QCOMPARE(open.telephony.lineDrop(call), 0);
        QTRY_COMPARE_WITH_TIMEOUT(
            open.events.last(), CallState(LINECALLSTATE_IDLE, call).first(), 10000);
        QCOMPARE(open.modem.received.contains("+++"), !carrierLost);
        QVERIFY(carrierLost || open.modem.lines.last().endsWith("ATH"));
    }

    // The far end of a TCP call goes away: writing on the call's port reports the shortfall,
    // and no SIGPIPE is raised. The signal is held back on this thread meanwhile, so that one
    // raised shows as pending instead of ending the test program.
    void writeAfterPeerGone()
    {
        QTcpServer farEnd;
        QVERIFY(farEnd.listen(QHostAddress::LocalHost));
        OpenLine open([](const QByteArray&) { return QByteArray(); }, LineDevice::Kind::Tcp);
        const CallHandle call = open.Dial(QStringLiteral("127.0.0.1:%1").arg(farEnd.serverPort()));
        QTRY_COMPARE_WITH_TIMEOUT(open.events, CallState(LINECALLSTATE_CONNECTED, call), 15000);
        std::unique_ptr<CCommPort> port;
        QCOMPARE(open.GetPort(call, &port), 0);
        QTRY_VERIFY_WITH_TIMEOUT(farEnd.hasPendingConnections(), 15000);
        std::unique_ptr<QTcpSocket>(farEnd.nextPendingConnection())->close();
        sigset_t pipeSignal, previous, pending;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        QVERIFY(pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous) == 0);
        // TCP learns that the peer has gone only from the answer to a first write.
        const QByteArray block(4096, 'x');
        int written = int(block.size());
        for (int attempt = 0; attempt < 50 && written == block.size(); ++attempt)
            written = port->Write(block.constData(), int(block.size()), 200);
        sigpending(&pending);
        const bool raised = sigismember(&pending, SIGPIPE) == 1;
        if (int taken = 0; raised)
            sigwait(&pipeSignal, &taken); // taken here, it cannot end the program when let through
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        QVERIFY(!raised);
        QVERIFY(written < block.size());
    }

    // A peer that writes faster than a purge reads cannot keep the purge going for ever; it
    // discards a bounded amount and leaves the rest.
    void purgeAgainstAFloodingPeer()
    {
        int pair[2] = { -1, -1 };
        QVERIFY(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) == 0);
        const auto closePeer = qScopeGuard([&pair] { close(pair[1]); });
        CCommPort port(pair[0]);
        std::atomic<bool> flooding { true };
        std::thread flood([&] {
            const QByteArray noise(16384, 'x');
            while (flooding) {
                if (send(pair[1], noise.constData(), size_t(noise.size()), MSG_NOSIGNAL) < 0) {
                    pollfd room { pair[1], POLLOUT, 0 };
                    poll(&room, 1, 10);
                }
            }
        });
        const auto unread = [&port] {
            int count = 0;
            return ioctl(port.Handle(), FIONREAD, &count) == 0 ? std::size_t(count) : 0;
        };
        const std::size_t most = CCommPort::kMostPurgedBytes;
        QTRY_VERIFY_WITH_TIMEOUT(unread() > 2 * most, 15000);
        QVERIFY(port.Purge());
        flooding = false;
        flood.join();
        QVERIFY(unread() > 0);
    }

    void framingOfEveryCombination_data()
    {
        QTest::addColumn<QByteArray>("mode"); // as a provider's settings make it
        QTest::addColumn<uint>("flags"); // the parity, size and stop bits the port is to get
        const std::pair<char, tcflag_t> parities[] = { { 'N', 0 }, { 'E', PARENB },
            { 'O', PARENB | PARODD }, { 'M', PARENB | PARODD | CMSPAR }, { 'S', PARENB | CMSPAR } };
        const tcflag_t sizes[] = { CS5, CS6, CS7, CS8 };
        for (const auto& [letter, parity] : parities)
            for (int data = 5; data <= 8; ++data)
                for (int stop = 1; stop <= 2; ++stop)
                    QTest::newRow(FormatCommMode(letter, data, stop).constData())
                        << FormatCommMode(letter, data, stop)
                        << uint(parity | sizes[data - 5] | (stop == 2 ? CSTOPB : 0));
    }

    void framingOfEveryCombination()
    {
        QFETCH(QByteArray, mode);
        QFETCH(uint, flags);
        const std::optional<CommFraming> framing = ParseCommMode(mode);
        QVERIFY(framing);
        // A port at 1200 baud with odd parity, two stop bits and hardware flow control gets
        // the framing asked for and no flow control; the speed and everything else stay.
        termios settings = {};
        cfmakeraw(&settings);
        settings.c_cflag |= CREAD | CLOCAL | CRTSCTS | PARENB | PARODD | CSTOPB;
        cfsetspeed(&settings, B1200);
        termios expected = settings;
        expected.c_cflag &= ~(PARENB | PARODD | CMSPAR | CSIZE | CSTOPB | CRTSCTS);
        expected.c_cflag |= flags;
        QVERIFY(ApplyFraming(settings, *framing));
        const auto fields = [](const termios& t) {
            return std::tuple(
                t.c_cflag, t.c_iflag, t.c_oflag, t.c_lflag, cfgetispeed(&t), cfgetospeed(&t));
        };
        QCOMPARE(fields(settings), fields(expected));
    }

    // Mode texts no port can take.
    void framingRefused()
    {
        const QByteArrayList refused { "parity=X data=8 stop=1", FormatCommMode('\0', 8, 1),
            "parity=N data=4 stop=1", "parity=N data=9 stop=1", "parity=N data=8 stop=3",
            "parity=N data=8 stop=1.5", "parity=N baud=9600" };
        for (const QByteArray& mode : refused)
            QVERIFY2(!ParseCommMode(mode), mode.constData());
    }

    void framingAppliedToTerminal()
    {
        int master = -1;
        int slave = -1;
        termios start = {};
        cfmakeraw(&start);
        start.c_cflag |= CRTSCTS;
        cfsetspeed(&start, B2400);
        QVERIFY(openpty(&master, &slave, nullptr, &start, nullptr) == 0);
        const auto closeMaster = qScopeGuard([master] { close(master); });
        QVERIFY(tcgetattr(slave, &start) == 0);
        CCommPort port(slave);
        QVERIFY(port.IsTerminal());

        // A refused framing leaves the terminal as it was.
        QVERIFY(!port.SetMode(FormatCommMode('Q', 8, 1)));
        QVERIFY(!port.AppliedSettings());
        termios now = {};
        QVERIFY(tcgetattr(port.Handle(), &now) == 0);
        QCOMPARE(now.c_cflag, start.c_cflag);

        // A pseudo-terminal carries neither parity nor 7-bit characters (it ignores or
        // refuses them, by kernel), so 8 bits with 2 stop bits is what it can show;
        // every other combination is checked on the computed settings.
        QVERIFY(port.SetMode("parity=N data=8 stop=2"));
        const std::optional<termios> applied = port.AppliedSettings();
        QVERIFY(applied);
        QCOMPARE(applied->c_cflag & (PARENB | PARODD | CMSPAR | CSIZE | CSTOPB | CRTSCTS),
            tcflag_t(CS8 | CSTOPB));
        QVERIFY(tcgetattr(port.Handle(), &now) == 0);
        QCOMPARE(std::pair(now.c_cflag & (CSTOPB | CRTSCTS), cfgetospeed(&now)),
            std::pair(tcflag_t(CSTOPB), speed_t(B2400)));
    }
};

QTEST_GUILESS_MAIN(TestLineTelephony)
#include "test_line_telephony.moc"
