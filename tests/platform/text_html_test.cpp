#include "platform/text_html.h"

#include <gtest/gtest.h>

namespace zk {
namespace {

TEST(TextHtml, ReferencesGiveTheirCharactersInOnePass)
{
    EXPECT_EQ(DecodeHtmlReferences(L"mochi&lt;b&gt;&amp;&#9733;"), L"mochi<b>&\x2605");
    EXPECT_EQ(DecodeHtmlReferences(L"&amp;lt;"), L"&lt;");
    EXPECT_EQ(DecodeHtmlReferences(L"&#x1F600;&#128512"), L"\x1F600\x1F600");
    // The table's names, case-sensitive, from the first of HTML 4 to its last.
    EXPECT_EQ(DecodeHtmlReferences(L"&nbsp;&yuml;&OElig;&diams;&rsaquo;&euro;"),
              L"\xA0\xFF\x152\x2666\x203A\x20AC");
    EXPECT_EQ(DecodeHtmlReferences(L"&Eacute;&eacute;&EACUTE;"), L"\xC9\xE9&EACUTE;");
}

TEST(TextHtml, InvalidNumbersGiveTheReplacementAndOtherTextStays)
{
    EXPECT_EQ(DecodeHtmlReferences(L"&#0;&#xDFFF;&#x110000;&#4294967297;&#xFFFFFFFFFFFF;"),
              L"\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD");
    EXPECT_EQ(DecodeHtmlReferences(L"& &; &#; &#x; &#xg; &lt &unknown; &"),
              L"& &; &#; &#x; &#xg; &lt &unknown; &");
    EXPECT_EQ(DecodeHtmlReferences(L"&" + std::wstring(40, L'a') + L";"),
              L"&" + std::wstring(40, L'a') + L";");
    // A control character is what it stands for; the caller decides.
    EXPECT_EQ(DecodeHtmlReferences(L"&#27;"), L"\x1B");
}

} // namespace
} // namespace zk
