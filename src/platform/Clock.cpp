#include "platform/Clock.h"

#include <atomic>
#include <ctime>

namespace {

class SystemClock final : public Clock
{
public:
    std::int64_t SecondsSinceEpoch() const override { return std::time(nullptr); }
};

const SystemClock g_systemClock;
// Read from any thread that records a time; installed by tests before they start one.
std::atomic<const Clock*> g_installed { nullptr };

} // namespace

const Clock& Clock::current()
{
    const Clock* installed = g_installed.load();
    return installed ? *installed : g_systemClock;
}

void Clock::install(const Clock* clock)
{
    g_installed.store(clock);
}
