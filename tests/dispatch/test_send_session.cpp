// One send from the scheduler's choice to its closing, end to end against the simulated
// provider (a modem on a pseudo-terminal, TAP over TCP, or an SNPP carrier): what the
// terminal and the line do to it, what each recipient's row and the send log keep, and a
// database held by another program. Then the scheduler with no modem chosen, whose
// providers reached by URL need none.
#include "FakeClock.h"
#include "FakeTelephony.h"
#include "OneSend.h"
#include "PresetPrompt.h"
#include "SimulatedLine.h"
#include "TempSettings.h"
#include "WriteLockHolder.h"
#include "dispatch/HeadlessDispatcher.h"

#include <QRegularExpression>
#include <QTest>
#include <QThread>

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

// A send as the terminal and the line take it, and what it leaves in the database. The
// defaults are one recipient, paged and recorded over TCP.
struct Case
{
    SimConfig sim {}; // the terminal, but for its faults:
    SimFaults faults {};
    bool pty = false; // a modem on a pseudo-terminal, or else TCP
    QList<int> retries { 0 }; // of each recipient's row before the send
    QString setup {}; // SQL run on the database first
    QString password {}; // the provider's
    std::pair<QString, QString> setting {}; // of the line ("Lines/1/..."), changed before
    bool stopped = false; // the simulator stopped before the send, its TCP port closed
    QString text = kText;
    bool locked = false; // another program holds the database until the send has closed
    int sends = 1; // in a row on one modem, each finding the next due message; the last checked
    QStringList rows { kSentRow }; // "Status,Retries,SendTime" of each row after it
    QStringList log { "1001,1," + kPageSent }; // "PagerId,Outcome,TerminalLine"
    QString status = CSendSession::kSent; // the send's last status line
    int pages = 1; // the terminal accepted, each with the text `delivered`
    QByteArray delivered = kText.toLatin1();
    int logins = 1; // how many log-ons the terminal received (SNPP: QUITs)
    QString told {}; // the one thing the operator is told, if anything
    QString fault {}; // what LocalFault said as the send closed
};

// The settings, the database, the clock, the operator and the terminal of one case's send,
// its message queued.
struct Scene
{
    explicit Scene(const Case& c)
        : sim(c.sim)
    {
        sim.setFaults(c.faults);
        const QString number = StartSimulatedLine(sim, !c.pty);
        QueueMessage(db, c.sim.snpp ? "snpp://" + number : number, c.retries, c.text, kQueued);
        db.exec(QStringLiteral("UPDATE ServiceProviders SET Password = ?"), { c.password });
        if (!c.setup.isEmpty())
            db.exec(c.setup);
    }

