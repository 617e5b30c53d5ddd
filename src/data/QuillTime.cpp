#include "data/QuillTime.h"

#include "platform/Clock.h"

#include <ctime>
#include <limits>

namespace {

constexpr QuillTime Earliest = std::numeric_limits<QuillTime>::min();
constexpr QuillTime Latest = std::numeric_limits<QuillTime>::max();

QuillTime clampSeconds(long long seconds)
{
    if (seconds < Earliest)
        return Earliest;
    if (seconds > Latest)
        return Latest;
    return static_cast<QuillTime>(seconds);
}

} // namespace

QuillTime ToQuillTime(const COleDateTime& value)
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
        return value.GetYear() < 1970 ? Earliest : Latest;
    return clampSeconds(static_cast<long long>(seconds));
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
