#include "FakeClock.h"
#include "PagingSimulator.h"
#include "PresetPrompt.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendSession.h"
#include "modem/ModemList.h"
#include "platform/db/DaoConnection.h"

#include <QDir>
#include <QSettings>
#include <QTest>
#include <thread>

using quillpost::sim::AcceptedPage;
using quillpost::sim::CallEnd;
using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;
using quillpost::sim::SimFaults;

Q_DECLARE_METATYPE(quillpost::sim::SimFaults)
Q_DECLARE_METATYPE(quillpost::sim::SimConfig)

namespace {

const QByteArray kLogin("\x1BPG1\r");
const QString kText = QStringLiteral("Boiler 2 pressure alarm");
// The time the fake clock shows, as a Date/Time column holds it.
const QString kNow = QStringLiteral("2026-03-10 09:00:00");
const QString kQueued = QStringLiteral("2026-03-10 08:00:00");
constexpr int kWaitMs = 30000;

class RecordingHost final : public ISendHost
{
public:
    QStringList statuses;
    int recorded = 0;
    bool closed = false;

    QStringList lines; // what the terminal said, as shown

    void ShowSendStatus(const QString& text) override { statuses << text; }
    void ShowTerminalLine(const QString& line) override { lines << line; }
    void SendResultRecorded() override { ++recorded; }
    void SendClosed() override { closed = true; }
};

// A database with one provider and one message to `retries.size()` users whose pagers
// are 1001, 1002 ...; row i has Retries retries[i] and was queued at kQueued.
void QueueMessage(const TempDatabase& db, const QString& accessNumber, const QList<int>& retries,
    const QString& text = kText)
{
    db.addProvider(QStringLiteral("P1"), accessNumber, 1);
    int messageId = 0;
    for (int i = 0; i < retries.size(); ++i) {
        const int user
            = db.addUser(QStringLiteral("User %1").arg(i + 1), QString::number(1001 + i));
        const int row = db.addMessageRow(user, messageId, text, 0, kQueued);
        if (messageId == 0)
            messageId = row;
        db.exec(QStringLiteral("UPDATE Messages SET MessageId = ?, Retries = ? WHERE ID = ?"),
            { messageId, retries[i], row });
    }
}

// "Status,Retries,SendTime" of every message row, in table order.
QStringList Rows(const TempDatabase& db)
{
    return db
        .scalar(QStringLiteral("SELECT group_concat(Status || ',' || Retries || ',' || SendTime, "
                               "';') FROM (SELECT * FROM Messages ORDER BY ID)"))
        .toString()
        .split(QLatin1Char(';'));
}

// "PagerId,Outcome,TerminalLine" of every send log row, oldest first.
QStringList LogRows(const TempDatabase& db)
{
    const QString rows = db.scalar(QStringLiteral("SELECT group_concat(PagerId || ',' || Outcome "
                                                  "|| ',' || TerminalLine, ';') FROM (SELECT * "
                                                  "FROM SendLog ORDER BY ID)"))
                             .toString();
    return rows.isEmpty() ? QStringList() : rows.split(QLatin1Char(';'));
}

// One send of the due message, from the scheduler's choice to the closing.
struct Send
{
    explicit Send(SendTiming timing = { 100, 0 })
        : modems([] { return kSimulatedLineName; })
    {
        doc.ReloadAll();
        std::optional<SendOrder> order = ChooseDueSend(doc);
        if (!order)
            qFatal("nothing is due");
        session = std::make_unique<CSendSession>(std::move(*order), modems, host, timing);
    }

    bool Run(int waitMs = kWaitMs)
    {
        session->Start();
        return QTest::qWaitFor([this] { return host.closed; }, waitMs);
    }

