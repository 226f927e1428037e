#include "fetch/url_parts.h"
#include "platform/text_convert.h"

#include <gtest/gtest.h>

namespace zk {
namespace {

TEST(UrlParts, PortsFragmentsAndAddressesOfIpv6)
{
    CUrlParts parts;
    ASSERT_TRUE(CrackUrl(L"http://[2001:2::7]/a.png#top", parts));
    EXPECT_EQ(parts.scheme, L"http");
    EXPECT_EQ(parts.host, L"2001:2::7");
    EXPECT_EQ(parts.port, 80); // the scheme's own
    EXPECT_EQ(parts.path, L"/a.png");
    EXPECT_EQ(parts.extra, L"#top");

    CUrlParts other;
    ASSERT_TRUE(CrackUrl(L"zaru://host:81?q", other));
    EXPECT_EQ(other.scheme, L"zaru");
    EXPECT_EQ(other.port, 81);
    EXPECT_EQ(other.path, L"/");
    EXPECT_EQ(other.extra, L"?q");

    // A scheme libcurl does not know has no default port.
    CUrlParts unknown;
    ASSERT_TRUE(CrackUrl(L"zaru://host/", unknown));
    EXPECT_EQ(unknown.port, 0);
}

// Each piece must fit the buffer it was once copied into, its null
// included; one character more fails the whole URL.
TEST(UrlParts, EveryPieceHasItsLimit)
{
    struct CCase
    {
        const wchar_t* name;
        std::wstring (*make)(std::size_t);
        std::size_t limit;
    };
    const CCase cases[] = {
        {L"host", [](std::size_t n) { return L"http://" + std::wstring(n, L'h') + L"/"; }, 256},
        {L"user", [](std::size_t n) { return L"http://" + std::wstring(n, L'u') + L"@h/"; }, 128},
        {L"password", [](std::size_t n) { return L"http://u:" + std::wstring(n, L'p') + L"@h/"; },
         128},
        {L"path", [](std::size_t n) { return L"http://h/" + std::wstring(n - 1, L'p'); }, 2048},
        {L"query and fragment",
         [](std::size_t n) {
             return L"http://h/?" + std::wstring(n / 2, L'q') + L"#" +
                    std::wstring(n - n / 2 - 2, L'f');
         },
         2048},
    };
    for (const CCase& c : cases) {
        CUrlParts parts;
        EXPECT_TRUE(CrackUrl(c.make(c.limit - 1), parts)) << WideToUtf8(c.name);
        CUrlParts tooLong;
        EXPECT_FALSE(CrackUrl(c.make(c.limit), tooLong)) << WideToUtf8(c.name);
    }
}

} // namespace
} // namespace zk
