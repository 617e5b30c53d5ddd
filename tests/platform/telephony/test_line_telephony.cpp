// The machine's line devices: configured lines and serial ports, Hayes modems on a
// scripted pseudo-terminal (the verdicts of a dial, a call offered and answered, a drop
// while dialling, a call in data mode and its port's framing), direct links and TAP over
// TCP; the framing a provider asks for.
#include "TempSettings.h"
#include "platform/telephony/DialString.h"
#include "platform/telephony/LineTelephony.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QSocketNotifier>
#include <QTest>
#include <QThread>
#include <pty.h>
#include <unistd.h>

namespace {

QString CallState(std::uint32_t state, CallHandle call)
{
    return QStringLiteral("call %1 %2").arg(state, 0, 16).arg(call);
}

// A line device of the given kind, open on a fresh line interface, with what it told the
// program (as text) and whether anything came on another thread than the test's. Its
// device is a modem that says what the test wants: the master side of a pseudo-terminal,
// served by the test's event loop, that answers each command line with what the
// responder gives ("" for nothing).
struct OpenLine
{
    explicit OpenLine(std::function<QByteArray(const QByteArray& line)> responder,
        LineDevice::Kind kind = LineDevice::Kind::Hayes)
    {
        termios raw = {};
        cfmakeraw(&raw);
        char name[256] = {};
        if (openpty(&m_master, &m_slaveKeeper, name, &raw, nullptr) != 0)
            qFatal("no pseudo-terminal");
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
            [this, responder, pending = QByteArray()]() mutable {
                char buffer[256];
                const ssize_t count = std::max<ssize_t>(read(m_master, buffer, sizeof buffer), 0);
                pending.append(buffer, count);
                for (qsizetype end = 0; (end = pending.indexOf('\r')) >= 0;
                     pending.remove(0, end + 1)) {
                    lines << QString::fromLatin1(pending.left(end));
                    if (const QByteArray reply = responder(pending.left(end)); !reply.isEmpty())
                        Send("\r\n" + reply + "\r\n");
                }
            });
        telephony = std::make_unique<CLineTelephony>([kind, path = QString::fromLocal8Bit(name)] {
            return QList { LineDevice { "Scripted", kind, path, "ATZ", 9600, 3000 } };
        });
        LineAppHandle app = 0;
        std::uint32_t count = 0, version = 0;
        telephony->lineInitialize(&app, &Callback, &count);
        telephony->lineNegotiateAPIVersion(app, 0, 0, 0xFFFFFFFF, &version, nullptr);
        telephony->lineOpen(app, 0, &line, version, 0, reinterpret_cast<std::uintptr_t>(this),
            LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
    }
    ~OpenLine()
    {
        telephony.reset(); // before its device
        m_notifier.reset();
        close(m_master);
        close(m_slaveKeeper);
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
        return telephony->lineMakeCall(line, &call, number, 0) == 0 ? call : 0;
    }
    // The call's data handle, if the line interface hands one over.
    std::unique_ptr<CCommPort> Port(CallHandle call)
    {
        std::unique_ptr<CCommPort> port;
        telephony->lineGetID(line, 0, call, LINECALLSELECT_CALL, &port, kDataModemClass);
        return port;
    }
    // What the modem says on its own.
    void Send(const QByteArray& bytes)
    {
        if (write(m_master, bytes.constData(), size_t(bytes.size())) != bytes.size())
            qWarning("the scripted modem could not write");
    }

