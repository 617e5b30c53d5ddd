#pragma once

#include "data/Records.h"
#include "platform/db/OleDateTime.h"

// Conversions between a Date/Time column value (local date and time) and the
// in-memory QuillTime. The local date and time are composed with the zone's own
// daylight-saving rule, as mktime does with its flag left at -1. A value outside the
// 32-bit range (before 13 December 1901 or after 19 January 2038, the zero date-time
// of 1899 included) is clamped to the nearest second the range holds.
QuillTime ToQuillTime(const COleDateTime& value);
COleDateTime FromQuillTime(QuillTime value);

// Now by the program's clock, as a QuillTime (clamped like any other value after 2038).
QuillTime CurrentQuillTime();
