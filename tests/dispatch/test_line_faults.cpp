#include "FakeTelephony.h"
#include "PagingSimulator.h"
#include "PresetPrompt.h"
#include "ProgramPath.h"
#include "ReliabilityFigures.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendSession.h"
#include "modem/ModemList.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <malloc.h>
#include <sys/prctl.h>

using quillpost::sim::AcceptedPage;
using quillpost::sim::CallEnd;
using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

Q_DECLARE_METATYPE(quillpost::sim::SimConfig)

// Whatever the line does, a row says "sent" only when the terminal's acknowledgement
// of its block reached the program, and every send ends by its time-out at the latest.
namespace {

constexpr int kWaitMs = 60000;
// Short ticks, and no pauses while closing: a send over TCP takes some 50 ms.
constexpr SendTiming kQuick { 5, 0, 0 };
const QStringList kPagers { QStringLiteral("1001"), QStringLiteral("1002") };

class ClosingHost final : public ISendHost
{
public:
    bool closed = false;
    void ShowSendStatus(const QString&) override { }
    void SendResultRecorded() override { }
    void SendClosed() override { closed = true; }
};

// One message to the users with pager IDs `pagers`, through one provider.
void QueueMessage(const TempDatabase& db, const QString& accessNumber, const QStringList& pagers)
{
    db.addProvider(QStringLiteral("P1"), accessNumber, 1);
    int messageId = 0;
    for (const QString& pager : pagers) {
        const int user = db.addUser(QStringLiteral("User ") + pager, pager);
        const int row = db.addMessageRow(user, messageId, QStringLiteral("Ward 4 call back"));
        if (messageId == 0)
            messageId = row;
        db.exec(QStringLiteral("UPDATE Messages SET MessageId = ? WHERE ID = ?"), { messageId, row });
    }
}

// Sends the due message once and waits until the send has closed; false when it did
// not close in time (a hung send).
bool SendOnce(CModemList& modems, SendTiming timing, std::int32_t* ticks = nullptr)
{
    CQuillpostDoc doc;
    doc.ReloadAll();
    std::optional<SendOrder> order = ChooseDueSend(doc);
    if (!order)
        return false;
    ClosingHost host;
    CSendSession session(std::move(*order), modems, host, timing);
    session.Start();
    const bool closed = QTest::qWaitFor([&host] { return host.closed; }, kWaitMs);
    if (ticks)
        *ticks = session.TickCount();
    return closed;
}

struct RowCheck
{
    int rows = 0;
    int lost = 0; // rows whose state contradicts what the terminal did
    int unacknowledged = 0; // pages taken whose acknowledgement the line lost
    QString fault;
};

int RowOf(const TempDatabase& db, const QString& column, const QString& pager)
{
    return db
        .scalar(QStringLiteral("SELECT Messages.%1 FROM Messages JOIN Users ON Users.ID = "
                               "Recipient WHERE TelephoneNumber = ?")
                    .arg(column),
            { pager })
        .toInt();
}

// Compares each row with the terminal's pages: Status 1 exactly when an acknowledged
// page went to its pager; a failed attempt counted at most once; nothing given up.
RowCheck CheckRows(const TempDatabase& db, const QList<AcceptedPage>& pages)
{
    RowCheck check;
    for (const QString& pager : kPagers) {
        bool acknowledged = false;
        for (const AcceptedPage& page : pages) {
            if (page.pagerId == pager.toLatin1()) {
                acknowledged = acknowledged || page.acknowledged;
                check.unacknowledged += page.acknowledged ? 0 : 1;
            }
        }
        const int status = RowOf(db, QStringLiteral("Status"), pager);
        const int retries = RowOf(db, QStringLiteral("Retries"), pager);
        ++check.rows;
        if ((status == kStatusSent) != acknowledged || retries > 1 || status == kStatusFailed) {
            ++check.lost;
            check.fault += QStringLiteral(" pager %1: Status %2, Retries %3, acknowledged %4;")
                               .arg(pager)
                               .arg(status)
                               .arg(retries)
                               .arg(acknowledged);
        }
    }
    return check;
}

int CountEntries(const char* folder)
{
    return int(QDir(QString::fromLatin1(folder))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                   .size());
}

// What each open descriptor leads to, for the message of a failed count.
QString OpenDescriptors()
{
    QStringList targets;
    const QDir folder(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& entry : folder.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System))
        targets << entry.fileName() + QStringLiteral(" -> ") + entry.symLinkTarget();
    return targets.join(QStringLiteral(", "));
}

} // namespace