    CQuillpostDoc doc;
    CModemList modems;
    RecordingHost host;
    std::unique_ptr<CSendSession> session;
};

// Holds the database's write lock from another thread until released.
class LockHolder
{
public:
    explicit LockHolder(const QString& path)
        : m_thread([this, path] { Hold(path); })
    {
        while (!m_bHeld.load())
            std::this_thread::yield();
    }
    ~LockHolder()
    {
        Release();
        m_thread.join();
    }
    void Release() { m_bRelease = true; }

private:
    void Hold(const QString& path)
    {
        DaoConnection connection(path);
        connection.Execute(QStringLiteral("BEGIN IMMEDIATE"), {}, QStringLiteral("lock"));
        m_bHeld = true;
        while (!m_bRelease.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        connection.Execute(QStringLiteral("COMMIT"), {}, QStringLiteral("unlock"));
    }

    std::atomic<bool> m_bHeld { false };
    std::atomic<bool> m_bRelease { false };
    std::thread m_thread;
};

int CountEntries(const char* folder)
{
    return int(QDir(QString::fromLatin1(folder))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                   .size());
}

// Forwards to the machine's line devices and counts the application handles alive.
class CountingTelephony final : public ITelephony
{
public:
    int liveApps = 0;

    std::int32_t lineInitialize(LineAppHandle* app, LineCallbackProc cb, std::uint32_t* n) override
    {
        const std::int32_t result = m_real->lineInitialize(app, cb, n);
        liveApps += result >= 0 ? 1 : 0;
        return result;
    }
    std::int32_t lineShutdown(LineAppHandle app) override
    {
        const std::int32_t result = m_real->lineShutdown(app);
        liveApps -= result >= 0 ? 1 : 0;
        return result;
    }
    std::int32_t lineNegotiateAPIVersion(LineAppHandle a, std::uint32_t d, std::uint32_t l,
        std::uint32_t h, std::uint32_t* v, LineExtensionId* e) override
    {
        return m_real->lineNegotiateAPIVersion(a, d, l, h, v, e);
    }
    std::int32_t lineGetDevCaps(
        LineAppHandle a, std::uint32_t d, std::uint32_t v, std::uint32_t e, LineDevCaps* c) override
    {
        return m_real->lineGetDevCaps(a, d, v, e, c);
    }
    std::int32_t lineOpen(LineAppHandle a, std::uint32_t d, LineHandle* l, std::uint32_t v,
        std::uint32_t e, std::uintptr_t i, std::uint32_t p, std::uint32_t m,
        const LineCallParams* c) override
    {
        return m_real->lineOpen(a, d, l, v, e, i, p, m, c);
    }
    std::int32_t lineMakeCall(LineHandle l, CallHandle* c, const QString& a, std::uint32_t cc,
        const LineCallParams* p) override
    {
        return m_real->lineMakeCall(l, c, a, cc, p);
    }
    std::int32_t lineGetID(LineHandle l, std::uint32_t a, CallHandle c, std::uint32_t s,
        std::unique_ptr<CCommPort>* p, const QString& d) override
    {
        return m_real->lineGetID(l, a, c, s, p, d);
    }
    std::int32_t lineAnswer(CallHandle c) override { return m_real->lineAnswer(c); }
    std::int32_t lineDrop(CallHandle c) override { return m_real->lineDrop(c); }
    std::int32_t lineDeallocateCall(CallHandle c) override { return m_real->lineDeallocateCall(c); }
    std::int32_t lineClose(LineHandle l) override { return m_real->lineClose(l); }

private:
    std::unique_ptr<ITelephony> m_real = CreateLineTelephony();
};

} // namespace

class TestSendSession : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data();
    void outcomes();
    void terminalAnswers_data();
    void terminalAnswers();
    void unknownPagerIdNoLongerHoldsUpTheQueue();
    void timeOutRecordsNothing();
    void lockedDatabaseWhileRecording_data();
    void lockedDatabaseWhileRecording();
    void manySendsLeaveNothingBehind();
};

