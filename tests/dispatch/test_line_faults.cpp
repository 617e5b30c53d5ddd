#include "FakeTelephony.h"
#include "OneSend.h"
#include "PresetPrompt.h"
#include "ProgramPath.h"
#include "ReliabilityFigures.h"
#include "SimulatedLine.h"
#include "TempSettings.h"
#include "data/MessageStatus.h"

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

// AddressSanitizer keeps a heap of its own, which mallinfo2 does not see.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapVisible = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kHeapVisible = false;
#else
constexpr bool kHeapVisible = true;
#endif
#else
constexpr bool kHeapVisible = true;
#endif

constexpr int kWaitMs = 60000;
// Short ticks, and no pauses while closing: a send over TCP takes some 50 ms.
constexpr SendTiming kQuick { 5, 0, 0 };
const QStringList kPagers { "1001", "1002" }; // as QueueMessage names them

struct RowCheck
{
    int lost = 0; // rows whose state contradicts what the terminal did
    int unacknowledged = 0; // pages taken whose acknowledgement the line lost
    QString fault;
};

// Compares each row with the terminal's pages: Status 1 exactly when an acknowledged
// page went to its pager; a failed attempt counted at most once; nothing given up.
RowCheck CheckRows(const TempDatabase& db, const QList<AcceptedPage>& pages)
{
    RowCheck check;
    const QStringList rows = db.rows("Messages", "Status || ' ' || Retries"); // as kPagers
    for (int i = 0; i < rows.size(); ++i) {
        bool acknowledged = false;
        for (const AcceptedPage& page : pages) {
            if (page.pagerId == kPagers[i].toLatin1()) {
                acknowledged = acknowledged || page.acknowledged;
                check.unacknowledged += page.acknowledged ? 0 : 1;
            }
        }
        const int status = rows[i].section(' ', 0, 0).toInt();
        const int retries = rows[i].section(' ', 1).toInt();
        if ((status == MessageStatus::Sent) != acknowledged || retries > 1
            || status == MessageStatus::Failed) {
            ++check.lost;
            check.fault += QStringLiteral(" pager %1: Status and Retries %2, acknowledged %3;")
                               .arg(kPagers[i], rows[i])
                               .arg(acknowledged);
        }
    }
    return check;
}

int CountEntries(const char* folder)
{
    return int(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

// What each open descriptor leads to, for the message of a failed count.
QString OpenDescriptors()
{
    QStringList targets;
    const QDir folder("/proc/self/fd");
    for (const QFileInfo& entry :
        folder.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System))
        targets << entry.fileName() + " -> " + entry.symLinkTarget();
    return targets.join(", ");
}

} // namespace

class TestLineFaults : public QObject
{
    Q_OBJECT

private slots:
    void everyLineFault_data()
    {
        QTest::addColumn<SimConfig>("config");
        QTest::addColumn<bool>("tcp");
        // The line is dropped after 1, 1 + stride, 1 + 2 stride ... bytes of the conversation
        // until a drop point lies beyond its end; 0: one send with the terminal's fault alone.
        QTest::addColumn<int>("stride");
        const auto with = [](auto set) {
            SimConfig config;
            config.ringDelayMs = 0;
            config.guardTimeMs = 100;
            set(config);
            return config;
        };
        QTest::newRow("TCP, dropped at every byte") << with([](SimConfig&) {}) << true << 1;
        QTest::newRow("modem, dropped at every fifth byte")
            << with([](SimConfig&) {}) << false << 5;
        // The other terminal faults are run against the program, outcome by outcome, in the
        // send tests.
        QTest::newRow("slow replies")
            << with([](SimConfig& c) { c.faults.slowReplyMs = 300; }) << true << 0;
        QTest::newRow("no line end")
            << with([](SimConfig& c) { c.faults.longRunWithoutLineEnd = true; }) << true << 0;
        QTest::newRow("idle cut-off")
            << with([](SimConfig& c) { c.idleTimeoutMs = 1; }) << true << 0;
    }

    // Two recipients in one call: each send ends by its time-out at the latest, every row
    // agrees with the pages and nothing is shown.
    void everyLineFault()
    {
        QFETCH(SimConfig, config);
        QFETCH(bool, tcp);
        QFETCH(int, stride);
        int unacknowledged = 0;
        for (int offset = std::min(stride, 1);; offset += stride) {
            QVERIFY2(offset < 2000, "the conversation never ended");
            const QString what = stride > 0 ? QStringLiteral("drop at byte %1:").arg(offset) : "";
            TempSettings settingsFolder;
            TempDatabase db;
            PresetPrompt prompt;
            config.faults.dropLineAtByte = offset;
            PagingSimulator sim(config);
            QueueMessage(db, StartSimulatedLine(sim, tcp), { 0, 0 }, "Ward 4 call back",
                "2026-01-01 12:00:00");
            CModemList modems([] { return kSimulatedLineName; });
            Send send(modems, kQuick);
            QVERIFY2(send.Run(kWaitMs), qPrintable(what));
            QVERIFY(send.session->TickCount() <= CSendSession::kTimeoutTicks + 1);
            QVERIFY(sim.waitForCallEnds(1, kWaitMs));
            const RowCheck check = CheckRows(db, sim.pages());
            m_rowsLost += check.lost;
            QVERIFY2(check.lost == 0, qPrintable(what + check.fault));
            QCOMPARE(prompt.shown, QStringList());
            m_rowsChecked += int(kPagers.size());
            ++m_faultsTried;
            unacknowledged += check.unacknowledged;
            if (sim.callEnds().first().how != CallEnd::DroppedByFault)
                break;
        }
        // A sweep passes the points where a block was taken but its ACK was cut.
        QVERIFY(stride > 0 ? unacknowledged >= 2 : unacknowledged == 0);
    }

