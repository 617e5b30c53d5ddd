// A long run of the headless dispatcher against the simulated paging terminal, with a
// fault drawn at random for about a third of the calls. It queues many messages, lets
// the dispatcher send, retry and give up until no row waits, and then checks every row
// against the pages the terminal took. Exits 0 when every row agrees, 1 when a row was
// lost or is stuck, a page belongs to no row or the program had something to tell the
// operator, 2 on a bad command line, 3 when the run hangs.
#include "ReliabilityFigures.h"
#include "SimulatedLine.h"
#include "SoakCheck.h"
#include "SoakDriver.h"
#include "SoakFaults.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "dispatch/MessageQueue.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <optional>
#include <random>
#include <thread>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

namespace {

constexpr int kUsers = 20;
// The terminal refuses every page to the last user's pager ID ("511 Invalid Pager ID"),
// so that user's rows take the path of a page given up after the fourth attempt.
const QByteArray kRefusedPagerId = QByteArray::number(3000 + kUsers);

struct SoakOptions
{
    int messages = 1000;
    std::uint32_t seed = 16;
    bool modemLine = false;
    int faultyPercent = 35;
    int timeoutSeconds = 0; // 0: two minutes plus three seconds a message
    bool verbose = false;
};

std::optional<SoakOptions> ReadOptions(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends queued messages through the simulated "
                       "terminal with random faults and checks every row."));
    parser.addHelpOption();
    const QCommandLineOption messages(QStringLiteral("messages"),
        QStringLiteral("Messages to queue."), QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption seed(QStringLiteral("seed"),
        QStringLiteral("Seed of the random choices."), QStringLiteral("S"), QStringLiteral("16"));
    const QCommandLineOption line(QStringLiteral("line"),
        QStringLiteral("tcp, or modem (a Hayes modem on a pseudo-terminal)."),
        QStringLiteral("TYPE"), QStringLiteral("tcp"));
    const QCommandLineOption faulty(QStringLiteral("faulty"),
        QStringLiteral("Percentage of calls given a fault."), QStringLiteral("P"),
        QStringLiteral("35"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
        QStringLiteral("Seconds before the run gives up."), QStringLiteral("S"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"), QStringLiteral("Print the dispatcher's log."));
    parser.addOptions({ messages, seed, line, faulty, timeout, verbose });
    parser.process(app);

    SoakOptions options;
    bool ok[4] = { true, true, true, true };
    options.messages = parser.value(messages).toInt(&ok[0]);
    options.seed = parser.value(seed).toUInt(&ok[1]);
    options.faultyPercent = parser.value(faulty).toInt(&ok[2]);
    if (parser.isSet(timeout))
        options.timeoutSeconds = parser.value(timeout).toInt(&ok[3]);
    options.modemLine = parser.value(line) == QLatin1String("modem");
    options.verbose = parser.isSet(verbose);
    const bool valid = ok[0] && ok[1] && ok[2] && ok[3] && options.messages > 0
        && options.faultyPercent >= 0 && options.faultyPercent <= 100 && options.timeoutSeconds >= 0
        && (options.modemLine || parser.value(line) == QLatin1String("tcp"));
    if (!valid) {
        std::fprintf(stderr, "soak_run: bad arguments; see --help\n");
        return std::nullopt;
    }
    return options;
}

// Ends the process should the run stop making its way out, so that a hang is reported
// rather than waited on for ever.
class HangWatchdog
{
public:
    explicit HangWatchdog(std::chrono::seconds limit)
        : m_finished(m_done.get_future())
        , m_thread([this, limit] {
            if (m_finished.wait_for(limit) == std::future_status::timeout) {
                std::fprintf(stderr, "soak_run: hung: still running %lld s after the start\n",
                    static_cast<long long>(limit.count()));
                std::_Exit(3);
            }
        })
    {
    }
    ~HangWatchdog()
    {
        m_done.set_value();
        m_thread.join();
    }
    HangWatchdog(const HangWatchdog&) = delete;
    HangWatchdog& operator=(const HangWatchdog&) = delete;

private:
    std::promise<void> m_done;
    std::future<void> m_finished;
    std::thread m_thread;
};

// Adds the users, each with a pager ID of its own, and gives each user's pager ID by ID.
QHash<int, QByteArray> AddUsers(const TempDatabase& db)
{
    QHash<int, QByteArray> pagers;
    for (int i = 1; i <= kUsers; ++i) {
        const QByteArray pager = QByteArray::number(3000 + i);
        pagers.insert(
            db.addUser(QStringLiteral("Soak user %1").arg(i), QString::fromLatin1(pager)), pager);
    }
    return pagers;
}

// Queues `count` messages due now, each with a text of its own and one to three
// different recipients, as the operator would.
void QueueMessages(int count, const QList<int>& users, std::mt19937& random)
{
    for (int i = 1; i <= count; ++i) {
        QList<int> shuffled = users;
        std::shuffle(shuffled.begin(), shuffled.end(), random);
        const int recipients = std::uniform_int_distribution<int>(1, 3)(random);
        const std::vector<std::int32_t> chosen(shuffled.begin(), shuffled.begin() + recipients);
        QueueMessage(QStringLiteral("Soak %1").arg(i, 4, 10, QLatin1Char('0')),
            COleDateTime::GetCurrentTime(), chosen);
    }
}

QList<SoakRow> ReadRows(const TempDatabase& db, const QHash<int, QByteArray>& pagers)
{
    QList<SoakRow> rows;
    const QStringList lines = db.rows(QStringLiteral("Messages"),
        QStringLiteral("ID || char(9) || Recipient || char(9) || Status || char(9) || Retries "
                       "|| char(9) || Text"));
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        rows.append({ fields[0].toInt(), pagers.value(fields[1].toInt()), fields[4].toLatin1(),
            fields[2].toInt(), fields[3].toInt() });
    }
    return rows;
}

void PrintList(const char* heading, const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    std::printf("%s:\n", heading);
    for (const QString& line : lines)
        std::printf("  %s\n", qPrintable(line));
}

void PrintSummary(const SoakVerdict& verdict, const SoakDriver& driver,
    const SoakFaultPicker& faults, const PagingSimulator& sim)
{
    PrintList("rows stuck", verdict.stuck);
    PrintList("rows lost", verdict.lost);
    PrintList("pages that belong to no row", verdict.strangers);
    std::printf("calls: %d (connected %d, ended by the send's time-out %d)\n", driver.Calls(),
        sim.callCount(), driver.TimedOutCalls());
    QStringList kinds;
    for (const auto& [kind, count] : faults.Injected())
        kinds << QStringLiteral("%1 %2").arg(kind).arg(count);
    std::printf("faults injected: %d (%s)\n", faults.InjectedTotal(),
        qPrintable(kinds.join(QStringLiteral(", "))));
    std::printf("rows: %d; sent %d, given up %d, stuck %d\n", verdict.rows, verdict.sent,
        verdict.givenUp, int(verdict.stuck.size()));
    std::printf("pages taken: %d; duplicate pages %d (all with lost acknowledgements)\n",
        int(sim.pages().size()), verdict.duplicates);
    std::printf("rows lost: %d\n", int(verdict.lost.size()));
}

SimConfig SoakTerminal()
{
    SimConfig config;
    config.ringDelayMs = 0;
    config.guardTimeMs = 100;
    config.unknownPagerIds = { kRefusedPagerId };
    return config;
}

// A 3 ms tick makes the send's time-out (1200 ticks) some 3.6 s; no pauses while closing.
// A modem keeps the program's pause after dropping a call, which gives it time to leave
// the call before the next dial.
SendTiming SoakTiming(bool modemLine)
{
    return { 3, 0, modemLine ? CModemConnection::kHangUpPauseMs : 0 };
}

int WaitingRows(const TempDatabase& db)
{
    return db.scalar(QStringLiteral("SELECT COUNT(*) FROM Messages WHERE Status = 0")).toInt();
}

// Queues the messages, dispatches them all, checks the rows and prints the figures.
// True when every row agrees with the terminal's pages.
bool RunSoak(const SoakOptions& options, int timeoutSeconds)
{
    TempSettings settings;
    TempDatabase db;
    PagingSimulator sim(SoakTerminal());
    db.addProvider(QStringLiteral("Soak provider"), StartSimulatedLine(sim, !options.modemLine), 1);
    const QHash<int, QByteArray> pagers = AddUsers(db);
    QList<int> users = pagers.keys();
    std::sort(users.begin(), users.end()); // a hash's order changes from run to run
    std::mt19937 random(options.seed);
    QueueMessages(options.messages, users, random);

    SoakFaultPicker faults(random, options.modemLine, options.faultyPercent);
    SoakDriver driver(
        sim, faults, [&db] { return WaitingRows(db); }, SoakTiming(options.modemLine),
        options.verbose);
    if (!driver.Run(timeoutSeconds * 1000))
        std::printf("soak: rows still waiting after %d s\n", timeoutSeconds);
    sim.waitForCallEnds(sim.callCount(), 10000);

    const SoakVerdict verdict = CheckSoakRows(ReadRows(db, pagers), sim.pages());
    PrintSummary(verdict, driver, faults, sim);
    const int lost = int(verdict.lost.size() + verdict.stuck.size());
    RecordReliabilityFigures({ { QStringLiteral("lineFaults"), faults.InjectedTotal() },
        { QStringLiteral("rows"), verdict.rows }, { QStringLiteral("lost"), lost } });
    return lost == 0 && verdict.strangers.isEmpty() && driver.OperatorMessages().isEmpty();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<SoakOptions> options = ReadOptions(app);
    if (!options)
        return 2;
    const int timeoutSeconds
        = options->timeoutSeconds > 0 ? options->timeoutSeconds : 120 + 3 * options->messages;
    HangWatchdog watchdog(std::chrono::seconds(timeoutSeconds + 120));
    QElapsedTimer wallTime;
    wallTime.start();
    std::printf("soak: %d messages, seed %u, %s line, %d%% of calls faulty, pager %s refused\n",
        options->messages, options->seed, options->modemLine ? "modem" : "tcp",
        options->faultyPercent, kRefusedPagerId.constData());
    std::fflush(stdout);

    const bool clean = RunSoak(*options, timeoutSeconds);
    std::printf("wall time: %.1f s\n", double(wallTime.elapsed()) / 1000.0);
    std::printf("soak: %s\n", clean ? "every row accounted for" : "FAILED");
    return clean ? 0 : 1;
}
