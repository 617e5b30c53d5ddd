// A long run of the headless dispatcher against the simulated paging terminal, with a
// fault drawn at random for about a third of the calls; with --lines N, N modem lines
// send at once, each to a terminal of its own, for as many providers. It queues many
// messages, lets the dispatcher send, retry and give up until no row waits, and then
// checks every row against the pages the terminals took. Exits 0 when every row agrees,
// 1 when a row was lost or is stuck, a page belongs to no row or the program had
// something to tell the operator, 2 on a bad command line, 3 when the run hangs.
#include "ReliabilityFigures.h"
#include "SimulatedLine.h"
#include "SoakCheck.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "dispatch/HeadlessDispatcher.h"
#include "dispatch/MessageQueue.h"
#include "modem/ModemList.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <thread>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;
using quillpost::sim::SimFaults;
using Random = std::mt19937;

namespace {

constexpr int kUsers = 20;
// The terminal refuses every page to the last user's pager ID ("511 Invalid Pager ID"),
// so that user's rows take the path of a page given up after the fourth attempt.
const QByteArray kRefusedPagerId = QByteArray::number(3000 + kUsers);
constexpr int kSchedulerMs = 20;

struct SoakOptions
{
    int messages = 0;
    std::uint32_t seed = 0;
    bool modemLine = false;
    int faultyPercent = 0;
    int timeoutSeconds = 0;
    bool verbose = false;
    int lines = 1;
};

std::optional<SoakOptions> ReadOptions(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Sends queued messages through the simulated terminal "
                                     "with random faults and checks every row.");
    parser.addHelpOption();
    parser.addOptions({ { "messages", "Messages to queue.", "N", "1000" },
        { "seed", "Seed of the random choices.", "S", "16" },
        { "line", "tcp, or modem (a Hayes modem on a pseudo-terminal).", "TYPE", "tcp" },
        { "faulty", "Percentage of calls given a fault.", "P", "35" },
        { "timeout", "Seconds before the run gives up (0: 120 plus 3 a message).", "S", "0" },
        { "verbose", "Print the dispatcher's log." },
        { "lines",
            "Modem lines sending at once, each its own simulator and provider "
            "(more than one: modem lines only).",
            "N", "1" } });
    parser.process(app);

    bool ok[5] = {};
    const int lines = parser.value("lines").toInt(&ok[4]);
    SoakOptions options { parser.value("messages").toInt(&ok[0]),
        parser.value("seed").toUInt(&ok[1]), parser.value("line") == "modem" || lines > 1,
        parser.value("faulty").toInt(&ok[2]), parser.value("timeout").toInt(&ok[3]),
        parser.isSet("verbose"), lines };
    if (options.timeoutSeconds == 0)
        options.timeoutSeconds = 120 + 3 * options.messages;
    const bool tcpAsked = parser.isSet("line") && parser.value("line") == "tcp";
    if (ok[0] && ok[1] && ok[2] && ok[3] && ok[4] && options.messages > 0
        && options.faultyPercent >= 0 && options.faultyPercent <= 100 && options.timeoutSeconds > 0
        && options.lines >= 1 && !(lines > 1 && tcpAsked)
        && (options.modemLine || parser.value("line") == "tcp"))
        return options;
    std::fprintf(stderr, "soak_run: bad arguments; see --help\n");
    return std::nullopt;
}

