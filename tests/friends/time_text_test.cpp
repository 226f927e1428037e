#include "friends/time_text.h"

#include <gtest/gtest.h>

namespace zk {
namespace {

SYSTEMTIME Time(std::uint16_t y, std::uint16_t mo, std::uint16_t d, std::uint16_t h = 0,
                std::uint16_t mi = 0, std::uint16_t s = 0, std::uint16_t ms = 0)
{
    return SYSTEMTIME{y, mo, 0, d, h, mi, s, ms};
}

struct CParseCase
{
    int pattern;
    const wchar_t* text;
    SYSTEMTIME expected;
};

// One text for every pattern; each is also a text that no earlier pattern
// takes, so a wrong order shows as a wrong field.
const CParseCase kParseCases[] = {
    {1, L"2010/05/01 9:05:03.7", Time(2010, 5, 1, 9, 5, 3, 7)},
    {2, L"2010-5-1 9:05:03", Time(2010, 5, 1, 9, 5, 3)},
    {3, L"2010.5.1, 9:05", Time(2010, 5, 1, 9, 5)},
    {4, L"2010_5_1 9", Time(2010, 5, 1, 9)},
    {5, L"2010/5/1", Time(2010, 5, 1)},
    {6, L"2010/5/1 9時5分3秒", Time(2010, 5, 1, 9, 5, 3)},
    {7, L"2010/5/1 9時5分", Time(2010, 5, 1, 9, 5)},
    {8, L"2010/5/1 9時", Time(2010, 5, 1, 9)},
    {9, L"2010年5/1 9:05:03.250", Time(2010, 5, 1, 9, 5, 3, 250)},
    {10, L"2010年5/1 9:05:03", Time(2010, 5, 1, 9, 5, 3)},
    {11, L"2010年5/1 9:05", Time(2010, 5, 1, 9, 5)},
    {12, L"2010年5/1 9", Time(2010, 5, 1, 9)},
    {13, L"2010年5/1", Time(2010, 5, 1)},
    {14, L"2010年5月1日9:05:03.1", Time(2010, 5, 1, 9, 5, 3, 1)},
    {15, L"2010年5月1日 9:05:03", Time(2010, 5, 1, 9, 5, 3)},
    {16, L"2010年5月1日、9:05", Time(2010, 5, 1, 9, 5)},
    {17, L"2010年5月1日 ,9", Time(2010, 5, 1, 9)},
    {18, L"2010年5月1日", Time(2010, 5, 1)},
    {19, L"2010年5月", Time(2010, 5, 1)},
    {20, L" 2010 年 ", Time(2010, 1, 1)},
    {21, L"2010年5月1日 9時5分3秒", Time(2010, 5, 1, 9, 5, 3)},
    {22, L"2010年5月1日9時5分", Time(2010, 5, 1, 9, 5)},
    {23, L"2010年5月1日 9時", Time(2010, 5, 1, 9)},
};

TEST(ParseTime, EveryShapeOfTheTableIsRead)
{
    for (const CParseCase& c : kParseCases) {
        SYSTEMTIME time;
        EXPECT_TRUE(ParseTime(c.text, time)) << "pattern " << c.pattern;
        EXPECT_EQ(time, c.expected) << "pattern " << c.pattern;
    }
}

TEST(ParseTime, FullWidthSeparatorsCount)
{
    SYSTEMTIME time;
    ASSERT_TRUE(ParseTime(L"2010／5－1；9：05：03．7", time));
    EXPECT_EQ(time, Time(2010, 5, 1, 9, 5, 3, 7));
    ASSERT_TRUE(ParseTime(L"2010・5＿1", time));
    EXPECT_EQ(time, Time(2010, 5, 1));
}

TEST(ParseTime, FullWidthDigitsAndTheIdeographicSpaceCount)
{
    SYSTEMTIME time;
    ASSERT_TRUE(ParseTime(L"　２０１０／０５／０１　９：０５：０３．７　", time));
    EXPECT_EQ(time, Time(2010, 5, 1, 9, 5, 3, 7));
    ASSERT_TRUE(ParseTime(L"２０１０　年　５月１日　９時", time));
    EXPECT_EQ(time, Time(2010, 5, 1, 9));
}

TEST(ParseTime, EmptyAndZeroAreTheZeroTime)
{
    SYSTEMTIME time = Time(1, 2, 3);
    ASSERT_TRUE(ParseTime(L"", time));
    EXPECT_EQ(time, SYSTEMTIME{});
    time = Time(1, 2, 3);
    ASSERT_TRUE(ParseTime(L"0", time));
    EXPECT_EQ(time, SYSTEMTIME{});
}

TEST(ParseTime, TextOfNoShapeFailsWithTheStartingValues)
{
    for (const wchar_t* text : {L"yesterday", L"2010/5", L"2010/5/1 9:05 pm", L"00", L"x2010/5/1",
                                L"2010/5/1 9:05:03.", L"2010年5月1日,"}) {
        SYSTEMTIME time = Time(9, 9, 9);
        EXPECT_FALSE(ParseTime(text, time)) << text;
        EXPECT_EQ(time, Time(0, 1, 1)) << text;
    }
}

TEST(ParseTime, TheWholeTextMustMatchNotJustOneLine)
{
    SYSTEMTIME time;
    EXPECT_FALSE(ParseTime(L"note\n2010/5/1", time));
    // A line break is white space, so it may stand between date and time.
    ASSERT_TRUE(ParseTime(L"2010/5/1\n9", time));
    EXPECT_EQ(time, Time(2010, 5, 1, 9));
}

TEST(ParseTime, NumbersAreStoredWithoutRangeChecksModulo65536)
{
    SYSTEMTIME time;
    ASSERT_TRUE(ParseTime(L"2010/13/32 25:61:61.1000", time));
    EXPECT_EQ(time, Time(2010, 13, 32, 25, 61, 61, 1000));
    ASSERT_TRUE(ParseTime(L"65537/5/99999999999999999999", time));
    EXPECT_EQ(time.wYear, 1);
    // 99999999999999999999 mod 65536
    EXPECT_EQ(time.wDay, 65535);
}

TEST(FormatTime, ListFormHasUnpaddedHoursAndPlainMilliseconds)
{
    EXPECT_EQ(FormatTime(Time(2010, 5, 1, 9, 5, 3, 7), kTimeMilliseconds), L"2010/05/01 9:05:03.7");
    EXPECT_EQ(FormatTime(Time(2010, 12, 31, 23, 59, 59, 999), kTimeMilliseconds),
              L"2010/12/31 23:59:59.999");
    EXPECT_EQ(FormatTime(Time(2010, 5, 1, 9, 5, 3, 7), 0), L"2010/05/01 9:05:03");
    EXPECT_EQ(FormatTime(Time(2010, 5, 1, 9, 5, 3, 7), kTimeLongDate), L"2010年5月1日 9:05:03");
    EXPECT_EQ(FormatTime(SYSTEMTIME{}, kTimeMilliseconds), L"0");
}

TEST(FormatTime, DatesAndTimesThatAreNoRealOnesReadAsQuestionMarks)
{
    EXPECT_EQ(FormatTime(Time(0, 1, 1), kTimeMilliseconds), L"?/?/? 0:00:00.0");
    EXPECT_EQ(FormatTime(Time(2011, 2, 29), 0), L"?/?/? 0:00:00");
    EXPECT_EQ(FormatTime(Time(2012, 2, 29), 0), L"2012/02/29 0:00:00");
    EXPECT_EQ(FormatTime(Time(1600, 12, 31), 0), L"?/?/? 0:00:00");
    EXPECT_EQ(FormatTime(Time(30827, 12, 31), 0), L"30827/12/31 0:00:00");
    EXPECT_EQ(FormatTime(Time(2010, 13, 1), 0), L"?/?/? 0:00:00");
    EXPECT_EQ(FormatTime(Time(2010, 5, 1, 24, 0, 0), 0), L"2010/05/01 ?:?:?");
    EXPECT_EQ(FormatTime(Time(2010, 5, 1, 0, 0, 0, 1000), kTimeMilliseconds),
              L"2010/05/01 ?:?:?.1000");
}

TEST(FormatTime, ParseReadsBackWhatFormatWrites)
{
    SYSTEMTIME written = Time(2010, 5, 1, 9, 5, 3, 7);
    SYSTEMTIME read;
    ASSERT_TRUE(ParseTime(FormatTime(written, kTimeMilliseconds), read));
    EXPECT_EQ(read, written);
}

} // namespace
} // namespace zk