    std::unique_ptr<CLineTelephony> telephony;
    QStringList events;
    bool offThread = false;
    LineHandle line = 0;
    QStringList lines; // everything the modem got, line by line, without the CRs
    int m_master = -1;
    int m_slaveKeeper = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// One dial: the line's kind, the number, the modem's reply to ATDT (its init command is
// answered with a numeric OK), whether the call is dropped as soon as the number went out,
// the call state reached, what follows ATDT when a Hayes modem dials at all, the warning
// logged and what kept this side from placing the call (which is logged as it is).
struct DialCase
{
    LineDevice::Kind kind = LineDevice::Kind::Hayes;
    QString number = QStringLiteral("9,5551234");
    QByteArray dialReply {};
    bool dropped = false;
    std::uint32_t state = LINECALLSTATE_DISCONNECTED;
    QString dialled = QStringLiteral("9,5551234");
    QString logged {};
    QString fault {};
};

constexpr uint kRefused = ~0u; // a framing mode that is refused

} // namespace

Q_DECLARE_METATYPE(DialCase)

class TestLineTelephony : public QObject
{
    Q_OBJECT

private slots:
    void configuredLines()
    {
        TempSettings folder;
        const QList<LineDevice> ports = LoadLineDevices(); // none configured yet
        // Each line as name, type, device, init and speed; an empty value is left unset.
        QStringList lines { "Office modem|hayes|/dev/null", "|hayes|/dev/null",
            "Encoder|DIRECT|/dev/zero||1200", "Pigeon|carrier-pigeon|/dev/null",
            "Bad speed|hayes|/dev/null||fast" };
        // A configured line on a serial port, reached through a link, takes the port's place
        // rather than stand beside it.
        const QString link = QDir(folder.folder()).filePath("ttyLinked");
        if (!ports.isEmpty() && QFile::link(ports.first().device, link))
            lines << "Linked modem||" + link;
        QSettings settings("Northmoor", "Quillpost");
        const char* keys[] = { "name", "type", "device", "init", "speed" };
        settings.setValue("Lines/size", lines.size());
        for (int i = 0; i < lines.size(); ++i) {
            const QStringList values = lines[i].split('|');
            for (int key = 0; key < values.size(); ++key)
                if (!values[key].isEmpty())
                    settings.setValue(QString("Lines/%1/").arg(i + 1) + keys[key], values[key]);
        }
        for (const char* leftOut :
            { "^Line 2 in the settings is left out", "^Line 4 .*left out.*carrier-pigeon" })
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(leftOut));
        // The configured lines, then every serial port of the machine driven as a modem. A
        // speed that is no number is 0: a call on it fails rather than guess a speed.
        const QList<LineDevice> devices = LoadLineDevices();
        QStringList seen;
        for (const LineDevice& device : devices)
            seen << QStringLiteral("%1|%2|%3|%4|%5")
                        .arg(device.name, QString::number(int(device.kind)), device.device,
                            device.init, QString::number(device.speed));
        QCOMPARE(seen.mid(0, 3),
            (QStringList { "Office modem|0|/dev/null|ATZ|9600", "Encoder|1|/dev/zero|ATZ|1200",
                "Bad speed|0|/dev/null|ATZ|0" }));
        if (ports.isEmpty())
            QSKIP("no serial port here for a configured line to take over");
        QCOMPARE(devices.size(), ports.size() + 3);
        QCOMPARE(devices.at(3).device, link);
    }

    // A modem's answer and busy line, its silence and loss, and its refusals of the init
    // command are met by the sends against the simulated modem; its other verdicts, and
    // what it never does, are here.
    void dialResults_data()
    {
        QTest::addColumn<DialCase>("c");
        const auto cannotDial = [](const QString& character) {
            return "The line device \"Scripted\" cannot place a call: the access number holds "
                + character + ", which cannot be dialled";
        };
        // What follows ATDT: digits and the dial modifiers, w p t upper-cased, separators left
        // out. A number with anything else is refused whole, never cleaned up.
        QTest::newRow("a numeric CONNECT to a number cleaned for ATDT")
            << DialCase { .number = "(012) 345-6789.w p t*#,WPT!@",
                   .dialReply = "1",
                   .state = LINECALLSTATE_CONNECTED,
                   .dialled = "0123456789WPT*#,WPT!@" };
        QTest::newRow("no verdict in time: ended with ATH") << DialCase {};
        // A verdict in words or digits ends the dial with the modem in command mode already.
        QTest::newRow("NO CARRIER") << DialCase { .dialReply = "NO CARRIER" };
        QTest::newRow("NO DIAL TONE") << DialCase { .dialReply = "NO DIAL TONE" };
        QTest::newRow("7, busy") << DialCase { .dialReply = "7", .state = LINECALLSTATE_BUSY };
        QTest::newRow("dropped while dialling: ended with ATH, no verdict, the line free again")
            << DialCase { .dropped = true, .state = LINECALLSTATE_IDLE };
        // A CR would end the dial command and start another (the dispatcher refuses such a
        // number before dialling): this side's fault.
        QTest::newRow("number with a CR")
            << DialCase { .number = "555\rATZ", .fault = cannotDial("U+000D") };
        QTest::newRow("a character beyond 16 bits")
            << DialCase { .number = "5\U0001F4DF", .fault = cannotDial("\"\U0001F4DF\"") };
        // Lines without a modem: nothing is sent to their device, which would answer anything.
        QTest::newRow("direct link: connected at once")
            << DialCase { .kind = LineDevice::Kind::Direct, .state = LINECALLSTATE_CONNECTED };
        QTest::newRow("TCP access number that is not host:port")
            << DialCase { .kind = LineDevice::Kind::Tcp,
                   .number = "555",
                   .logged = "The access number \"555\" is not host:port" };
    }

