#include "base/portal_hosts.h"
#include "res/string_table.h"

#include <boost/regex.hpp>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace zk {
namespace {

constexpr std::uint32_t kIdPatternId = 900;
constexpr std::uint32_t kNamePatternId = 901;

std::size_t CountOf(const std::wstring& text, const std::wstring& part)
{
    std::size_t count = 0;
    for (auto pos = text.find(part); pos != std::wstring::npos; pos = text.find(part, pos + 1))
        ++count;
    return count;
}

TEST(StringTableScrapingPatterns, IdPatternNamesTheMicroblogHostAndTakesTheUserId)
{
    std::wstring pattern = LoadString(kIdPatternId);
    ASSERT_NE(pattern.find(kMicroblogHost), std::wstring::npos);

    boost::wregex re(pattern); // throws when the text is not a valid expression
    std::wstring page =
        L"<div><span class=\"profile-name\" id=\"p\"><a class=\"l\" href=\"http://" +
        std::wstring(kMicroblogHost) + L"/nimbo_42/\">なまえ</a></span></div>";
    boost::wsmatch m;
    ASSERT_TRUE(boost::regex_search(page, m, re));
    EXPECT_EQ(m[1].str(), L"nimbo_42");
}

TEST(StringTableScrapingPatterns, IdPatternIgnoresLinksOutsideAProfileElement)
{
    boost::wregex re(LoadString(kIdPatternId));
    std::wstring page = L"<span class=\"side\"><a href=\"http://" + std::wstring(kMicroblogHost) +
                        L"/other/\">x</a></span>";
    EXPECT_FALSE(boost::regex_search(page, re));
}

TEST(StringTableScrapingPatterns, NamePatternTakesTheNicknameInFrontOfTheTitleSuffix)
{
    boost::wregex re(LoadString(kNamePatternId));
    std::wstring page = L"<head><title>なまえさんのなう | Nimbo</title></head>";
    boost::wsmatch m;
    ASSERT_TRUE(boost::regex_search(page, m, re));
    EXPECT_EQ(m[1].str(), L"なまえ");
}

TEST(StringTableScrapingPatterns, NamePatternNeedsTheLiteralBarAfterTheSuffix)
{
    // The bar is escaped in the pattern; unescaped it would be an empty
    // alternative that matches any page without a nickname.
    boost::wregex re(LoadString(kNamePatternId));
    EXPECT_FALSE(boost::regex_search(std::wstring(L"<title>なまえさんのなう</title>"), re));
    EXPECT_FALSE(boost::regex_search(std::wstring(L"<p>no title here</p>"), re));
}

TEST(StringTableMessages, MessagesFilledWithADetailHaveTheirPlaces)
{
    const std::pair<std::uint32_t, std::size_t> kPlaces[] = {
        {140, 1},   {141, 1},   {1003, 1},  {1200, 1},  {1208, 1},  {1214, 2},  {1215, 2},
        {2002, 1},  {2003, 1},  {2004, 1},  {2007, 1},  {2008, 2},  {2009, 1},  {2010, 1},
        {2011, 1},  {2013, 1},  {4001, 1},  {4002, 1},  {4003, 1},  {4005, 1},  {4006, 1},
        {4007, 1},  {4008, 1},  {40185, 1}, {40186, 1}, {40187, 1}, {40188, 1}, {40191, 1},
        {40192, 1}, {40272, 1}, {40280, 1}, {40281, 1}, {40282, 1},
    };
    for (auto [id, places] : kPlaces)
        EXPECT_EQ(CountOf(LoadString(id), L"%s"), places) << "message " << id;

    EXPECT_EQ(CountOf(LoadString(141), L"%d"), 1u);
    EXPECT_EQ(CountOf(LoadString(4900), L"%d"), 1u);
    // The status text leads the message, so the code reads first in the text.
    EXPECT_EQ(LoadString(40272).rfind(L"%s", 0), 0u);
}

TEST(StringTableMessages, LineBreaksAreRealLineBreaks)
{
    for (std::uint32_t id : {1003u, 1214u, 2007u, 2008u, 2013u})
        EXPECT_NE(LoadString(id).find(L"\n\n"), std::wstring::npos) << "message " << id;

    // Only the two patterns may hold a backslash; anywhere else it is a line
    // break that was written out instead of escaped.
    for (std::uint32_t id = 0; id <= 0xFFFF; ++id) {
        const wchar_t* text = FindString(id);
        if (!text || id == kIdPatternId || id == kNamePatternId)
            continue;
        EXPECT_EQ(std::wstring(text).find(L'\\'), std::wstring::npos) << "message " << id;
    }
}

TEST(StringTableMessages, NamesAndTitlesTheProgramDependsOn)
{
    EXPECT_EQ(LoadString(128), L"Zarumatekit");
    EXPECT_EQ(LoadString(131), L"Brindlewerk");
    EXPECT_EQ(LoadString(132), L"Zarumatekit");
    EXPECT_EQ(LoadString(130), L"エラー");
    EXPECT_EQ(LoadString(133), L"確認");
    EXPECT_EQ(FindString(1), nullptr); // failed transfers carry id 1, which has no text
}

} // namespace
} // namespace zk
