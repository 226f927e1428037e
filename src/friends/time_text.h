#pragma once

#include "platform/system_time.h"

#include <string>
#include <string_view>

namespace zk {

// FormatTime flags: the long date of the user's locale instead of
// "yyyy/MM/dd", and "." plus the milliseconds after the time.
constexpr unsigned kTimeLongDate = 1;
constexpr unsigned kTimeMilliseconds = 2;

// The text form of a time as the list file and the cells show it: "0" for
// the all-zero time, else date, a blank and "H:mm:ss", e.g.
// "2010/05/01 9:05:03.7" with kTimeMilliseconds. A date or time that is no
// real one reads "?/?/?" or "?:?:?".
std::wstring FormatTime(const SYSTEMTIME& time, unsigned flags);

// Reads any of the date-time shapes people write, Japanese ones included.
// An empty text or "0" is the all-zero time. Numbers are stored without
// range checks (modulo 65536); fields the text leaves out are 1 for month
// and day and 0 otherwise, which is also the time given back on failure.
bool ParseTime(std::wstring_view text, SYSTEMTIME& time);

} // namespace zk
