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

// The send gives up after 1200 ticks (some 2.4 s at the soak's 2 ms tick, more on a
// loaded machine). A call carries about seven replies and 150 to 250 bytes, so slow
// replies stay below 150 ms each and reply pieces below 10 ms apart: an acknowledged
// page always reaches the program before its time-out.
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
            f.chunkSize = Between(r, 1, 16);
            f.chunkPauseMs = Between(r, 1, 8);
        } },
    { "slowReplyMs", false, [](SimFaults& f, Random& r) { f.slowReplyMs = Between(r, 20, 150); } },
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