class TestLineFaults : public QObject
{
    Q_OBJECT

private slots:
    void lineDroppedAtEveryByte_data();
    void lineDroppedAtEveryByte();
    void everyTerminalFault_data();
    void everyTerminalFault();
    void hundredSendsLeaveNothingBehind();
    void cleanupTestCase();

private:
    int m_faultsTried = 0;
    int m_rowsChecked = 0;
    int m_rowsLost = 0;
};

void TestLineFaults::lineDroppedAtEveryByte_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("stride"); // every how many bytes the line is dropped
    QTest::newRow("TCP, every byte") << true << 1;
    QTest::newRow("modem, every fifth byte") << false << 5;
}

// Two recipients in one call, the line dropped after 1, 2, 3 ... bytes of the
// conversation until a drop point lies beyond its end.
void TestLineFaults::lineDroppedAtEveryByte()
{
    QFETCH(bool, tcp);
    QFETCH(int, stride);
    int unacknowledged = 0;
    bool pastTheEnd = false;
    for (int offset = 1; !pastTheEnd; offset += stride) {
        QVERIFY2(offset < 2000, "the conversation never ended");
        TempSettings settingsFolder;
        TempDatabase db;
        PresetPrompt prompt;
        SimConfig config;
        config.ringDelayMs = 0;
        config.guardTimeMs = 100;
        config.faults.dropLineAtByte = offset;
        PagingSimulator sim(config);
        QueueMessage(db, StartSimulatedLine(sim, tcp), kPagers);
        CModemList modems([] { return kSimulatedLineName; });

        std::int32_t ticks = 0;
        QVERIFY2(SendOnce(modems, kQuick, &ticks), qPrintable(QString::number(offset)));
        QVERIFY(ticks <= CSendSession::kTimeoutTicks + 1);
        QVERIFY(sim.waitForCallEnds(1, kWaitMs));
        const RowCheck check = CheckRows(db, sim.pages());
        m_rowsLost += check.lost;
        QVERIFY2(check.lost == 0, qPrintable(QStringLiteral("drop at byte %1:%2").arg(offset).arg(check.fault)));
        QCOMPARE(prompt.shown, QStringList());
        unacknowledged += check.unacknowledged;
        m_rowsChecked += check.rows;
        ++m_faultsTried;
        pastTheEnd = sim.callEnds().first().how != CallEnd::DroppedByFault;
    }
    // The sweep passed the points where a block was taken but its ACK was cut.
    QVERIFY(unacknowledged >= 2);
}

void TestLineFaults::everyTerminalFault_data()
{
    QTest::addColumn<SimConfig>("config");
    // The other faults are run against the program, outcome by outcome, in the send tests.
    SimConfig slow;
    slow.faults.slowReplyMs = 300;
    SimConfig noLineEnd;
    noLineEnd.faults.longRunWithoutLineEnd = true;
    SimConfig idle;
    idle.idleTimeoutMs = 1;
    QTest::newRow("slow replies") << slow;
    QTest::newRow("no line end") << noLineEnd;
    QTest::newRow("idle cut-off") << idle;
}

void TestLineFaults::everyTerminalFault()
{
    QFETCH(SimConfig, config);
    TempSettings settingsFolder;
    TempDatabase db;
    PresetPrompt prompt;
    PagingSimulator sim(config);
    QueueMessage(db, StartSimulatedLine(sim, true), kPagers);
    CModemList modems([] { return kSimulatedLineName; });

    std::int32_t ticks = 0;
    QVERIFY(SendOnce(modems, kQuick, &ticks));
    QVERIFY(ticks <= CSendSession::kTimeoutTicks + 1);
    const RowCheck check = CheckRows(db, sim.pages());
    m_rowsLost += check.lost;
    QVERIFY2(check.lost == 0, qPrintable(check.fault));
    QCOMPARE(check.unacknowledged, 0);
    QCOMPARE(prompt.shown, QStringList());
    m_rowsChecked += check.rows;
    ++m_faultsTried;
}