    // A dispatcher sends all day: a hundred sends leave its descriptors, threads and heap
    // where they were. The terminal runs as a program of its own, so that only the sending
    // side is counted.
    void hundredSendsLeaveNothingBehind()
    {
        // The heap grows over the first two hundred or so sends (caches filling as the
        // tables grow) and then stays level; the hundred sends counted come after those.
        constexpr int kWarmUp = 200;
        constexpr int kSends = kWarmUp + 100;
        TempSettings settingsFolder;
        TempDatabase db;
        const QString log = QFileInfo(db.filePath()).path() + "/sim.jsonl";
        QProcess sim;
        sim.setProcessChannelMode(QProcess::MergedChannels);
        // Should this test be killed, the terminal goes with it.
        sim.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        sim.start(ProgramPath("quillpost-sim"), { "--tcp", "0", "--log", log });
        QVERIFY(QTest::qWaitFor([&] { return sim.canReadLine(); }, kWaitMs));
        const QString listening = QString::fromLatin1(sim.readLine()).trimmed();
        QVERIFY2(listening.startsWith("listening on "), qPrintable(listening));
        ConfigureSimulatedLine("tcp");
        const int user
            = db.addUser("User", "1001", db.addProvider("P1", listening.section(' ', 2), 1));
        const std::unique_ptr<ITelephony> machine = CreateLineTelephony();
        FakeTelephony telephony(machine.get());
        CModemList modems([] { return kSimulatedLineName; }, &telephony);
        int started = 0; // line applications
        int ended = 0;
        int fds = 0;
        int threads = 0;
        std::size_t heap = 0;
        for (int i = 0; i < kSends; ++i) {
            const int row = db.addMessageRow(user, 0, QStringLiteral("Page %1").arg(i));
            db.exec("UPDATE Messages SET MessageId = ID WHERE ID = ?", { row });
            // The Select Modem dialog runs a discovery of its own now and then.
            modems.Discover();
            QVERIFY(Send(modems, kQuick).Run(kWaitMs));
            // The calls written down are counted and let go, or they would fill the heap.
            started += telephony.count("lineInitialize");
            ended += telephony.count("lineShutdown");
            telephony.calls.clear();
            QCOMPARE(db.scalar("SELECT Status FROM Messages WHERE ID = ?", { row }).toInt(),
                StatusValue(MessageStatus::Sent));
            sim.readAll(); // what the terminal printed would otherwise pile up here
            if (i == kWarmUp) {
                fds = CountEntries("/proc/self/fd");
                threads = CountEntries("/proc/self/task");
                heap = mallinfo2().uordblks;
            }
        }
        // The last send's line may still be winding down on its own threads.
        QVERIFY(
            QTest::qWaitFor([&] { return CountEntries("/proc/self/task") <= threads; }, kWaitMs));
        QVERIFY2(QTest::qWaitFor([&] { return CountEntries("/proc/self/fd") <= fds; }, kWaitMs),
            qPrintable(OpenDescriptors()));
        // The level moves by a few kilobytes either way; a leak of a few hundred bytes a
        // send would pass this bound.
        const std::size_t now = mallinfo2().uordblks;
        const std::size_t grown = now > heap ? now - heap : 0;
        if (!kHeapVisible)
            qInfo("The heap check is skipped: mallinfo2 does not see AddressSanitizer's heap");
        else
            QVERIFY2(grown < 16 * 1024, qPrintable(QString("heap grew by %1 bytes").arg(grown)));
        sim.terminate();
        QVERIFY(sim.waitForFinished(kWaitMs));
        QCOMPARE(ended, started); // every line application started was shut down
        QFile pages(log);
        QVERIFY(pages.open(QIODevice::ReadOnly));
        QCOMPARE(pages.readAll().count("\"event\":\"page\""), kSends);
        m_rowsChecked += kSends;
    }

    void cleanupTestCase()
    {
        RecordReliabilityFigures(
            { { "lineFaults", m_faultsTried }, { "rows", m_rowsChecked }, { "lost", m_rowsLost } });
    }

private:
    int m_faultsTried = 0;
    int m_rowsChecked = 0;
    int m_rowsLost = 0;
};

QTEST_GUILESS_MAIN(TestLineFaults)
#include "test_line_faults.moc"
