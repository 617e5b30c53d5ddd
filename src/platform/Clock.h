#pragma once

#include <cstdint>

// Where the program asks what time it is. Every "now" of the program (the scheduler's
// due test, the times written into message rows) comes from here, so that a test can
// set the time instead of waiting for it. The system clock serves unless another
// clock is installed.
class Clock
{
public:
    virtual ~Clock() = default;

    // Whole seconds since 1 January 1970 UTC.
    virtual std::int64_t SecondsSinceEpoch() const = 0;

    static const Clock& current();
    // Installs the clock used from now on (not owned); nullptr restores the system clock.
    static void install(const Clock* clock);
};