// A dispatcher sends all day: a hundred sends leave its descriptors, threads and heap
// where they were. The terminal runs as a program of its own,
// so that only the sending side is counted.
void TestLineFaults::hundredSendsLeaveNothingBehind()
{
    // The heap grows over the first hundred or so sends (caches filling as the tables
    // grow) and then stays level; the hundred sends counted come after those.
    constexpr int kWarmUp = 100;
    constexpr int kSends = kWarmUp + 100;
    TempSettings settingsFolder;
    TempDatabase db;
    const QString log = QDir(QFileInfo(db.filePath()).path()).filePath(QStringLiteral("sim.jsonl"));
    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels);
    // Should this test be killed, the terminal goes with it.
    sim.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    sim.start(ProgramPath(QStringLiteral("quillpost-sim")),
        { QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--log"), log });
    QVERIFY(QTest::qWaitFor([&] { return sim.canReadLine(); }, kWaitMs));
    const QString listening = QString::fromLatin1(sim.readLine()).trimmed();
    QVERIFY2(listening.startsWith(QLatin1String("listening on ")), qPrintable(listening));
    ConfigureSimulatedLine(QStringLiteral("tcp"));
    const int provider = db.addProvider(QStringLiteral("P1"), listening.section(QLatin1Char(' '), 2), 1);
    const int user = db.addUser(QStringLiteral("User"), QStringLiteral("1001"), provider);
    const std::unique_ptr<ITelephony> machine = CreateLineTelephony();
    FakeTelephony telephony(machine.get());
    CModemList modems([] { return kSimulatedLineName; }, &telephony);
    int started = 0;
    int ended = 0;

    int fds = 0;
    int threads = 0;
    std::size_t heap = 0;
    for (int i = 0; i < kSends; ++i) {
        const int row = db.addMessageRow(user, 0, QStringLiteral("Page %1").arg(i));
        db.exec(QStringLiteral("UPDATE Messages SET MessageId = ID WHERE ID = ?"), { row });
        // The Select Modem dialog runs a discovery of its own now and then.
        modems.Discover();
        QVERIFY(SendOnce(modems, kQuick));
        // The calls written down are counted and let go, or they would fill the heap.
        started += telephony.count(QStringLiteral("lineInitialize"));
        ended += telephony.count(QStringLiteral("lineShutdown"));
        telephony.calls.clear();
        QCOMPARE(db.scalar(QStringLiteral("SELECT Status FROM Messages WHERE ID = ?"), { row }).toInt(),
            kStatusSent);
        sim.readAll(); // what the terminal printed would otherwise pile up here
        if (i == kWarmUp) {
            fds = CountEntries("/proc/self/fd");
            threads = CountEntries("/proc/self/task");
            heap = mallinfo2().uordblks;
        }
    }
    // The last send's line may still be winding down on its own threads.
    QVERIFY(QTest::qWaitFor([&] { return CountEntries("/proc/self/task") <= threads; }, kWaitMs));
    QVERIFY2(QTest::qWaitFor([&] { return CountEntries("/proc/self/fd") <= fds; }, kWaitMs),
        qPrintable(OpenDescriptors()));
    // The level moves by a few kilobytes either way; a leak of a few hundred bytes a
    // send would pass this bound.
    const std::size_t now = mallinfo2().uordblks;
    const std::size_t grown = now > heap ? now - heap : 0;
    QVERIFY2(grown < 16 * 1024, qPrintable(QStringLiteral("heap grew by %1 bytes").arg(grown)));
    sim.terminate();
    QVERIFY(sim.waitForFinished(kWaitMs));
    QCOMPARE(ended, started); // every line application started was shut down
    QFile pages(log);
    QVERIFY(pages.open(QIODevice::ReadOnly));
    QCOMPARE(pages.readAll().count("\"event\":\"page\""), kSends);
    m_rowsChecked += kSends;
}

void TestLineFaults::cleanupTestCase()
{
    RecordReliabilityFigures({ { QStringLiteral("lineFaults"), m_faultsTried },
        { QStringLiteral("rows"), m_rowsChecked }, { QStringLiteral("lost"), m_rowsLost } });
}

QTEST_GUILESS_MAIN(TestLineFaults)
#include "test_line_faults.moc"
