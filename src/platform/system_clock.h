#pragma once

#include "platform/system_time.h"

namespace zk {

// The current time in UTC, with milliseconds; the day of week is set.
SYSTEMTIME GetSystemTimeUtc();

// A UTC time as local time of the user's time zone. False for a time the
// system cannot convert (fields out of range, years before 1601).
bool UtcToLocalTime(const SYSTEMTIME& utc, SYSTEMTIME& local);

} // namespace zk
