#include "platform/system_clock.h"

#include <chrono>
#include <ctime>

namespace zk {
namespace {

constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;

SYSTEMTIME FromTm(const std::tm& tm, unsigned milliseconds)
{
    SYSTEMTIME time;
    time.wYear = static_cast<std::uint16_t>(tm.tm_year + 1900);
    time.wMonth = static_cast<std::uint16_t>(tm.tm_mon + 1);
    time.wDayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    time.wDay = static_cast<std::uint16_t>(tm.tm_mday);
    time.wHour = static_cast<std::uint16_t>(tm.tm_hour);
    time.wMinute = static_cast<std::uint16_t>(tm.tm_min);
    time.wSecond = static_cast<std::uint16_t>(tm.tm_sec);
    time.wMilliseconds = static_cast<std::uint16_t>(milliseconds);
    return time;
}

} // namespace

SYSTEMTIME GetSystemTimeUtc()
{
    auto now = std::chrono::system_clock::now();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return FromTm(tm, static_cast<unsigned>(ms % 1000));
}

bool UtcToLocalTime(const SYSTEMTIME& utc, SYSTEMTIME& local)
{
    if (utc.wYear < kFirstYear || utc.wYear > kLastYear || utc.wMonth < 1 || utc.wMonth > 12 ||
        utc.wDay < 1 || utc.wDay > 31 || utc.wHour > 23 || utc.wMinute > 59 || utc.wSecond > 59 ||
        utc.wMilliseconds > 999)
        return false;
    std::tm tm{};
    tm.tm_year = utc.wYear - 1900;
    tm.tm_mon = utc.wMonth - 1;
    tm.tm_mday = utc.wDay;
    tm.tm_hour = utc.wHour;
    tm.tm_min = utc.wMinute;
    tm.tm_sec = utc.wSecond;
    std::time_t seconds = timegm(&tm);
    std::tm converted{};
    if (!localtime_r(&seconds, &converted))
        return false;
    local = FromTm(converted, utc.wMilliseconds);
    return true;
}

} // namespace zk
