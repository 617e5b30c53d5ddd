#pragma once

#include "data/Records.h"
#include "platform/db/OleDateTime.h"

#include <limits>

// Conversions between a Date/Time column value (local date and time) and the
// in-memory QuillTime. The local date and time are composed with the zone's own
// daylight-saving rule, as mktime does with its flag left at -1. A value outside the
// 32-bit range (before 13 December 1901 or after 19 January 2038, the zero date-time
// of 1899 included) is clamped to the nearest second the range holds.
QuillTime ToQuillTime(const COleDateTime& value);
COleDateTime FromQuillTime(QuillTime value);

// The first and last second a QuillTime holds. A message due outside them would be
// stored as written but scheduled and shown at the clamped end, so none is queued there.
inline constexpr QuillTime kEarliestQuillTime = std::numeric_limits<QuillTime>::min();
inline constexpr QuillTime kLatestQuillTime = std::numeric_limits<QuillTime>::max();

// Why a message cannot be due at `due` (local date and time), naming the limit it
// passes in local time; empty when a QuillTime holds it.
QString DueTimeRefusal(const COleDateTime& due);

// ToQuillTime for many values in a row, as a whole-table load needs. mktime looks at
// the zone file again on every call, which made it the largest cost of a load; this
// asks it once per local hour met and adds the minutes and seconds. Zones change their
// offset on the hour, so within one hour the two agree. Keep one only while the zone
// cannot change (for one load, say).
class QuillTimeConverter
{
public:
    QuillTime operator()(const COleDateTime& value);

private:
    struct Hour
    {
        std::int64_t key = -1; // year, month, day and hour in one number
        QuillTime start = 0;
    };
    std::array<Hour, 1024> m_hours {};
};

// Now by the program's clock, as a QuillTime (clamped like any other value after 2038).
QuillTime CurrentQuillTime();
