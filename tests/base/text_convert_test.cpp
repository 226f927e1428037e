#include "platform/text_convert.h"
#include "res/string_table.h"

#include <gtest/gtest.h>

namespace zk {
namespace {

TEST(Utf8ToWide, DecodesJapaneseAndFourByteCharacters)
{
    EXPECT_EQ(Utf8ToWide("Nimbo\xE3\x81\xAA\xE3\x81\x86"), L"Nimboなう");
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), std::wstring(1, static_cast<wchar_t>(0x1F600)));
}

TEST(Utf8ToWide, InvalidOrCutSequencesBecomeReplacementCharacters)
{
    // A character cut at the end of the input, as a body cut at a byte count leaves it.
    EXPECT_EQ(Utf8ToWide("ab\xE3\x81"), L"ab\uFFFD");
    // A stray continuation byte, an overlong form and an encoded surrogate.
    EXPECT_EQ(Utf8ToWide("\x80"), L"\uFFFD");
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");
    // A broken lead swallows only what could have belonged to it.
    EXPECT_EQ(Utf8ToWide("\xE3\x81x"), L"\uFFFDx");
    EXPECT_EQ(Utf8ToWide(""), L"");
}

TEST(WideToUtf8, RoundTripsAndReplacesUnencodableValues)
{
    std::wstring text = L"Zaru なう \U0001F600";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(StringTable, LoadsTextsAndGivesEmptyForUnknownIds)
{
    EXPECT_EQ(LoadString(130), L"エラー");
    EXPECT_EQ(FindString(1), nullptr);
    EXPECT_EQ(LoadString(1), L"");
}

} // namespace
} // namespace zk
