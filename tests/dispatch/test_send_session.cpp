// One send from the scheduler's choice to its closing, end to end against the simulated
// provider (a modem on a pseudo-terminal, or TAP over TCP): what the terminal and the
// line do to it, what each recipient's row and the send log keep, and a database held by
// another program.
#include "FakeClock.h"
#include "OneSend.h"
#include "PresetPrompt.h"
#include "SimulatedLine.h"
#include "TempSettings.h"
#include "WriteLockHolder.h"

#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <pty.h>
#include <thread>
#include <unistd.h>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;
using quillpost::sim::SimFaults;

namespace {

const QString kText = QStringLiteral("Boiler 2 pressure alarm");
// The time the fake clock shows, as a Date/Time column holds it.
const QString kNow = QStringLiteral("2026-03-10 09:00:00");
const QString kQueued = QStringLiteral("2026-03-10 08:00:00");
const QString kSentRow = "1,0," + kNow;
const QString kUntouched = "0,0," + kQueued;
const QString kFailedOnce = "0,1," + kNow;
const QString kPageSent = QStringLiteral("211 Page(s) Sent");
constexpr int kWaitMs = 30000;

const QString kMessageRow = QStringLiteral("Status || ',' || Retries || ',' || SendTime");

QString LogEntry(const char* pagerId, int outcome, const QString& terminalLine = {})
{
    return QStringLiteral("%1,%2,%3").arg(QLatin1String(pagerId)).arg(outcome).arg(terminalLine);
}

SimConfig Faults(const SimFaults& faults)
{
    SimConfig config;
    config.faults = faults;
    return config;
}

// A send as the terminal and the line take it, and what it leaves in the database.
struct Case
{
    SimConfig sim {};
    QList<int> retries {}; // of each recipient's row before the send
    QStringList rows {}; // "Status,Retries,SendTime" of each row after it
    QStringList log {}; // "PagerId,Outcome,TerminalLine" of each send log entry
    QString status {}; // the send's last status line
    int pages = 0; // the terminal accepted, each with the text `delivered`
    bool pty = false; // a modem on a pseudo-terminal, or else TCP
    int logins = 1; // how many log-ons the terminal received
    int tickMs = 100; // 2: the 1200 ticks of the time-out pass in seconds
    QString password {}; // the provider's
    QString setup {}; // SQL run on the database first
    QString modem = kSimulatedLineName; // the stored modem name
    QString told {}; // the one thing the operator is told, if anything
    QString text = kText;
    QByteArray delivered = kText.toLatin1();
    // Another program holds the database from the start of the send: 1 until a second
    // after the terminal took the page, 2 until the send has closed.
    int lock = 0;
    int sends = 1; // in a row on one modem, each finding the next due message; the last checked
    // In place of the simulator's modem: "gone", a device that does not exist; "silent", a
    // terminal nobody answers on. "refused": the simulator stopped, its port closed.
    // "unsafe number": the provider's access number holds a second modem command.
    QString line {};
    QByteArray init {}; // the modem's init command, when not the default
    QString fault {}; // what LocalFault said as the send closed; "%1": the modem's device
};

// Makes the simulated line's modem one on `device`, with `init` when given.
void ConfigureModem(const QString& device, const QByteArray& init)
{
    ConfigureSimulatedLine(QStringLiteral("hayes"), device);
    if (init.isEmpty())
        return;
    QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    settings.beginWriteArray(QStringLiteral("Lines"));
    settings.setArrayIndex(0);
    settings.setValue(QStringLiteral("init"), init);
    settings.endArray();
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestSendSession : public QObject
{
    Q_OBJECT

private slots:
    void sends_data()
    {
        QTest::addColumn<Case>("c");
        const QString sent = CSendSession::kSent, refused = CSendSession::kRefused,
                      lineFailed = CSendSession::kLineFailed, ended = CSendSession::kTerminalEnded,
                      timedOut = CSendSession::kTimedOut;
        const QStringList two { kSentRow, kSentRow };
        const QStringList twoLogged { LogEntry("1001", 1, kPageSent),
            LogEntry("1002", 1, kPageSent) };
        const QStringList oneLogged { LogEntry("1001", 1, kPageSent) };
        const auto password = [](const char* expected) {
            SimConfig config;
            config.password = expected;
            return config;
        };
        const auto refusal = QStringLiteral("CREATE TRIGGER refuse BEFORE %1 ON %2 BEGIN SELECT "
                                            "RAISE(ABORT, 'disk full'); END");

        for (bool pty : { true, false }) {
            const char* line = pty ? "pseudo-terminal" : "TCP";
            QTest::addRow("two recipients in one call, %s", line)
                << Case { {}, { 0, 0 }, two, twoLogged, sent, 2, pty };
            QTest::addRow("line drops after the first of two, %s", line)
                << Case { Faults({ .dropLineAfterBlock = 1 }), { 0, 0 }, { kSentRow, kFailedOnce },
                       { LogEntry("1001", 1, kPageSent), LogEntry("1002", 0) }, lineFailed, 1,
                       pty };
        }
        QTest::newRow("last ACK and the line loss together: one verdict")
            << Case { Faults({ .dropLineAfterBlock = 2 }), { 0, 0 }, two, twoLogged, sent, 2 };
        QTest::newRow("fourth refusal gives up") << Case { Faults({ .nakBlock = 1 }), { 3 },
            { "2,4," + kNow }, { LogEntry("1001", 2, "514 Checksum Error") }, refused };
        QTest::newRow("first of three refused, the others untouched")
            << Case { Faults({ .nakBlock = 1 }), { 0, 0, 0 },
                   { kFailedOnce, kUntouched, kUntouched },
                   { LogEntry("1001", 0, "514 Checksum Error") }, refused };
        QTest::newRow("busy counts an attempt") << Case { Faults({ .busy = true }), { 2, 0 },
            { "0,3," + kNow, kUntouched }, { LogEntry("1001", 0) }, lineFailed, 0, true, 0 };
        QTest::newRow("no answer counts an attempt") << Case { Faults({ .noAnswer = true }), { 0 },
            { kFailedOnce }, { LogEntry("1001", 0) }, lineFailed, 0, true, 0 };
        QTest::newRow("no carrier counts an attempt") << Case { Faults({ .noCarrier = true }),
            { 0 }, { kFailedOnce }, { LogEntry("1001", 0) }, lineFailed, 0, true, 0 };
        QTest::newRow("log-on refused twice, then taken") << Case { Faults({ .nakLoginTimes = 2 }),
            { 0 }, { kSentRow }, oneLogged, sent, 1, true, 3 };
        // A read may end just after a line end with the start of the go-ahead: "... CR ESC",
        // then "[p CR".
        QTest::newRow("replies in pieces of 11 bytes: the go-ahead split after its CR")
            << Case { Faults({ .chunkSize = 11 }), { 0 }, { kSentRow }, oneLogged, sent, 1, true };
        // A terminal that took the call and then failed to go on is the recipient's failed
        // attempt, as a lost line is.
        QTest::newRow("garbage: no prompt comes, the time-out counts an attempt")
            << Case { Faults({ .garbage = true }), { 0 }, { kFailedOnce }, { LogEntry("1001", 0) },
                   timedOut, 0, false, 0, 2 };
        QTest::newRow("silence: the fourth time-out gives up")
            << Case { Faults({ .silentAfterConnect = true }), { 3 }, { "2,4," + kNow },
                   { LogEntry("1001", 2) }, timedOut, 0, false, 0, 2 };
        // A line this side cannot use costs nobody an attempt, not even the one that would be
        // the last; the send closes at once and says why.
        const auto localFault = [](const QString& fault, const QString& line,
                                    const QByteArray& init = {}, const QString& stored = {}) {
            Case c { {}, { 3 }, { "0,3," + kQueued }, {}, CSendSession::kLocalFault, 0, true, 0 };
            c.modem = stored.isEmpty() ? kSimulatedLineName : stored;
            c.line = line;
            c.init = init;
            c.fault = fault;
            return c;
        };
        const QString modem = QStringLiteral("The modem \"%1\" does not answer its commands: ")
                                  .arg(kSimulatedLineName);
        QTest::newRow("no modem of the stored name")
            << localFault("No line device is named \"Other modem\"", {}, {}, "Other modem");
        QTest::newRow("the modem's device does not exist") << localFault("The line device \""
                + kSimulatedLineName + "\" cannot be opened: %1: No such file or directory",
            "gone");
        QTest::newRow("the modem refuses its init command")
            << localFault(modem + "AT&Q9 was answered with ERROR", {}, "AT&Q9");
        QTest::newRow("nobody answers the modem's init command")
            << localFault(modem + "no reply to ATZ within 5 seconds", "silent");
        QTest::newRow("an access number holding \";\": refused, not cleaned up") << localFault(
            "The access number of P1 holds \";\", which cannot be dialled", "unsafe number");
        Case noListener { {}, { 0 }, { kFailedOnce }, { LogEntry("1001", 0) }, lineFailed, 0 };
        noListener.logins = 0;
        noListener.line = "refused";
        QTest::newRow("TCP connection refused counts an attempt") << noListener;
        QTest::newRow("accented letters lose their accents, the rest becomes ?")
            << Case { {}, { 0 }, { kSentRow }, oneLogged, sent, 1, false, 1, 100, {}, {},
                   kSimulatedLineName, {}, "Caf\u00e9 \u20ac5 na\u00efve", "Cafe ?5 naive" };

        SimConfig unknown;
        unknown.unknownPagerIds = { "1001" };
        QTest::newRow("RS for the first of two, the second untouched") << Case { unknown, { 0, 0 },
            { kFailedOnce, kUntouched }, { LogEntry("1001", 0, "511 Invalid Pager ID") }, refused };
        // Refused with RS on each of four calls, then given up; the message queued behind it
        // then goes out.
        const QString invalid = LogEntry("1001", 0, "511 Invalid Pager ID");
        QTest::newRow("an unknown pager ID no longer holds up the queue")
            << Case { unknown, { 0, 0 }, { "2,4," + kNow, kSentRow },
                   { invalid, invalid, invalid, LogEntry("1001", 2, "511 Invalid Pager ID"),
                       LogEntry("1002", 1, kPageSent) },
                   sent, 1, false, 5, 100, {}, "UPDATE Messages SET MessageId = ID",
                   kSimulatedLineName, {}, kText, kText.toLatin1(), 0, 5 };
        SimConfig onePagePerCall;
        onePagePerCall.maxPagesPerCall = 1;
        onePagePerCall.hangUpDelayMs = 600000; // the program must hang up by itself
        QTest::newRow("ESC EOT mid-exchange: hung up at once, the attempt counted")
            << Case { onePagePerCall, { 0, 0 }, { kSentRow, kFailedOnce },
                   { LogEntry("1001", 1, kPageSent),
                       LogEntry("1002", 0, "512 Too Many Pages, Call Again") },
                   ended, 1 };
        SimConfig deferred;
        deferred.deferredDelivery = true;
        deferred.crLfLineEnds = true;
        QTest::newRow("213 counts as accepted, lines ended by CR LF")
            << Case { deferred, { 0 }, { kSentRow },
                   { LogEntry("1001", 1, "213 Message Accepted, Deferred Delivery") }, sent, 1 };
        QTest::newRow("the password in the log-on") << Case { password("abc1"), { 0 }, { kSentRow },
            oneLogged, sent, 1, false, 1, 100, "abc1" };
        QTest::newRow("a wrong password: the terminal ends the call, the attempt counted")
            << Case { password("abc1"), { 0 }, { kFailedOnce },
                   { LogEntry("1001", 0, "509 Invalid Password") }, ended, 0, false, 1, 100,
                   "zz9" };
        QTest::newRow("no send log yet: made with the first attempt") << Case { {}, { 0 },
            { kSentRow }, oneLogged, sent, 1, false, 1, 100, {}, "DROP TABLE SendLog" };
        QTest::newRow("the log refused: the Status recorded without it, the operator told")
            << Case { {}, { 0 }, { kSentRow }, {}, sent, 1, false, 1, 100, {},
                   refusal.arg("INSERT", "SendLog"), kSimulatedLineName,
                   "The outcome of the page to 1001 was recorded without it" };
        QTest::newRow("the Status refused: no log entry, the operator told") << Case { {}, { 0 },
            { kUntouched }, {}, sent, 1, false, 1, 100, {}, refusal.arg("UPDATE", "Messages"),
            kSimulatedLineName, "The page to 1001 was accepted by the service provider" };
        QTest::newRow("the database held a second past the page: recorded within the busy time-out")
            << Case { {}, { 0 }, { kSentRow }, oneLogged, sent, 1, true, 1, 100, {}, {},
                   kSimulatedLineName, {}, kText, kText.toLatin1(), 1 };
        QTest::newRow("the database held past every retry: the operator is told")
            << Case { {}, { 0 }, { kUntouched }, {}, sent, 1, true, 1, 100, {}, {},
                   kSimulatedLineName, "1001 was accepted", kText, kText.toLatin1(), 2 };
    }

    void sends()
    {
        QFETCH(Case, c);
        TempSettings settingsFolder;
        TempDatabase db;
        FakeClock clock(QDateTime::fromString(kNow, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        PresetPrompt prompt;
        PagingSimulator sim(c.sim);
        QueueMessage(db, StartSimulatedLine(sim, !c.pty), c.retries, c.text, kQueued);
        QTemporaryDir folder;
        int master = -1, slave = -1; // a terminal nobody answers on
        const auto closeTerminal = qScopeGuard([&] {
            for (int fd : { master, slave })
                if (fd >= 0)
                    close(fd);
        });
        QString device = sim.slavePath();
        if (c.line == "gone") {
            device = folder.filePath("ttyGone");
        } else if (c.line == "silent") {
            char name[256] = {};
            QVERIFY(openpty(&master, &slave, name, nullptr, nullptr) == 0);
            device = QString::fromLocal8Bit(name);
        } else if (c.line == "refused") {
            sim.stop();
        } else if (c.line == "unsafe number") {
            db.exec("UPDATE ServiceProviders SET AccessNumber = '5551234;ATH'");
        }
        if (device != sim.slavePath() || !c.init.isEmpty())
            ConfigureModem(device, c.init);
        db.exec(QStringLiteral("UPDATE ServiceProviders SET Password = ?"), { c.password });
        if (!c.setup.isEmpty())
            db.exec(c.setup);

        CModemList modems([&c] { return c.modem; });
        for (int earlier = 1; earlier < c.sends; ++earlier)
            QVERIFY(Send(modems, { c.tickMs, 0 }).Run(kWaitMs));
        Send send(modems, { c.tickMs, 0 });
        std::optional<WriteLockHolder> lock;
        if (c.lock > 0)
            lock.emplace(db.filePath());
        std::jthread releaser;
        if (c.lock == 1)
            releaser = std::jthread([&sim, &lock] {
                sim.waitForPages(1, kWaitMs);
                std::this_thread::sleep_for(std::chrono::seconds(1));
                lock->release();
            });
        QVERIFY(send.Run(2 * kWaitMs));
        releaser = {};
        lock.reset();
        QCOMPARE(db.rows("Messages", kMessageRow), c.rows);
        QCOMPARE(db.rows("SendLog", kSendLogEntry), c.log);
        // A send that finds its modem and a number to dial is calling before anything else.
        QCOMPARE(send.statuses.first(),
            c.modem == kSimulatedLineName && c.line != "unsafe number" ? CSendSession::kCalling
                                                                       : c.status);
        QCOMPARE(send.statuses.last(), c.status);
        QCOMPARE(send.localFault, QString(c.fault).replace("%1", device));
        // Closed at once, or as soon as the modem is found silent: long before the time-out.
        if (!c.fault.isEmpty())
            QVERIFY(send.session->TickCount() < 100);
        // The terminal's last words were shown as they came.
        const QString said = c.log.isEmpty() ? QString() : c.log.last().section(',', 2, -1);
        if (!said.isEmpty())
            QCOMPARE(send.lines.value(send.lines.size() - 1), said);
        QTRY_COMPARE_WITH_TIMEOUT(sim.pageCount(), c.pages, kWaitMs);
        for (const quillpost::sim::AcceptedPage& page : sim.pages())
            QCOMPARE(page.text, c.delivered);
        QCOMPARE(sim.received().count("\x1BPG1" + c.password.toLatin1() + '\r'), c.logins);
        QCOMPARE(prompt.shown.size(), c.told.isEmpty() ? 0 : 1);
        QVERIFY2(prompt.shown.join('\n').contains(c.told), qPrintable(prompt.shown.join('\n')));
    }

    void timeOut_data()
    {
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("stallMs"); // the thread is held up once the call is connected
        QTest::addColumn<int>("openTicks"); // after which the send is still open
        QTest::newRow("the 1201st tick") << 120000 << 0 << 1200;
        QTest::newRow("a stalled thread: the first tick past the time-out") << 100 << 1000 << 0;
    }

    // A silent terminal: the send gives up on the 1201st tick, or on the first tick once its
    // time has run out, however few ticks a busy thread let pass. The attempt counts.
    void timeOut()
    {
        QFETCH(int, timeoutMs);
        QFETCH(int, stallMs);
        QFETCH(int, openTicks);
        TempSettings settingsFolder;
        TempDatabase db;
        FakeClock clock(QDateTime::fromString(kNow, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        PagingSimulator sim(Faults({ .silentAfterConnect = true }));
        QueueMessage(db, StartSimulatedLine(sim, true), { 0 }, kText, kQueued);
        CModemList modems([] { return kSimulatedLineName; });
        // The send's own timer never fires: every tick is given here.
        Send send(modems, { 3600000, 0, 0, timeoutMs });
        send.session->Start();
        QTRY_COMPARE_WITH_TIMEOUT(send.statuses.last(), CSendSession::kConnected, kWaitMs);
        QThread::msleep(static_cast<unsigned long>(stallMs));
        for (int tick = 0; tick < openTicks; ++tick)
            send.session->OnTimer();
        QVERIFY(!send.closed);
        send.session->OnTimer();
        QVERIFY(send.closed);
        QCOMPARE(send.statuses.last(), CSendSession::kTimedOut);
        QCOMPARE(db.rows("Messages", kMessageRow), QStringList { kFailedOnce });
    }

    // Zero bytes of line noise before the terminal's ACK: the page is recorded as sent, so
    // it is not sent again. A terminal of the test's own over TCP, as the simulator sends
    // no such noise.
    void noiseBeforeTheAck()
    {
        TempSettings settingsFolder;
        TempDatabase db;
        FakeClock clock(QDateTime::fromString(kNow, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        QTcpServer terminal;
        QVERIFY(terminal.listen(QHostAddress::LocalHost));
        ConfigureSimulatedLine(QStringLiteral("tcp"));
        QueueMessage(
            db, QStringLiteral("127.0.0.1:%1").arg(terminal.serverPort()), { 0 }, kText, kQueued);
        QObject::connect(&terminal, &QTcpServer::newConnection, [&terminal] {
            QTcpSocket* caller = terminal.nextPendingConnection();
            QObject::connect(caller, &QTcpSocket::readyRead, [caller] {
                const QByteArray heard = caller->readAll();
                if (heard == "\r")
                    caller->write("ID=");
                else if (heard.startsWith("\x1BPG1"))
                    caller->write("\x06\r\x1B[p\r");
                else if (heard.startsWith('\x02'))
                    caller->write(QByteArray(3, '\0') + "\x06\r");
            });
        });
        CModemList modems([] { return kSimulatedLineName; });
        Send send(modems, { 100, 0, 0 });
        QVERIFY(send.Run(kWaitMs));
        QCOMPARE(send.statuses.last(), CSendSession::kSent);
        QCOMPARE(db.rows("Messages", kMessageRow), QStringList { kSentRow });
    }

    void messageWhileRecording_data()
    {
        QTest::addColumn<bool>("pty");
        QTest::addColumn<int>("drop"); // the terminal drops the line once it took this block
        QTest::addColumn<QString>("refusal"); // what the database refuses, so the operator is told
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("told");
        const QString refuse = QStringLiteral(
            "CREATE TRIGGER refuse BEFORE %1 WHEN %2 BEGIN SELECT RAISE(ABORT, 'disk full'); END");
        const QString entryOf = refuse.arg("INSERT ON SendLog", "NEW.PagerId = '%1'");
        const QString without = QStringLiteral("was recorded without it");
        for (bool pty : { true, false }) {
            const char* line = pty ? "pseudo-terminal" : "TCP";
            QTest::addRow("the first of two recorded without its log entry, %s", line)
                << pty << 1 << entryOf.arg("1001") << QStringList { kSentRow, kUntouched }
                << QStringList {} << without;
            QTest::addRow("the last of two recorded without its log entry, %s", line)
                << pty << 2 << entryOf.arg("1002") << QStringList { kSentRow, kSentRow }
                << QStringList { LogEntry("1001", 1, kPageSent) } << without;
            QTest::addRow("the first of two not recorded, %s", line)
                << pty << 1
                << refuse.arg("UPDATE ON Messages", "OLD.ID = (SELECT min(ID) FROM Messages)")
                << QStringList { kUntouched, kUntouched } << QStringList {}
                << QStringLiteral("The page to 1001 was accepted");
        }
    }

    // A message shown while a result is recorded runs an event loop of its own, which
    // delivers the line's loss and the send's ticks before the recording is over. The loss
    // closes the send there and then, without a second verdict for the recipient being
    // recorded: the rows, the log and the operator's messages are those of one attempt
    // each, and the send closes once.
    void messageWhileRecording()
    {
        QFETCH(bool, pty);
        QFETCH(int, drop);
        QFETCH(QString, refusal);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, log);
        QFETCH(QString, told);
        TempSettings settingsFolder;
        TempDatabase db;
        FakeClock clock(QDateTime::fromString(kNow, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        PresetPrompt prompt;
        PagingSimulator sim(Faults({ .dropLineAfterBlock = drop }));
        QueueMessage(db, StartSimulatedLine(sim, !pty), { 0, 0 }, kText, kQueued);
        db.exec(refusal);
        CModemList modems([] { return kSimulatedLineName; });
        Send send(modems, { 100, 0 });
        bool closedInside = false;
        prompt.whileInforming = [&] {
            // The operator leaves the first message open until the send has closed.
            if (prompt.shown.size() > 1)
                return;
            closedInside = QTest::qWaitFor([&send] { return send.closed; }, kWaitMs);
            send.closed = false; // a second closing would set it again
        };
        send.Run(2 * kWaitMs);
        QVERIFY2(closedInside, "the line's loss did not close the send while the message was open");
        QVERIFY2(!send.closed, "the send closed twice");
        QCOMPARE(send.statuses.last(), CSendSession::kLineFailed);
        QCOMPARE(db.rows("Messages", kMessageRow), rows);
        QCOMPARE(db.rows("SendLog", kSendLogEntry), log);
        QTRY_COMPARE_WITH_TIMEOUT(sim.pageCount(), drop, kWaitMs);
        QCOMPARE(prompt.shown.size(), 1);
        QVERIFY2(prompt.shown.first().contains(told), qPrintable(prompt.shown.first()));
    }
};

QTEST_GUILESS_MAIN(TestSendSession)
#include "test_send_session.moc"