    TempSettings settingsFolder;
    TempDatabase db;
    FakeClock clock;
    PresetPrompt prompt;
    PagingSimulator sim;
    CModemList modems { [] { return kSimulatedLineName; } };
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestSendSession : public QObject
{
    Q_OBJECT

private slots:
    // One row a case, its fields packed as a table's.
    // clang-format off
    void sends_data()
    {
        QTest::addColumn<Case>("c");
        const QString lineFailed = CSendSession::kLineFailed, ended = CSendSession::kTerminalEnded;
        const QString unknownId = QStringLiteral("511 Invalid Pager ID");
        const QStringList notLogged { "1001,0," };
        SimConfig unknown, onePagePerCall, deferred, password, snpp;
        unknown.unknownPagerIds = { "1001" };
        onePagePerCall.maxPagesPerCall = 1;
        onePagePerCall.hangUpDelayMs = 600000; // the program must hang up by itself
        deferred.deferredDelivery = deferred.crLfLineEnds = true;
        password.password = "abc1";
        snpp.snpp = true;
        snpp.unknownPagerIds = { "1002" };

        QTest::newRow("a refusal ends the call: the others untouched")
            << Case { .faults = { .nakBlock = 1 }, .retries = { 0, 0, 0 },
                   .rows = { kFailedOnce, kUntouched, kUntouched },
                   .log = { "1001,0,514 Checksum Error" }, .status = CSendSession::kRefused,
                   .pages = 0 };
        QTest::newRow("busy counts an attempt")
            << Case { .faults = { .busy = true }, .pty = true, .retries = { 2, 0 },
                   .rows = { "0,3," + kNow, kUntouched }, .log = notLogged, .status = lineFailed,
                   .pages = 0, .logins = 0 };
        QTest::newRow("no answer counts an attempt")
            << Case { .faults = { .noAnswer = true }, .pty = true, .rows = { kFailedOnce },
                   .log = notLogged, .status = lineFailed, .pages = 0, .logins = 0 };
        QTest::newRow("log-on refused twice, then taken")
            << Case { .faults = { .nakLoginTimes = 2 }, .pty = true, .logins = 3 };
        // A read may end just after a line end with the start of the go-ahead: "... CR ESC",
        // then "[p CR".
        QTest::newRow("replies in pieces of 11 bytes: the go-ahead split after its CR")
            << Case { .faults = { .chunkSize = 11 }, .pty = true };
        // A line this side cannot use costs nobody an attempt, not even the one that would be
        // the last; the send closes at once and says why.
        const auto localFault = [](const QString& key, const QString& value, const QString& fault) {
            return Case { .pty = true, .retries = { 3 }, .setting = { "Lines/1/" + key, value },
                .rows = { "0,3," + kQueued }, .log = {}, .status = CSendSession::kLocalFault,
                .pages = 0, .logins = 0, .fault = fault };
        };
        const QString line = "\"" + kSimulatedLineName + "\"";
        QTest::newRow("the modem's device does not exist") << localFault("device", "/no/tty",
            "The line device " + line + " cannot be opened: /no/tty: No such file or directory");
        QTest::newRow("the modem refuses its init command") << localFault("init", "AT&Q9",
            "The modem " + line + " does not answer its commands: AT&Q9 was answered with ERROR");
        QTest::newRow("TCP connection refused counts an attempt")
            << Case { .stopped = true, .rows = { kFailedOnce }, .log = notLogged,
                   .status = lineFailed, .pages = 0, .logins = 0 };
        QTest::newRow("accented letters lose their accents, the rest becomes ?")
            << Case { .text = "Caf\u00e9 \u20ac5 na\u00efve", .delivered = "Cafe ?5 naive" };
        // Refused with RS on each of four calls, then given up; the message queued behind it
        // then goes out.
        const QString invalid = "1001,0," + unknownId;
        QTest::newRow("an unknown pager ID no longer holds up the queue")
            << Case { .sim = unknown, .retries = { 0, 0 },
                   .setup = "UPDATE Messages SET MessageId = ID", .sends = 5,
                   .rows = { "2,4," + kNow, kSentRow },
                   .log = { invalid, invalid, invalid, "1001,2," + unknownId,
                       "1002,1," + kPageSent }, .logins = 5 };
        QTest::newRow("ESC EOT mid-exchange: hung up at once, the attempt counted")
            << Case { .sim = onePagePerCall, .retries = { 0, 0 }, .rows = { kSentRow, kFailedOnce },
                   .log = { "1001,1," + kPageSent, "1002,0,512 Too Many Pages, Call Again" },
                   .status = ended };
        QTest::newRow("213 counts as accepted, lines ended by CR LF")
            << Case { .sim = deferred,
                   .log = { "1001,1,213 Message Accepted, Deferred Delivery" } };
        // The log-on carries the stored password, the terminal's own being another.
        QTest::newRow("a wrong password: the terminal ends the call, the attempt counted")
            << Case { .sim = password, .password = "zz9", .rows = { kFailedOnce },
                   .log = { "1001,0,509 Invalid Password" }, .status = ended, .pages = 0 };
        // A carrier's refusal of one recipient is that recipient's failed attempt: the call
        // goes on, and ends with one QUIT.
        QTest::newRow("SNPP: the second of two refused, on the same call")
            << Case { .sim = snpp, .retries = { 0, 0 }, .rows = { kSentRow, kFailedOnce },
                   .log = { "1001,1,250 Message sent successfully",
                       "1002,0,550 Error, invalid pager ID" },
                   .status = CSendSession::kPageRefused };
        QTest::newRow("the database held past every retry: the operator is told")
            << Case { .pty = true, .locked = true, .rows = { kUntouched }, .log = {},
                   .told = "1001 was accepted" };
    }
    // clang-format on

    void sends()
    {
        QFETCH(Case, c);
        Scene scene(c);
        if (!c.setting.first.isEmpty())
            QSettings("Northmoor", "Quillpost").setValue(c.setting.first, c.setting.second);
        if (c.stopped)
            scene.sim.stop();
        for (int earlier = 1; earlier < c.sends; ++earlier)
            QVERIFY(Send(scene.modems, { 100, 0 }).Run(kWaitMs));
        Send send(scene.modems, { 100, 0 });
        std::optional<WriteLockHolder> lock;
        if (c.locked)
            lock.emplace(scene.db.filePath());
        QVERIFY(send.Run(2 * kWaitMs));
        lock.reset();
        QCOMPARE(scene.db.rows("Messages", kMessageRow), c.rows);
        QCOMPARE(scene.db.rows("SendLog", kSendLogEntry), c.log);
        QCOMPARE(send.statuses.last(), c.status);
        QCOMPARE(send.localFault, c.fault);
        // The terminal's words for the last recipient were shown as they came.
        if (!c.log.isEmpty() && !c.log.last().endsWith(','))
            QVERIFY(send.lines.contains(c.log.last().section(',', 2, -1)));
        QTRY_COMPARE_WITH_TIMEOUT(scene.sim.pageCount(), c.pages, kWaitMs);
        for (const quillpost::sim::AcceptedPage& page : scene.sim.pages())
            QCOMPARE(page.text, c.delivered);
        // A TAP log-on carries the provider's password; an SNPP call ends with one QUIT, which
        // may reach the terminal after the send has closed.
        const QByteArray logOn
            = c.sim.snpp ? QByteArray("QUIT") : "\x1BPG1" + c.password.toLatin1() + '\r';
        QTRY_COMPARE_WITH_TIMEOUT(scene.sim.received().count(logOn), c.logins, kWaitMs);
        QCOMPARE(scene.prompt.shown.size(), c.told.isEmpty() ? 0 : 1);
        QVERIFY(scene.prompt.shown.join('\n').contains(c.told));
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
        Scene scene(Case { .faults = { .silentAfterConnect = true } });
        // The send's own timer never fires: every tick is given here.
        Send send(scene.modems, { 3600000, 0, 0, timeoutMs });
        send.session->Start();
        QTRY_COMPARE_WITH_TIMEOUT(send.statuses.last(), CSendSession::kConnected, kWaitMs);
        QThread::msleep(static_cast<unsigned long>(stallMs));
        for (int tick = 0; tick < openTicks; ++tick)
            send.session->OnTimer();
        QVERIFY(!send.closed);
        send.session->OnTimer();
        QVERIFY(send.closed);
        QCOMPARE(send.statuses.last(), CSendSession::kTimedOut);
        QCOMPARE(scene.db.rows("Messages", kMessageRow), QStringList { kFailedOnce });
    }

    // One row a case, its fields packed as a table's.
    // clang-format off
    void messageWhileRecording_data()
    {
        QTest::addColumn<Case>("c");
        const QString refuse = QStringLiteral(
            "CREATE TRIGGER refuse BEFORE %1 WHEN %2 BEGIN SELECT RAISE(ABORT, 'disk full'); END");
        const QString entryOf = refuse.arg("INSERT ON SendLog", "NEW.PagerId = '%1'");
        const QString without = QStringLiteral("was recorded without it");
        // The terminal drops the line once it took the first or the second block, and the
        // database refuses a write, so that the operator is told.
        for (bool pty : { true, false }) {
            const char* line = pty ? "pseudo-terminal" : "TCP";
            QTest::addRow("the first of two recorded without its log entry, %s", line)
                << Case { .faults = { .dropLineAfterBlock = 1 }, .pty = pty,
                       .retries = { 0, 0 }, .setup = entryOf.arg("1001"),
                       .rows = { kSentRow, kUntouched }, .log = {}, .told = without };
            QTest::addRow("the last of two recorded without its log entry, %s", line)
                << Case { .faults = { .dropLineAfterBlock = 2 }, .pty = pty,
                       .retries = { 0, 0 }, .setup = entryOf.arg("1002"),
                       .rows = { kSentRow, kSentRow }, .pages = 2, .told = without };
            QTest::addRow("the first of two not recorded, %s", line)
                << Case { .faults = { .dropLineAfterBlock = 1 }, .pty = pty,
                       .retries = { 0, 0 }, .setup = refuse.arg("UPDATE ON Messages",
                           "OLD.ID = (SELECT min(ID) FROM Messages)"),
                       .rows = { kUntouched, kUntouched }, .log = {},
                       .told = "The page to 1001 was accepted" };
        }
    }
    // clang-format on

    // A message shown while a result is recorded runs an event loop of its own, which
    // delivers the line's loss and the send's ticks before the recording is over. The loss
    // closes the send there and then, without a second verdict for the recipient being
    // recorded: the rows, the log and the operator's messages are those of one attempt
    // each, and the send closes once.
    void messageWhileRecording()
    {
        QFETCH(Case, c);
        Scene scene(c);
        PresetPrompt& prompt = scene.prompt;
        Send send(scene.modems, { 100, 0 });
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
        QCOMPARE(scene.db.rows("Messages", kMessageRow), c.rows);
        QCOMPARE(scene.db.rows("SendLog", kSendLogEntry), c.log);
        QTRY_COMPARE_WITH_TIMEOUT(scene.sim.pageCount(), c.pages, kWaitMs);
        QCOMPARE(prompt.shown.size(), 1);
        QVERIFY2(prompt.shown.first().contains(c.told), qPrintable(prompt.shown.first()));
    }

    // With no modem chosen the scheduler still sends to a provider reached by URL, and
    // the line interface is never touched; a provider that is dialled waits quietly, one
    // whose URL is malformed waits and the operator hears why once. A carrier that fails
    // on this side (its extra certificates missing) costs no attempt and blocks nothing:
    // it is tried again next run.
    void urlProviderNeedsNoModem()
    {
        TempSettings settings;
        TempDatabase db;
        QSettings("Northmoor", "Quillpost")
            .setValue("Network/caCertificates", settings.folder() + "/none.pem");
        const int url = db.addProvider("Carrier", "snpps://pager.example.net");
        const int dialled = db.addProvider("Dialled", "5551234");
        const int malformed = db.addProvider("Broken", "snpp://pager.example.net:0");
        for (const int provider : { url, dialled, malformed })
            db.addMessageRow(db.addUser(QString::number(provider), "1001", provider), 0, "Hi");
        db.exec("UPDATE Messages SET MessageId = ID");
        FakeTelephony telephony;
        CModemList modems { [] { return QString(); }, &telephony };
        QStringList log;
        CHeadlessDispatcher dispatcher(
            modems, [&log](const QString& line) { log << line; }, 20, { 2, 0, 0 });
        dispatcher.Start();
        // Three scheduler runs, each trying the carrier again.
        const QString carrierFault = "Message 1: " + CSendSession::kCarrierLocalFault;
        QTRY_VERIFY_WITH_TIMEOUT(log.count(carrierFault) >= 3, kWaitMs);
        QCOMPARE(log.filter("dispatcher lock"),
            QStringList { "Holding the dispatcher lock: this program sends from now on." });
        QCOMPARE(telephony.calls, QStringList());
        QCOMPARE(db.rows("Messages", kStatusRetries), QStringList({ "0,0", "0,0", "0,0" }));
        // Each told once. The certificates file's fault does not name the provider it
        // stopped; the text does.
        const QStringList told = log.filter("Error: ");
        QCOMPARE(told.size(), 2);
        QVERIFY(told.join('\n').contains(
            CarrierAddressFault("Broken", ParseCarrierAddress("snpp://h:0").refusal)));
        QVERIFY(told.join('\n').contains(QRegularExpression(
            "Error: Cannot reach the service provider Carrier: [^\n]*none\\.pem")));
    }
};

QTEST_GUILESS_MAIN(TestSendSession)
#include "test_send_session.moc"