int Between(Random& random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

struct FaultKind
{
    const char* name;
    void (*apply)(SimFaults&, Random&);
};

// The send gives up after 1200 ticks, some 3.6 s at the soak's 3 ms tick (longer on a
// loaded machine, never shorter), and wakes the terminal every 20 ticks until it answers.
// A slow terminal answers each of those wake-ups in turn, so a delay near the wake-up
// period would pile up answers; delays stay below 50 ms, and pieces of at least two
// bytes come at most 4 ms apart. A call of seven to ten replies and up to 250 bytes then
// ends within about half a second, and every page the terminal acknowledges reaches the
// program seconds before its time-out, as it would at the real periods.
// The last three, modem-only, are drawn only for a modem line.
const FaultKind kKinds[] = {
    { "nakBlock", [](SimFaults& f, Random& r) { f.nakBlock = Between(r, 1, 3); } },
    { "nakLoginTimes", [](SimFaults& f, Random& r) { f.nakLoginTimes = Between(r, 1, 3); } },
    { "dropLineAfterBlock",
        [](SimFaults& f, Random& r) { f.dropLineAfterBlock = Between(r, 1, 3); } },
    { "dropLineAtByte", [](SimFaults& f, Random& r) { f.dropLineAtByte = Between(r, 1, 200); } },
    { "garbage", [](SimFaults& f, Random&) { f.garbage = true; } },
    { "chunkSize",
        [](SimFaults& f, Random& r) {
            f.chunkSize = Between(r, 2, 16);
            f.chunkPauseMs = Between(r, 1, 4);
        } },
    { "slowReplyMs", [](SimFaults& f, Random& r) { f.slowReplyMs = Between(r, 10, 50); } },
    { "silentAfterConnect", [](SimFaults& f, Random&) { f.silentAfterConnect = true; } },
    { "longRunWithoutLineEnd", [](SimFaults& f, Random&) { f.longRunWithoutLineEnd = true; } },
    { "busy", [](SimFaults& f, Random&) { f.busy = true; } },
    { "noCarrier", [](SimFaults& f, Random&) { f.noCarrier = true; } },
    { "noAnswer", [](SimFaults& f, Random&) { f.noAnswer = true; } },
};

// The simulators, each behind a line of its own, and a provider per line. One line is
// the program's one line device (tcp or a modem) and its default provider; several are
// Hayes modems, every one a send line, so that their calls run at once.
struct SoakLines
{
    std::vector<std::unique_ptr<PagingSimulator>> sims;
    QStringList names; // the line device in front of each simulator
    QList<int> providers;
};

SoakLines StartLines(const SoakOptions& options, const SimConfig& config, const TempDatabase& db)
{
    SoakLines lines;
    for (int i = 0; i < options.lines; ++i)
        lines.sims.push_back(std::make_unique<PagingSimulator>(config));
    if (options.lines == 1) {
        lines.names << kSimulatedLineName;
        lines.providers << db.addProvider(
            "Soak provider", StartSimulatedLine(*lines.sims[0], !options.modemLine), 1);
        return lines;
    }
    std::vector<PagingSimulator*> sims;
    for (const auto& sim : lines.sims)
        sims.push_back(sim.get());
    lines.names = StartSimulatedModems(sims);
    // Whatever number a provider has, the line a call goes out on decides who answers.
    for (int i = 1; i <= options.lines; ++i)
        lines.providers << db.addProvider(QStringLiteral("Soak provider %1").arg(i),
            QStringLiteral("555123%1").arg(i), i == 1 ? 1 : 0);
    return lines;
}

// "Message 12: 2 recipient(s) through 5551231 on Modem 2.", logged before the send dials.
const QRegularExpression kSendStart(
    QStringLiteral("^Message \\d+: \\d+ recipient\\(s\\) through .* on (.+)\\.$"));

void PrintList(const char* heading, const QStringList& lines)
{
    if (!lines.isEmpty())
        std::printf("%s:\n  %s\n", heading, qPrintable(lines.join("\n  ")));
}

// Queues the messages, each with a text of its own and one to three different
// recipients, and runs the headless dispatcher until no row waits any more, or until the
// time-out. As a send starts it draws that call's faults for the terminal on the send's
// line, which applies them from its next connection on: the send dials only afterwards,
// and no other send uses its line until it closes. Then it checks the rows against the
// pages of every line's terminal and prints the figures. True when every row agrees.
bool RunSoak(const SoakOptions& options)
{
    TempSettings settings;
    TempDatabase db;
    SimConfig config;
    config.ringDelayMs = 0;
    config.guardTimeMs = 100;
    config.unknownPagerIds = { kRefusedPagerId };
    const SoakLines lines = StartLines(options, config, db);
    QList<int> users;
    for (int i = 1; i <= kUsers; ++i)
        users << db.addUser(QStringLiteral("Soak user %1").arg(i), QString::number(3000 + i),
            lines.providers.size() == 1 ? 0 : lines.providers[(i - 1) % lines.providers.size()]);
    Random random(options.seed);
    for (int i = 1; i <= options.messages; ++i) {
        QList<int> chosen = users;
        std::shuffle(chosen.begin(), chosen.end(), random);
        const int recipients = Between(random, 1, 3);
        QueueMessage(QStringLiteral("Soak %1").arg(i, 4, 10, QLatin1Char('0')),
            COleDateTime::GetCurrentTime(),
            std::vector<std::int32_t>(chosen.begin(), chosen.begin() + recipients));
    }

    // Most calls are clean, the others get one fault drawn at random; every draw is
    // made for a call about to dial, and counted then.
    QString pending; // the kind of the last draw; empty: a clean call
    std::map<QString, int> injected; // calls given each kind
    int injectedTotal = 0;
    const auto nextFaults = [&] {
        pending.clear();
        SimFaults faults;
        if (Between(random, 1, 100) > options.faultyPercent)
            return faults;
        const int usable = int(std::size(kKinds)) - (options.modemLine ? 0 : 3);
        const FaultKind& chosen = kKinds[Between(random, 0, usable - 1)];
        chosen.apply(faults, random);
        pending = QString::fromLatin1(chosen.name);
        ++injected[pending];
        ++injectedTotal;
        return faults;
    };
    int calls = 0;
    int timedOutCalls = 0;
    QStringList operatorMessages; // what the program would have shown; none is expected
    QElapsedTimer clock;
    // A 3 ms tick makes the send's time-out (1200 ticks) some 3.6 s; no pauses while
    // closing. A modem keeps the program's pause after dropping a call, which gives it
    // time to leave the call before the next dial.
    const SendTiming timing { 3, 0, options.modemLine ? CModemConnection::kHangUpPauseMs : 0 };
    CModemList modems([name = lines.names.first()] { return name; });
    CHeadlessDispatcher* running = nullptr; // set once made, before it logs
    CHeadlessDispatcher dispatcher(
        modems,
        [&](const QString& line) {
            if (options.verbose)
                std::printf("%9.3f  %s\n", double(clock.elapsed()) / 1000.0, qPrintable(line));
            if (line.startsWith("Error: ") || line.endsWith("(answered No)")) {
                operatorMessages << line;
                std::printf("  the program said: %s\n", qPrintable(line));
            }
            timedOutCalls += line.endsWith(CSendSession::kTimedOut) ? 1 : 0;
            if (const QRegularExpressionMatch start = kSendStart.match(line); start.hasMatch()) {
                const qsizetype index = lines.names.indexOf(start.captured(1));
                if (index < 0) {
                    operatorMessages << line;
                    std::printf(
                        "  a send started on a line of no simulator: %s\n", qPrintable(line));
                    return;
                }
                lines.sims[std::size_t(index)]->setFaults(nextFaults());
                if (options.verbose)
                    std::printf("           the next call's fault: %s\n", qPrintable(pending));
                return;
            }
            if (!line.endsWith(": call ended."))
                return;
            // The database is read once the send's own stack has unwound.
            QTimer::singleShot(0, running, [&] {
                const int waiting = db.scalar("SELECT COUNT(*) FROM Messages WHERE Status = ?",
                                          { StatusValue(MessageStatus::Waiting) })
                                        .toInt();
                if (++calls % 100 == 0) {
                    std::printf("  %d calls, %d row(s) waiting\n", calls, waiting);
                    std::fflush(stdout);
                }
                if (waiting == 0)
                    running->Stop();
            });
        },
        kSchedulerMs, timing,
        [names = lines.names] {
            SendCapacity capacity;
            capacity.lines = names;
            return capacity;
        });
    running = &dispatcher;
    QEventLoop loop;
    QObject::connect(
        &dispatcher, &CHeadlessDispatcher::Stopped, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QTimer::singleShot(options.timeoutSeconds * 1000, &dispatcher, [&] {
        std::printf("soak: rows still waiting after %d s\n", options.timeoutSeconds);
        dispatcher.Stop();
    });
    clock.start();
    dispatcher.Start();
    loop.exec();
    QList<QList<AcceptedPage>> taken; // by line
    int connected = 0;
    for (const auto& sim : lines.sims) {
        sim->waitForCallEnds(sim->callCount(), 10000);
        taken << sim->pages();
        connected += sim->callCount();
    }
    const QList<AcceptedPage> pages = MergeLinePages(taken);

    QList<SoakRow> rows;
    for (const QString& line :
        db.rows("(SELECT Messages.ID AS ID, TelephoneNumber, Status, Retries, "
                "Text FROM Messages LEFT JOIN Users ON Users.ID = Recipient)",
            "ID || char(9) || ifnull(TelephoneNumber, '') || char(9) || Status || char(9) || "
            "Retries || "
            "char(9) || Text")) {
        const QStringList fields = line.split('\t');
        rows.append({ fields[0].toInt(), fields[1].toLatin1(), fields[4].toLatin1(),
            fields[2].toInt(), fields[3].toInt() });
    }
    const SoakVerdict verdict = CheckSoakRows(rows, pages);
    PrintList("rows stuck", verdict.stuck);
    PrintList("rows lost", verdict.lost);
    PrintList("pages that belong to no row", verdict.strangers);
    std::printf("calls: %d (connected %d, ended by the send's time-out %d)\n", calls, connected,
        timedOutCalls);
    QStringList kinds;
    for (const auto& [kind, count] : injected)
        kinds << QStringLiteral("%1 %2").arg(kind).arg(count);
    std::printf("faults injected: %d (%s)\n", injectedTotal, qPrintable(kinds.join(", ")));
    std::printf("rows: %d; sent %d, given up %d, stuck %d\n", verdict.rows, verdict.sent,
        verdict.givenUp, int(verdict.stuck.size()));
    std::printf("pages taken: %d; duplicate pages %d (all with lost acknowledgements)\n",
        int(pages.size()), verdict.duplicates);
    std::printf("rows lost: %d\n", int(verdict.lost.size()));
    const int lost = int(verdict.lost.size() + verdict.stuck.size());
    RecordReliabilityFigures(
        { { "lineFaults", injectedTotal }, { "rows", verdict.rows }, { "lost", lost } });
    return lost == 0 && verdict.strangers.isEmpty() && operatorMessages.isEmpty();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<SoakOptions> options = ReadOptions(app);
    if (!options)
        return 2;
    // Should the run stop making its way out, a hang is reported rather than waited on.
    std::thread([limit = options->timeoutSeconds + 120] {
        std::this_thread::sleep_for(std::chrono::seconds(limit));
        std::fprintf(stderr, "soak_run: hung: still running %d s after the start\n", limit);
        std::_Exit(3);
    }).detach();
    QElapsedTimer wallTime;
    wallTime.start();
    const QString lines = options->lines == 1
        ? QStringLiteral("%1 line").arg(options->modemLine ? "modem" : "tcp")
        : QStringLiteral("%1 modem lines").arg(options->lines);
    std::printf("soak: %d messages, seed %u, %s, %d%% of calls faulty, pager %s refused\n",
        options->messages, options->seed, qPrintable(lines), options->faultyPercent,
        kRefusedPagerId.constData());
    std::fflush(stdout);

    const bool clean = RunSoak(*options);
    std::printf("wall time: %.1f s\n", double(wallTime.elapsed()) / 1000.0);
    std::printf("soak: %s\n", clean ? "every row accounted for" : "FAILED");
    return clean ? 0 : 1;
}