void TestSendSession::outcomes_data()
{
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<QList<int>>("retries"); // of each row before the send
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rows"); // Status,Retries,SendTime after it
    QTest::addColumn<QByteArray>("delivered"); // text the terminal accepted for each page
    QTest::addColumn<int>("pages");
    QTest::addColumn<QString>("lastStatus");

    const QString sent = QStringLiteral("1,0,") + kNow;
    const QString untouched = QStringLiteral("0,0,") + kQueued;
    const QString failedOnce = QStringLiteral("0,1,") + kNow;
    const QByteArray text = kText.toLatin1();
    SimFaults none;
    SimFaults dropAfterFirst;
    dropAfterFirst.dropLineAfterBlock = 1;
    SimFaults dropAfterSecond;
    dropAfterSecond.dropLineAfterBlock = 2;
    SimFaults nakFirst;
    nakFirst.nakBlock = 1;
    SimFaults busy;
    busy.busy = true;
    SimFaults noCarrier;
    noCarrier.noCarrier = true;

    QTest::newRow("two recipients in one call")
        << none << QList<int> { 0, 0 } << kText << QStringList { sent, sent } << text << 2
        << "Message sent successfully";
    QTest::newRow("line drops after the first of two")
        << dropAfterFirst << QList<int> { 0, 0 } << kText << QStringList { sent, failedOnce }
        << text << 1 << "Failed to connect to service provider";
    QTest::newRow("last ACK and the line loss together: one verdict")
        << dropAfterSecond << QList<int> { 0, 0 } << kText << QStringList { sent, sent } << text
        << 2 << "Message sent successfully";
    QTest::newRow("fourth refusal gives up")
        << nakFirst << QList<int> { 3 } << kText << QStringList { "2,4," + kNow } << QByteArray()
        << 0 << "Message send failed - closing connection";
    QTest::newRow("first of three refused, the others untouched")
        << nakFirst << QList<int> { 0, 0, 0 } << kText
        << QStringList { failedOnce, untouched, untouched } << QByteArray() << 0
        << "Message send failed - closing connection";
    QTest::newRow("busy counts an attempt")
        << busy << QList<int> { 2, 0 } << kText << QStringList { "0,3," + kNow, untouched }
        << QByteArray() << 0 << "Failed to connect to service provider";
    QTest::newRow("no carrier counts an attempt")
        << noCarrier << QList<int> { 0 } << kText << QStringList { failedOnce } << QByteArray() << 0
        << "Failed to connect to service provider";
    QTest::newRow("accented letters lose their accents, the rest becomes ?")
        << none << QList<int> { 0 } << QStringLiteral("Caf\u00e9 \u20ac5 na\u00efve")
        << QStringList { sent } << QByteArray("Cafe ?5 naive") << 1 << "Message sent successfully";
}

