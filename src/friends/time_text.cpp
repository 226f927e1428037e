#include "friends/time_text.h"

#include <array>
#include <boost/regex.hpp>
#include <cstdio>

namespace zk {
namespace {

constexpr std::uint16_t kFirstYear = 1601;
constexpr std::uint16_t kLastYear = 30827;
constexpr std::uint16_t kLastHour = 23;
constexpr std::uint16_t kLastMinute = 59;
constexpr std::uint16_t kLastSecond = 59;
constexpr std::uint16_t kLastMillisecond = 999;

constexpr const wchar_t* kBadDate = L"?/?/?";
constexpr const wchar_t* kBadTime = L"?:?:?";
// The Japanese UI's long date.
constexpr const wchar_t* kLongDatePicture = L"yyyy年M月d日";
constexpr const wchar_t* kShortDatePicture = L"yyyy/MM/dd";
constexpr const wchar_t* kTimePicture = L"H:mm:ss";

bool IsLeapYear(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month)
{
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(const SYSTEMTIME& t)
{
    return t.wYear >= kFirstYear && t.wYear <= kLastYear && t.wMonth >= 1 && t.wMonth <= 12 &&
           t.wDay >= 1 && t.wDay <= DaysInMonth(t.wYear, t.wMonth);
}

bool IsValidTime(const SYSTEMTIME& t)
{
    return t.wHour <= kLastHour && t.wMinute <= kLastMinute && t.wSecond <= kLastSecond &&
           t.wMilliseconds <= kLastMillisecond;
}

void AppendNumber(std::wstring& out, unsigned value, int digits)
{
    wchar_t buffer[16];
    std::swprintf(buffer, 16, L"%0*u", digits, value);
    out += buffer;
}

// A letter that stands for one field of a time, in a picture or a key.
struct CFieldLetter
{
    wchar_t letter;
    std::uint16_t SYSTEMTIME::*field;
};

// The letters of the pictures other than the year, which has two widths.
constexpr CFieldLetter kPictureFields[] = {
    {L'M', &SYSTEMTIME::wMonth},  {L'd', &SYSTEMTIME::wDay},    {L'H', &SYSTEMTIME::wHour},
    {L'm', &SYSTEMTIME::wMinute}, {L's', &SYSTEMTIME::wSecond},
};

// The letters of the pattern keys: Y year, M month, D day, 1 hour,
// 2 minute, 3 second, 4 milliseconds.
constexpr CFieldLetter kKeyFields[] = {
    {L'Y', &SYSTEMTIME::wYear},         {L'M', &SYSTEMTIME::wMonth},  {L'D', &SYSTEMTIME::wDay},
    {L'1', &SYSTEMTIME::wHour},         {L'2', &SYSTEMTIME::wMinute}, {L'3', &SYSTEMTIME::wSecond},
    {L'4', &SYSTEMTIME::wMilliseconds},
};

template <std::size_t N>
std::uint16_t SYSTEMTIME::*FieldOf(const CFieldLetter (&letters)[N], wchar_t letter)
{
    for (const CFieldLetter& known : letters)
        if (known.letter == letter)
            return known.field;
    return nullptr;
}

// The numeric pictures of the system's date and time formatter: a run of
// one letter is one field, its length the minimum number of digits (four
// for a year of "yyyy"); text in single quotes and other characters are
// copied.
std::wstring FormatPicture(const SYSTEMTIME& t, std::wstring_view picture)
{
    std::wstring out;
    for (std::size_t i = 0; i < picture.size();) {
        wchar_t c = picture[i];
        std::size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c)
            ++run;
        int digits = run >= 2 ? 2 : 1;
        if (c == L'\'') {
            std::size_t end = picture.find(L'\'', i + 1);
            if (end == std::wstring_view::npos)
                end = picture.size();
            out.append(picture.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (c == L'y' && run >= 3)
            AppendNumber(out, t.wYear, 4);
        else if (c == L'y')
            AppendNumber(out, t.wYear % 100, digits);
        else if (auto field = FieldOf(kPictureFields, c))
            AppendNumber(out, t.*field, digits);
        else
            out.append(run, c);
        i += run;
    }
    return out;
}

// One date-time shape of the list file's readers and the fields its groups
// go to, by the letters of kKeyFields.
struct CTimePattern
{
    const wchar_t* pattern;
    const wchar_t* key;
};

// The regex engine's digit and space classes know only ASCII here, so the
// digits and the white space are spelled out, with the full-width digits and
// the ideographic space that Japanese text writes.
#define ZK_W L"[\\s\\x{3000}]*"
#define ZK_S ZK_W L"[/／\\-－\\.．_＿・]" ZK_W
#define ZK_B L"[\\s\\x{3000},;，；、]"
#define ZK_T ZK_W L"[:：]" ZK_W
#define ZK_P ZK_W L"[\\.．]" ZK_W
#define ZK_N L"([0-9０-９]+)"
#define ZK_BEGIN L"^" ZK_W ZK_N
#define ZK_END ZK_W L"$"
#define ZK_YEAR ZK_W L"年" ZK_W
#define ZK_MONTH ZK_W L"月" ZK_W
#define ZK_DAY ZK_W L"日" ZK_W
#define ZK_HOUR ZK_W L"時" ZK_W
#define ZK_MINUTE ZK_W L"分" ZK_W
#define ZK_SECOND ZK_W L"秒" ZK_W
#define ZK_YMD ZK_BEGIN ZK_S ZK_N ZK_S ZK_N ZK_B L"+" ZK_N
#define ZK_YXMD ZK_BEGIN ZK_YEAR ZK_N ZK_S ZK_N ZK_B L"+" ZK_N
#define ZK_JYMD ZK_BEGIN ZK_YEAR ZK_N ZK_MONTH ZK_N ZK_DAY ZK_B L"*" ZK_N

// In table order: the first that matches wins.
constexpr CTimePattern kTimePatterns[] = {
    {ZK_YMD ZK_T ZK_N ZK_T ZK_N ZK_P ZK_N ZK_END, L"YMD1234"},
    {ZK_YMD ZK_T ZK_N ZK_T ZK_N ZK_END, L"YMD123"},
    {ZK_YMD ZK_T ZK_N ZK_END, L"YMD12"},
    {ZK_YMD ZK_END, L"YMD1"},
    {ZK_BEGIN ZK_S ZK_N ZK_S ZK_N ZK_END, L"YMD"},
    {ZK_YMD ZK_HOUR ZK_N ZK_MINUTE ZK_N ZK_SECOND ZK_END, L"YMD123"},
    {ZK_YMD ZK_HOUR ZK_N ZK_MINUTE ZK_END, L"YMD12"},
    {ZK_YMD ZK_HOUR ZK_END, L"YMD1"},
    {ZK_YXMD ZK_T ZK_N ZK_T ZK_N ZK_P ZK_N ZK_END, L"YMD1234"},
    {ZK_YXMD ZK_T ZK_N ZK_T ZK_N ZK_END, L"YMD123"},
    {ZK_YXMD ZK_T ZK_N ZK_END, L"YMD12"},
    {ZK_YXMD ZK_END, L"YMD1"},
    {ZK_BEGIN ZK_YEAR ZK_N ZK_S ZK_N ZK_END, L"YMD"},
    {ZK_JYMD ZK_T ZK_N ZK_T ZK_N ZK_P ZK_N ZK_END, L"YMD1234"},
    {ZK_JYMD ZK_T ZK_N ZK_T ZK_N ZK_END, L"YMD123"},
    {ZK_JYMD ZK_T ZK_N ZK_END, L"YMD12"},
    {ZK_JYMD ZK_END, L"YMD1"},
    {ZK_BEGIN ZK_YEAR ZK_N ZK_MONTH ZK_N ZK_DAY ZK_END, L"YMD"},
    {ZK_BEGIN ZK_YEAR ZK_N ZK_MONTH ZK_END, L"YM"},
    {ZK_BEGIN ZK_YEAR ZK_END, L"Y"},
    {ZK_JYMD ZK_HOUR ZK_N ZK_MINUTE ZK_N ZK_SECOND ZK_END, L"YMD123"},
    {ZK_JYMD ZK_HOUR ZK_N ZK_MINUTE ZK_END, L"YMD12"},
    {ZK_JYMD ZK_HOUR ZK_END, L"YMD1"},
};

#undef ZK_W
#undef ZK_S
#undef ZK_B
#undef ZK_T
#undef ZK_P
#undef ZK_N
#undef ZK_BEGIN
#undef ZK_END
#undef ZK_YEAR
#undef ZK_MONTH
#undef ZK_DAY
#undef ZK_HOUR
#undef ZK_MINUTE
#undef ZK_SECOND
#undef ZK_YMD
#undef ZK_YXMD
#undef ZK_JYMD

constexpr std::size_t kTimePatternCount = std::size(kTimePatterns);

using CCompiledPatterns = std::array<boost::wregex, kTimePatternCount>;

CCompiledPatterns CompilePatterns()
{
    CCompiledPatterns compiled;
    for (std::size_t i = 0; i < kTimePatternCount; ++i)
        compiled[i].assign(kTimePatterns[i].pattern);
    return compiled;
}

// Compiled once, with the program's static data.
const CCompiledPatterns g_timePatterns = CompilePatterns();

// A plain decimal conversion into a 16-bit field: larger numbers keep their
// value modulo 65536 rather than overflowing.
std::uint16_t ToField(const std::wstring& digits)
{
    std::uint32_t value = 0;
    for (wchar_t c : digits) {
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'０' && c <= L'９')
            digit = static_cast<unsigned>(c - L'０');
        value = (value * 10 + digit) & 0xFFFF;
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::wstring FormatTime(const SYSTEMTIME& time, unsigned flags)
{
    if (time == SYSTEMTIME{})
        return L"0";
    std::wstring text;
    if (IsValidDate(time))
        text = FormatPicture(time, (flags & kTimeLongDate) ? kLongDatePicture : kShortDatePicture);
    else
        text = kBadDate;
    text += L' ';
    text += IsValidTime(time) ? FormatPicture(time, kTimePicture) : std::wstring(kBadTime);
    if (flags & kTimeMilliseconds) {
        text += L'.';
        AppendNumber(text, time.wMilliseconds, 1);
    }
    return text;
}

bool ParseTime(std::wstring_view text, SYSTEMTIME& time)
{
    if (text.empty() || text == L"0") {
        time = SYSTEMTIME{};
        return true;
    }
    time = SYSTEMTIME{0, 1, 0, 1, 0, 0, 0, 0};
    for (std::size_t i = 0; i < kTimePatternCount; ++i) {
        boost::wcmatch match;
        bool matched = false;
        try {
            matched = boost::regex_match(text.data(), text.data() + text.size(), match,
                                         g_timePatterns[i]);
        } catch (const std::exception&) {
            matched = false;
        }
        if (!matched)
            continue;
        std::wstring_view key = kTimePatterns[i].key;
        for (std::size_t group = 0; group < key.size(); ++group)
            if (auto field = FieldOf(kKeyFields, key[group]))
                time.*field = ToField(match.str(static_cast<int>(group + 1)));
        return true;
    }
    return false;
}

} // namespace zk
