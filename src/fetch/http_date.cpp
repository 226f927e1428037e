#include "fetch/http_date.h"

#include <array>
#include <cctype>
#include <string>
#include <vector>

namespace zk {
namespace {

constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<const char*, 7> kDays = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

// Two-digit years of the obsolete form: 70 and later are 19xx.
constexpr int kTwoDigitYearPivot = 70;
constexpr std::size_t kMaxTokens = 8;

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool AllDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

int Number(std::string_view text)
{
    int value = 0;
    for (char c : text)
        value = value * 10 + (c - '0');
    return value;
}

int MonthOf(std::string_view token)
{
    std::string lower = Lower(token);
    for (std::size_t i = 0; i < kMonths.size(); ++i)
        if (lower == kMonths[i])
            return static_cast<int>(i) + 1;
    return 0;
}

bool IsDayName(std::string_view token)
{
    std::string lower = Lower(token);
    if (lower.size() < 3)
        return false;
    for (const char* day : kDays)
        if (lower.compare(0, 3, day) == 0)
            return true;
    return false;
}

// "08:49:37"
bool ReadClock(std::string_view token, int& hour, int& minute, int& second)
{
    if (token.size() != 8 || token[2] != ':' || token[5] != ':')
        return false;
    std::string_view h = token.substr(0, 2), m = token.substr(3, 2), s = token.substr(6, 2);
    if (!AllDigits(h) || !AllDigits(m) || !AllDigits(s))
        return false;
    hour = Number(h);
    minute = Number(m);
    second = Number(s);
    return hour < 24 && minute < 60 && second < 60;
}

bool IsLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static const int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDaysIn[month - 1];
}

std::vector<std::string_view> Split(std::string_view text)
{
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < text.size() && tokens.size() <= kMaxTokens) {
        while (i < text.size() &&
               (text[i] == ' ' || text[i] == ',' || text[i] == '-' || text[i] == '\t'))
            ++i;
        std::size_t begin = i;
        while (i < text.size() && text[i] != ' ' && text[i] != ',' && text[i] != '-' &&
               text[i] != '\t')
            ++i;
        if (i > begin)
            tokens.push_back(text.substr(begin, i - begin));
    }
    return tokens;
}

} // namespace

int DayOfWeek(int year, int month, int day)
{
    // Days since 1970-01-01 (a Thursday) by the civil-from-days count.
    int y = month <= 2 ? year - 1 : year;
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int mp = (month + 9) % 12;
    int doy = (153 * mp + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long days = static_cast<long>(era) * 146097 + doe - 719468;
    long weekday = (days + 4) % 7;
    return static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
}

bool ParseHttpDate(std::string_view text, SYSTEMTIME& time)
{
    std::vector<std::string_view> tokens = Split(text);
    if (tokens.size() < 5 || tokens.size() > 6 || !IsDayName(tokens[0]))
        return false;

    int year, month, day, hour, minute, second;
    if (MonthOf(tokens[1]) != 0) {
        // asctime: day name, month, day, clock, year
        if (tokens.size() != 5 || !AllDigits(tokens[2]) || tokens[2].size() > 2 ||
            !AllDigits(tokens[4]) || tokens[4].size() != 4)
            return false;
        month = MonthOf(tokens[1]);
        day = Number(tokens[2]);
        year = Number(tokens[4]);
        if (!ReadClock(tokens[3], hour, minute, second))
            return false;
    } else {
        // day name, day, month, year, clock, GMT
        if (tokens.size() != 6 || Lower(tokens[5]) != "gmt" || !AllDigits(tokens[1]) ||
            tokens[1].size() > 2 || !AllDigits(tokens[3]))
            return false;
        day = Number(tokens[1]);
        month = MonthOf(tokens[2]);
        if (tokens[3].size() == 4) {
            year = Number(tokens[3]);
        } else if (tokens[3].size() == 2) {
            int yy = Number(tokens[3]);
            year = yy >= kTwoDigitYearPivot ? 1900 + yy : 2000 + yy;
        } else {
            return false;
        }
        if (!ReadClock(tokens[4], hour, minute, second))
            return false;
    }
    if (month == 0 || year < 1601 || day < 1 || day > DaysInMonth(year, month))
        return false;

    time = SYSTEMTIME{};
    time.wYear = static_cast<std::uint16_t>(year);
    time.wMonth = static_cast<std::uint16_t>(month);
    time.wDayOfWeek = static_cast<std::uint16_t>(DayOfWeek(year, month, day));
    time.wDay = static_cast<std::uint16_t>(day);
    time.wHour = static_cast<std::uint16_t>(hour);
    time.wMinute = static_cast<std::uint16_t>(minute);
    time.wSecond = static_cast<std::uint16_t>(second);
    return true;
}

} // namespace zk
