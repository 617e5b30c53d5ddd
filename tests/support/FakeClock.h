#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <atomic>

// A clock that stands still until the test moves it, installed for the lifetime of the
// object. Starts at the given local date and time.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(const QDateTime& start = QDateTime(QDate(2026, 3, 10), QTime(9, 0, 0)))
        : m_seconds(start.toSecsSinceEpoch())
    {
        Clock::install(this);
    }
    ~FakeClock() override { Clock::install(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    std::int64_t SecondsSinceEpoch() const override { return m_seconds.load(); }

    void set(const QDateTime& when) { m_seconds.store(when.toSecsSinceEpoch()); }
    void advance(std::int64_t seconds) { m_seconds.fetch_add(seconds); }

private:
    std::atomic<std::int64_t> m_seconds;
};