    void dialResults()
    {
        QFETCH(DialCase, c);
        for (const QString& warning : { c.logged, c.fault })
            if (!warning.isEmpty())
                QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        const auto modem = [&c](const QByteArray& line) {
            return line.startsWith("ATDT") ? c.dialReply : QByteArray("0"); // a numeric OK
        };
        OpenLine open(modem, c.kind);
        const bool dials = c.kind == LineDevice::Kind::Hayes && c.fault.isEmpty();
        const CallHandle call = open.Dial(c.number);
        if (c.dropped) {
            QTRY_VERIFY_WITH_TIMEOUT(open.lines.contains("ATDT" + c.dialled), 15000);
            QCOMPARE(open.telephony->lineDrop(call), 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(open.events, QStringList { CallState(c.state, call) }, 15000);
        QVERIFY(!c.dropped || open.Dial() != 0); // a dropped call leaves the line free
        QVERIFY(!open.offThread);
        LineCallInfo info;
        QCOMPARE(open.telephony->lineGetCallInfo(call, &info), 0);
        QCOMPARE(info.localFault, c.fault);
        QCOMPARE(info.disconnectMode, c.fault.isEmpty() ? 0 : LINEDISCONNECTMODE_LOCALFAULT);
        QCOMPARE(open.lines.mid(0, 1),
            c.kind == LineDevice::Kind::Hayes ? QStringList { "ATZ" } : QStringList());
        QCOMPARE(open.lines.filter(QRegularExpression("^ATD")),
            dials ? QStringList { "ATDT" + c.dialled } : QStringList());
        // A dial without a verdict is ended with a character, the modem left in command mode.
        QCOMPARE(open.lines.endsWith("ATH"),
            dials && c.dialReply.isEmpty() && c.state != LINECALLSTATE_CONNECTED);
        // A data handle for a connected call only.
        QCOMPARE(open.Port(call) != nullptr, c.state == LINECALLSTATE_CONNECTED);
        QCOMPARE(open.telephony->lineDrop(call), 0);
        QCOMPARE(open.telephony->lineDeallocateCall(call), 0);
    }

    void dataModeCall_data()
    {
        QTest::addColumn<bool>("ringsAtInit");
        QTest::addColumn<bool>("carrierLost");
        QTest::newRow("RING instead of the dial's verdict; hung up by the program: escape, ATH")
            << false << false;
        QTest::newRow("RING before the dial; carrier lost, the result split over two reads")
            << true << true;
    }

    // The modem offers a call: it is reported as ringing on the call's handle, and
    // answering it there makes the modem pick up and the call connect, in data mode.
    void dataModeCall()
    {
        QFETCH(bool, ringsAtInit);
        QFETCH(bool, carrierLost);
        OpenLine open([ringsAtInit](const QByteArray& line) {
            if (line == "ATA")
                return QByteArray("CONNECT 2400");
            return line.startsWith("ATDT") || ringsAtInit ? QByteArray("RING") : QByteArray("OK");
        });
        const CallHandle call = open.Dial();
        const QStringList ringing { QStringLiteral("line 2 %1").arg(call) };
        QTRY_COMPARE_WITH_TIMEOUT(open.events, ringing, 15000);
        QCOMPARE(open.telephony->lineAnswer(call), 0);
        QTRY_COMPARE_WITH_TIMEOUT(
            open.events, ringing + QStringList { CallState(LINECALLSTATE_CONNECTED, call) }, 15000);
        QCOMPARE(open.lines.filter("ATDT").size(), ringsAtInit ? 0 : 1);
        std::unique_ptr<CCommPort> port = open.Port(call);
        QVERIFY(port && port->IsTerminal());
        // A framing taken reaches the terminal, at its speed.
        // (A pseudo-terminal carries neither parity nor 7-bit characters: 8N2 it can show.)
        termios before = {}, now = {};
        QVERIFY(tcgetattr(port->Handle(), &before) == 0);
        QVERIFY(port->SetMode("parity=N data=8 stop=2"));
        QVERIFY(tcgetattr(port->Handle(), &now) == 0);
        QCOMPARE(std::pair(now.c_cflag & (CSIZE | CSTOPB | CRTSCTS), cfgetospeed(&now)),
            std::pair(tcflag_t(CS8 | CSTOPB), cfgetospeed(&before)));
        // Data both ways is in every send against the simulated modem.
        if (carrierLost) {
            // Half of the result is not yet its end: the call is still up once all that is
            // queued has run.
            char buffer[64];
            open.Send("ID=\r\nNO CAR");
            QCOMPARE(port->Read(buffer, sizeof buffer, 5000).status, CCommPort::ReadStatus::Data);
            QCoreApplication::sendPostedEvents();
            QCOMPARE(open.events.size(), 2);
            open.Send("RIER\r\n");
            QCOMPARE(port->Read(buffer, sizeof buffer, 5000).status, CCommPort::ReadStatus::Data);
            QTRY_COMPARE_WITH_TIMEOUT(
                open.events.last(), CallState(LINECALLSTATE_DISCONNECTED, call), 5000);
        }
        // The program closes its handle; the line's own hang-up still reaches the modem, with
        // the escape only while the modem is in data mode.
        port.reset();
        QCOMPARE(open.telephony->lineDrop(call), 0);
        QTRY_COMPARE_WITH_TIMEOUT(open.events.last(), CallState(LINECALLSTATE_IDLE, call), 10000);
        QCOMPARE(open.lines.last(), carrierLost ? "ATA" : "+++ATH");
    }

    void framing_data()
    {
        QTest::addColumn<QByteArray>("mode"); // as a provider's settings make it
        QTest::addColumn<uint>("flags"); // the parity, size and stop bits
        // Each parity, character size and count of stop bits once.
        QTest::newRow("N 5 1") << FormatCommMode('N', 5, 1) << uint(CS5);
        QTest::newRow("E 6 2") << FormatCommMode('E', 6, 2) << uint(PARENB | CS6 | CSTOPB);
        QTest::newRow("O 7 1") << FormatCommMode('O', 7, 1) << uint(PARENB | PARODD | CS7);
        QTest::newRow("M 8 1") << FormatCommMode('M', 8, 1) << uint(PARENB | PARODD | CMSPAR | CS8);
        QTest::newRow("S 8 2") << FormatCommMode('S', 8, 2) << uint(PARENB | CMSPAR | CS8 | CSTOPB);
        for (const char* mode : { "parity=X data=8 stop=1", "parity=N data=4 stop=1",
                 "parity=N data=9 stop=1", "parity=N data=8 stop=3" })
            QTest::newRow(QByteArray("refused: ") + mode) << QByteArray(mode) << kRefused;
    }

    // A port at 1200 baud with 8O2 framing and hardware flow control gets the framing asked
    // for and no flow control; the speed and the other flags stay.
    void framing()
    {
        QFETCH(QByteArray, mode);
        QFETCH(uint, flags);
        const std::optional<CommFraming> framing = ParseCommMode(mode);
        QCOMPARE(bool(framing), flags != kRefused);
        if (!framing)
            return;
        termios settings = {};
        settings.c_cflag = CREAD | CLOCAL | CRTSCTS | PARENB | PARODD | CS8 | CSTOPB;
        cfsetspeed(&settings, B1200);
        QVERIFY(ApplyFraming(settings, *framing));
        QCOMPARE(settings.c_cflag, CREAD | CLOCAL | B1200 | flags);
    }
};

QTEST_GUILESS_MAIN(TestLineTelephony)
#include "test_line_telephony.moc"