// End to end over a pseudo-terminal: the scheduler's choice, the call, the log-in, one
// block per recipient and the rows the send leaves behind.
void TestSendSession::outcomes()
{
    QFETCH(SimFaults, faults);
    QFETCH(QList<int>, retries);
    QFETCH(QString, text);
    QFETCH(QStringList, rows);
    QFETCH(QByteArray, delivered);
    QFETCH(int, pages);
    QFETCH(QString, lastStatus);

    TempSettings settingsFolder;
    TempDatabase db;
    FakeClock clock(QDateTime::fromString(kNow, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    PresetPrompt prompt;
    SimConfig config;
    config.faults = faults;
    PagingSimulator sim(config);
    QueueMessage(db, StartSimulatedLine(sim, false), retries, text);

    Send send;
    QVERIFY(send.Run());
    QCOMPARE(Rows(db), rows);
    QCOMPARE(send.host.statuses.first(), QStringLiteral("Calling Service Provider"));
    QCOMPARE(send.host.statuses.last(), lastStatus);
    QTRY_COMPARE_WITH_TIMEOUT(sim.pageCount(), pages, kWaitMs);
    for (const AcceptedPage& page : sim.pages())
        QCOMPARE(page.text, delivered);
    if (pages > 0) {
        QCOMPARE(sim.pages().first().pagerId, QByteArray("1001"));
        QCOMPARE(sim.received().count(kLogin), 1);
        QCOMPARE(sim.callCount(), 1);
    }
    QCOMPARE(prompt.shown, QStringList());
}

void TestSendSession::terminalAnswers_data()
{
    QTest::addColumn<SimConfig>("config");
    QTest::addColumn<QString>("password"); // the provider's
    QTest::addColumn<QString>("setup"); // SQL run on the database first
    QTest::addColumn<QList<int>>("retries");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("said"); // the terminal's last line shown
    QTest::addColumn<QString>("lastStatus");
    QTest::addColumn<int>("told");

    const QString sent = QStringLiteral("1,0,") + kNow;
    const QString untouched = QStringLiteral("0,0,") + kQueued;
    const QString failedOnce = QStringLiteral("0,1,") + kNow;
    const QString accepted = QStringLiteral("211 Page(s) Sent");
    SimConfig plain;
    SimConfig unknown;
    unknown.unknownPagerIds = { "1001" };
    SimConfig onePagePerCall;
    onePagePerCall.maxPagesPerCall = 1;
    onePagePerCall.hangUpDelayMs = 600000; // the program must hang up by itself
    SimConfig deferred;
    deferred.deferredDelivery = true;
    deferred.crLfLineEnds = true;
    SimConfig password;
    password.password = "abc1";
    const QList<int> one { 0 };
    const QList<int> two { 0, 0 };

    QTest::newRow("RS for the first of two, the second untouched")
        << unknown << ""
        << "" << two << QStringList { failedOnce, untouched }
        << QStringList { "1001,0,511 Invalid Pager ID" } << "511 Invalid Pager ID"
        << CSendSession::kRefused << 0;
    QTest::newRow("ESC EOT mid-exchange: hung up at once, the attempt counted")
        << onePagePerCall << ""
        << "" << two << QStringList { sent, failedOnce }
        << QStringList { "1001,1," + accepted, "1002,0,512 Too Many Pages, Call Again" }
        << "512 Too Many Pages, Call Again" << CSendSession::kTerminalEnded << 0;
    QTest::newRow("213 counts as accepted, lines ended by CR LF")
        << deferred << ""
        << "" << one << QStringList { sent }
        << QStringList { "1001,1,213 Message Accepted, Deferred Delivery" }
        << "213 Message Accepted, Deferred Delivery" << CSendSession::kSent << 0;
    QTest::newRow("the password in the login")
        << password << "abc1"
        << "" << one << QStringList { sent } << QStringList { "1001,1," + accepted } << accepted
        << CSendSession::kSent << 0;
    QTest::newRow("a wrong password: the terminal ends the call, the attempt counted")
        << password << "zz9"
        << "" << one << QStringList { failedOnce } << QStringList { "1001,0,509 Invalid Password" }
        << "509 Invalid Password" << CSendSession::kTerminalEnded << 0;
    QTest::newRow("no send log yet: made with the first attempt")
        << plain << ""
        << "DROP TABLE SendLog" << one << QStringList { sent }
        << QStringList { "1001,1," + accepted } << accepted << CSendSession::kSent << 0;
    QTest::newRow("the log refused: the Status recorded without it, the operator told")
        << plain << ""
        << "CREATE TRIGGER refuse BEFORE INSERT ON SendLog BEGIN SELECT RAISE(ABORT, 'no'); END"
        << one << QStringList { sent } << QStringList() << accepted << CSendSession::kSent << 1;
    QTest::newRow("the Status refused: no log entry")
        << plain << ""
        << "CREATE TRIGGER refuse BEFORE UPDATE ON Messages BEGIN SELECT RAISE(ABORT, 'no'); END"
        << one << QStringList { untouched } << QStringList() << accepted << CSendSession::kSent
        << 1;
}

// What a TAP 1.8 terminal answers and what the send keeps of it: each recipient's row
// and, written with it, the send log's entry with the terminal's words.
void TestSendSession::terminalAnswers()
{
    QFETCH(SimConfig, config);
    QFETCH(QString, password);
    QFETCH(QString, setup);
    QFETCH(QList<int>, retries);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, log);
    QFETCH(QString, said);
    QFETCH(QString, lastStatus);
    QFETCH(int, told);

    TempSettings settingsFolder;
    TempDatabase db;
    FakeClock clock(QDateTime::fromString(kNow, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    PresetPrompt prompt;
    PagingSimulator sim(config);
    QueueMessage(db, StartSimulatedLine(sim, true), retries);
    db.exec(QStringLiteral("UPDATE ServiceProviders SET Password = ?"), { password });
    if (!setup.isEmpty())
        db.exec(setup);

    Send send;
    QVERIFY(send.Run());
    QCOMPARE(Rows(db), rows);
    QCOMPARE(LogRows(db), log);
    QCOMPARE(send.host.lines.value(send.host.lines.size() - 1), said);
    QCOMPARE(send.session->TerminalLine(), said);
    QCOMPARE(send.host.statuses.last(), lastStatus);
    QCOMPARE(prompt.shown.size(), told);
    QCOMPARE(sim.received().count("\x1BPG1" + password.toLatin1() + '\r'), 1);
}

// A pager ID the terminal does not know is refused with RS on each of four calls, then
// given up, and the message queued behind it goes out.
void TestSendSession::unknownPagerIdNoLongerHoldsUpTheQueue()
{
    TempSettings settingsFolder;
    TempDatabase db;
    FakeClock clock(QDateTime::fromString(kNow, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    SimConfig config;
    config.unknownPagerIds = { "1001" };
    PagingSimulator sim(config);
    db.addProvider(QStringLiteral("P1"), StartSimulatedLine(sim, true), 1);
    for (const QString& pager : { QStringLiteral("1001"), QStringLiteral("1002") }) {
        const int row = db.addMessageRow(db.addUser(pager, pager), 0, kText, 0, kQueued);
        db.exec(QStringLiteral("UPDATE Messages SET MessageId = ID WHERE ID = ?"), { row });
    }

    CModemList modems([] { return kSimulatedLineName; });
    for (int sends = 0; sends < 10; ++sends) {
        CQuillpostDoc doc;
        doc.ReloadAll();
        std::optional<SendOrder> order = ChooseDueSend(doc);
        if (!order)
            break;
        RecordingHost host;
        CSendSession session(std::move(*order), modems, host, { 100, 0 });
        session.Start();
        QVERIFY(QTest::qWaitFor([&host] { return host.closed; }, kWaitMs));
    }
    QCOMPARE(sim.callCount(), 5);
    QCOMPARE(Rows(db), QStringList({ "2,4," + kNow, "1,0," + kNow }));
    const QString refused = QStringLiteral("1001,0,511 Invalid Pager ID");
    QCOMPARE(LogRows(db),
        QStringList({ refused, refused, refused, "1001,2,511 Invalid Pager ID",
            "1002,1,211 Page(s) Sent" }));
}

// A terminal that never answers: the send gives up after 1200 ticks and writes nothing.
void TestSendSession::timeOutRecordsNothing()
{
    TempSettings settingsFolder;
    TempDatabase db;
    FakeClock clock(QDateTime::fromString(kNow, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    SimConfig config;
    config.faults.silentAfterConnect = true;
    PagingSimulator sim(config);
    QueueMessage(db, StartSimulatedLine(sim, true), { 1 });

    Send send({ 2, 0 });
    QVERIFY(send.Run());
    QCOMPARE(send.host.statuses.last(), QStringLiteral("Timed out - closing"));
    QCOMPARE(send.session->TickCount(), CSendSession::kTimeoutTicks + 1);
    QCOMPARE(send.host.recorded, 0);
    QCOMPARE(Rows(db), QStringList { "0,1," + kQueued });
}

void TestSendSession::lockedDatabaseWhileRecording_data()
{
    QTest::addColumn<bool>("releasedSoon");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("shown");
    QTest::newRow("released within the busy time-out")
        << true << QStringList { "1,0," + kNow } << 0;
    QTest::newRow("held past every retry: the operator is told")
        << false << QStringList { "0,0," + kQueued } << 1;
}

// Another program holds the database while an accepted page is recorded.
void TestSendSession::lockedDatabaseWhileRecording()
{
    QFETCH(bool, releasedSoon);
    QFETCH(QStringList, rows);
    QFETCH(int, shown);

    TempSettings settingsFolder;
    TempDatabase db;
    FakeClock clock(QDateTime::fromString(kNow, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    PresetPrompt prompt;
    PagingSimulator sim;
    QueueMessage(db, StartSimulatedLine(sim, true), { 0 });

    Send send;
    std::optional<LockHolder> lock(std::in_place, db.filePath());
    // The holder lets go a second after the terminal has accepted the page, while the
    // send waits on the lock; or only after the send has closed.
    std::thread releaser;
    if (releasedSoon)
        releaser = std::thread([&sim, &lock] {
            sim.waitForPages(1, kWaitMs);
            std::this_thread::sleep_for(std::chrono::seconds(1));
            lock->Release();
        });
    QVERIFY(send.Run(60000));
    if (releaser.joinable())
        releaser.join();
    lock.reset();
    QCOMPARE(Rows(db), rows);
    QCOMPARE(prompt.shown.size(), shown);
    if (shown)
        QVERIFY2(prompt.shown.first().contains(QLatin1String("1001"))
                && prompt.shown.first().contains(QLatin1String("accepted")),
            qPrintable(prompt.shown.first()));
}

// Sends one after the other, as a program that pages all day does: descriptors,
// threads and line-application handles come back to where they were.
void TestSendSession::manySendsLeaveNothingBehind()
{
    constexpr int kSends = 50;
    TempSettings settingsFolder;
    TempDatabase db;
    PagingSimulator sim;
    const QString access = StartSimulatedLine(sim, true);
    const int provider = db.addProvider(QStringLiteral("P1"), access, 1);
    const int user = db.addUser(QStringLiteral("User"), QStringLiteral("1001"), provider);

    CountingTelephony telephony;
    CModemList modems([] { return kSimulatedLineName; }, &telephony);
    int fds = -1;
    int threads = -1;
    for (int i = 0; i < kSends; ++i) {
        const int row = db.addMessageRow(user, 0, QStringLiteral("Page %1").arg(i), 0, kQueued);
        db.exec(QStringLiteral("UPDATE Messages SET MessageId = ID WHERE ID = ?"), { row });
        // The Select Modem dialog runs a discovery of its own now and then.
        modems.Discover();
        {
            // The document keeps a connection open while it lives; it goes with the send.
            CQuillpostDoc doc;
            doc.ReloadAll();
            std::optional<SendOrder> order = ChooseDueSend(doc);
            QVERIFY(order);
            RecordingHost host;
            CSendSession session(std::move(*order), modems, host, { 100, 0 });
            session.Start();
            QVERIFY(QTest::qWaitFor([&host] { return host.closed; }, kWaitMs));
        }
        QCOMPARE(
            db.scalar(QStringLiteral("SELECT Status FROM Messages WHERE ID = ?"), { row }).toInt(),
            1);
        if (i == 0) {
            // Counted after the first send, once every lazily made resource exists.
            QTest::qWait(200);
            fds = CountEntries("/proc/self/fd");
            threads = CountEntries("/proc/self/task");
        }
    }
    QCOMPARE(sim.pageCount(), kSends);
    QVERIFY(QTest::qWaitFor([&] { return CountEntries("/proc/self/task") <= threads; }, 5000));
    QCOMPARE(CountEntries("/proc/self/fd"), fds);
    QCOMPARE(CountEntries("/proc/self/task"), threads);
    QCOMPARE(telephony.liveApps, 0);
}

QTEST_GUILESS_MAIN(TestSendSession)
#include "test_send_session.moc"
