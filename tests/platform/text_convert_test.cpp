#include "platform/text_convert.h"

#include <gtest/gtest.h>

namespace zk {
namespace {

TEST(Utf16, TextOfEveryPlaneRoundTrips)
{
    const std::wstring text = L"a\u00e9\u65e5\uffff\U00010000\U0001F600\U0010FFFF";
    std::u16string units = WideToUtf16(text);
    EXPECT_EQ(units, u"a\u00e9\u65e5\uffff\U00010000\U0001F600\U0010FFFF");
    EXPECT_EQ(units.size(), 10u);
    EXPECT_TRUE(IsWellFormedUtf16(units));
    EXPECT_EQ(Utf16ToWide(units), text);
}

TEST(Utf16, WhatCannotBeEncodedBecomesTheReplacementCharacter)
{
    const std::wstring wide = {L'a', wchar_t(0xD800), wchar_t(0xDFFF), wchar_t(0x110000), L'b'};
    EXPECT_EQ(WideToUtf16(wide), u"a\ufffd\ufffd\ufffdb");
}

TEST(Utf16, SurrogatesOutsideAPairAreIllFormedAndDecodeAsReplacement)
{
    const std::u16string lowFirst = {0xDC00, 0xD800};
    const std::u16string highAtEnd = {u'a', 0xD83D};
    const std::u16string highHigh = {0xD83D, 0xD83D, 0xDE00};
    EXPECT_FALSE(IsWellFormedUtf16(lowFirst));
    EXPECT_FALSE(IsWellFormedUtf16(highAtEnd));
    EXPECT_FALSE(IsWellFormedUtf16(highHigh));
    EXPECT_TRUE(IsWellFormedUtf16(u""));
    EXPECT_EQ(Utf16ToWide(lowFirst), L"\ufffd\ufffd");
    EXPECT_EQ(Utf16ToWide(highAtEnd), L"a\ufffd");
    // The second high surrogate still pairs with the low one after it.
    EXPECT_EQ(Utf16ToWide(highHigh), L"\ufffd\U0001F600");
}

} // namespace
} // namespace zk
