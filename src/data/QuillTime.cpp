#include "data/QuillTime.h"

#include "platform/Clock.h"

#include <ctime>
#include <optional>

namespace {

QuillTime clampSeconds(long long seconds)
{
    if (seconds < kEarliestQuillTime)
        return kEarliestQuillTime;
    if (seconds > kLatestQuillTime)
        return kLatestQuillTime;
    return static_cast<QuillTime>(seconds);
}

// The seconds since the epoch of a local date and time, unclamped; nothing when mktime
// cannot tell (beyond what time_t holds).
std::optional<long long> secondsOf(const COleDateTime& value)
{
    std::tm local {};
    local.tm_year = value.GetYear() - 1900;
    local.tm_mon = value.GetMonth() - 1;
    local.tm_mday = value.GetDay();
    local.tm_hour = value.GetHour();
    local.tm_min = value.GetMinute();
    local.tm_sec = value.GetSecond();
    local.tm_isdst = -1;
    // mktime's -1 is also a valid time; a weekday it did not fill in tells the error.
    local.tm_wday = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1) && local.tm_wday == -1)
        return std::nullopt;
    return static_cast<long long>(seconds);
}

} // namespace

QuillTime ToQuillTime(const COleDateTime& value)
{
    if (const std::optional<long long> seconds = secondsOf(value))
        return clampSeconds(*seconds);
    return value.GetYear() < 1970 ? kEarliestQuillTime : kLatestQuillTime;
}

QString DueTimeRefusal(const COleDateTime& due)
{
    const std::optional<long long> seconds = secondsOf(due);
    const bool early = seconds ? *seconds < kEarliestQuillTime : due.GetYear() < 1970;
    const bool late = seconds ? *seconds > kLatestQuillTime : due.GetYear() >= 1970;
    if (!early && !late)
        return {};
    return QStringLiteral("The due time %1 is %2 %3, the %4 time Quillpost can hold.")
        .arg(due.ToText(), early ? QStringLiteral("before") : QStringLiteral("after"),
            FromQuillTime(early ? kEarliestQuillTime : kLatestQuillTime).ToText(),
            early ? QStringLiteral("earliest") : QStringLiteral("latest"));
}

COleDateTime FromQuillTime(QuillTime value)
{
    const std::time_t seconds = value;
    std::tm local {};
    if (!localtime_r(&seconds, &local))
        return COleDateTime();
    return COleDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
        local.tm_min, local.tm_sec);
}

QuillTime CurrentQuillTime()
{
    return clampSeconds(static_cast<long long>(Clock::current().SecondsSinceEpoch()));
}

QuillTime QuillTimeConverter::operator()(const COleDateTime& value)
{
    const std::int64_t key
        = ((std::int64_t(value.GetYear()) * 13 + value.GetMonth()) * 32 + value.GetDay()) * 24
        + value.GetHour();
    // Fibonacci hashing: neighbouring days and hours spread over the whole table.
    const std::uint64_t slot = (std::uint64_t(key) * 0x9E3779B97F4A7C15ull) >> 54;
    Hour& hour = m_hours[slot % m_hours.size()];
    if (hour.key != key) {
        const QuillTime start = ToQuillTime(COleDateTime(
            value.GetYear(), value.GetMonth(), value.GetDay(), value.GetHour(), 0, 0));
        // An hour at either end of the range is clamped as a whole: convert each value.
        if (start == kEarliestQuillTime || start > kLatestQuillTime - 3600
            || value.GetYear() < 1902)
            return ToQuillTime(value);
        hour = { key, start };
    }
    return hour.start + value.GetMinute() * 60 + value.GetSecond();
}
