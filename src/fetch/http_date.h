#pragma once

#include "platform/system_time.h"

#include <string_view>

namespace zk {

// Reads an HTTP date in any of the three forms of RFC 9110 section 5.6.7:
// "Sun, 06 Nov 1994 08:49:37 GMT", the obsolete "Sunday, 06-Nov-94 08:49:37
// GMT" and asctime's "Sun Nov  6 08:49:37 1994". The day of the week is
// computed from the date; milliseconds are 0. False for anything else.
bool ParseHttpDate(std::string_view text, SYSTEMTIME& time);

// The day of the week of a date, 0 for Sunday.
int DayOfWeek(int year, int month, int day);

} // namespace zk
