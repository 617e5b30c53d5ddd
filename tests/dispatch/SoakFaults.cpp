#include "SoakFaults.h"

#include <algorithm>
#include <iterator>
#include <numeric>

using quillpost::sim::SimFaults;

namespace {

using Random = std::mt19937;

int Between(Random& random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

struct FaultKind
{
    const char* name;
    bool modemOnly;
    void (*apply)(SimFaults&, Random&);
};

// The send gives up after 1200 ticks, some 3.6 s at the soak's 3 ms tick (longer on a
// loaded machine, never shorter), and wakes the terminal every 20 ticks until it answers.
// A slow terminal answers each of those wake-ups in turn, so a delay near the wake-up
// period would pile up answers; delays stay below 50 ms, and pieces of at least two
// bytes come at most 4 ms apart. A call of seven to ten replies and up to 250 bytes then
// ends within about half a second, and every page the terminal acknowledges reaches the
// program seconds before its time-out, as it would at the real periods.
const FaultKind kKinds[] = {
    { "nakBlock", false, [](SimFaults& f, Random& r) { f.nakBlock = Between(r, 1, 3); } },
    { "nakLoginTimes", false, [](SimFaults& f, Random& r) { f.nakLoginTimes = Between(r, 1, 3); } },
    { "dropLineAfterBlock", false,
        [](SimFaults& f, Random& r) { f.dropLineAfterBlock = Between(r, 1, 3); } },
    { "dropLineAtByte", false,
        [](SimFaults& f, Random& r) { f.dropLineAtByte = Between(r, 1, 200); } },
    { "garbage", false, [](SimFaults& f, Random&) { f.garbage = true; } },
    { "chunkSize", false,
        [](SimFaults& f, Random& r) {
            f.chunkSize = Between(r, 2, 16);
            f.chunkPauseMs = Between(r, 1, 4);
        } },
    { "slowReplyMs", false, [](SimFaults& f, Random& r) { f.slowReplyMs = Between(r, 10, 50); } },
    { "silentAfterConnect", false, [](SimFaults& f, Random&) { f.silentAfterConnect = true; } },
    { "longRunWithoutLineEnd", false,
        [](SimFaults& f, Random&) { f.longRunWithoutLineEnd = true; } },
    { "busy", true, [](SimFaults& f, Random&) { f.busy = true; } },
    { "noCarrier", true, [](SimFaults& f, Random&) { f.noCarrier = true; } },
    { "noAnswer", true, [](SimFaults& f, Random&) { f.noAnswer = true; } },
};

} // namespace

SoakFaultPicker::SoakFaultPicker(Random& random, bool modemLine, int faultyPercent)
    : m_random(random)
    , m_modemLine(modemLine)
    , m_faultyPercent(faultyPercent)
{
}

SimFaults SoakFaultPicker::Next()
{
    if (!m_pendingKind.isEmpty())
        ++m_injected[m_pendingKind];
    m_pendingKind.clear();
    if (Between(m_random, 1, 100) > m_faultyPercent)
        return {};
    return Draw(m_pendingKind);
}

SimFaults SoakFaultPicker::Draw(QString& kind)
{
    const int usable = m_modemLine ? int(std::size(kKinds))
                                   : int(std::count_if(std::begin(kKinds), std::end(kKinds),
                                       [](const FaultKind& k) { return !k.modemOnly; }));
    // The modem-only kinds come last, so the first `usable` ones are those the line has.
    const FaultKind& chosen = kKinds[Between(m_random, 0, usable - 1)];
    SimFaults faults;
    chosen.apply(faults, m_random);
    kind = QString::fromLatin1(chosen.name);
    return faults;
}

int SoakFaultPicker::InjectedTotal() const
{
    return std::accumulate(m_injected.begin(), m_injected.end(), 0,
        [](int sum, const auto& entry) { return sum + entry.second; });
}
