#include "capture/scan_budget.h"
#include "capture/zarumate_sock.h"
#include "platform/text_convert.h"
#include "support/microblog_page.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace zk {
namespace {

using test::BuildMicroblogPage;
using test::ChunkBody;
using test::CMicroblogPage;
using test::MicroblogHost;

class CFoundList : public CZarumateSockClient
{
public:
    void OnZarumateFound(const CZarumateDataPtr& data) override { m_found.push_back(data); }
    std::vector<CZarumateDataPtr> m_found;
};

CSimpleHttpHeaderList Headers(bool chunked)
{
    CSimpleHttpHeaderList headers;
    headers.push_back(std::make_shared<CSimpleHttpHeader>(
        CSimpleHttpHeader{"Content-Type", "text/html; charset=UTF-8"}));
    if (chunked)
        headers.push_back(
            std::make_shared<CSimpleHttpHeader>(CSimpleHttpHeader{"Transfer-Encoding", "chunked"}));
    else
        headers.push_back(
            std::make_shared<CSimpleHttpHeader>(CSimpleHttpHeader{"Content-Length", "99999"}));
    return headers;
}

constexpr std::size_t kNeverDone = static_cast<std::size_t>(-1);

class PageHandler : public ::testing::Test
{
protected:
    PageHandler() { m_sock.SetClient(&m_client); }

    // Offers the body the way the HTTP layer does, re-presenting it whole
    // each time it has grown by step bytes (up to its end), and answers the
    // body count at which the handler was done with it.
    std::size_t Feed(const std::string& body, bool chunked, std::size_t step = 1)
    {
        CSimpleHttpHeaderList headers = Headers(chunked);
        for (std::size_t length = std::min(step, body.size());;
             length = std::min(length + step, body.size())) {
            // Each offer sits at the very end of its own allocation, so a read
            // past the bytes offered fails under AddressSanitizer.
            std::vector<std::uint8_t> piece(body.begin(), body.begin() + length);
            if (!m_sock.OnHttpResponse(headers, piece.data(), piece.size()))
                return length;
            if (length == body.size())
                return kNeverDone;
        }
    }

    bool Offer(const std::string& body, std::size_t length, bool chunked)
    {
        std::vector<std::uint8_t> piece(body.begin(), body.begin() + length);
        return m_sock.OnHttpResponse(Headers(chunked), piece.data(), piece.size());
    }

    CFoundList m_client;
    CZarumateSock m_sock;
};

// --- Pages that yield their owner ------------------------------------------

TEST_F(PageHandler, ReportsOwnerOfChunkedPageOnceBodyReaches4000Bytes)
{
    std::string body = ChunkBody(BuildMicroblogPage({}), 1024);
    for (std::size_t step : {std::size_t(1), std::size_t(97), std::size_t(1500)}) {
        m_client.m_found.clear();
        std::size_t done = Feed(body, true, step);
        EXPECT_GE(done, 4000u) << "step " << step;
        EXPECT_LT(done, 4000u + step) << "step " << step;
        ASSERT_EQ(m_client.m_found.size(), 1u) << "step " << step;
        EXPECT_EQ(m_client.m_found[0]->m_id, L"someid");
        EXPECT_EQ(m_client.m_found[0]->m_name, L"ざるこ");
    }
}

TEST_F(PageHandler, ReportedRecordCarriesOnlyIdAndName)
{
    Feed(ChunkBody(BuildMicroblogPage({}), 1024), true);
    ASSERT_EQ(m_client.m_found.size(), 1u);
    const CZarumateData& person = *m_client.m_found[0];
    EXPECT_EQ(person.m_updateTime.wYear, 0);
    EXPECT_EQ(person.m_image, nullptr);
    EXPECT_EQ(person.m_error.GetId(), 0u);
}

TEST_F(PageHandler, ScansBodyWithoutChunkedCodingAsItStands)
{
    std::string body = BuildMicroblogPage({});
    EXPECT_EQ(Feed(body, false, 50), 4000u);
    ASSERT_EQ(m_client.m_found.size(), 1u);
    EXPECT_EQ(m_client.m_found[0]->m_id, L"someid");
    EXPECT_EQ(m_client.m_found[0]->m_name, L"ざるこ");
}

TEST_F(PageHandler, ScansChunkedPageCutInsideCharacter)
{
    // Small chunks after the top split characters between chunks as well.
    std::string body = ChunkBody(BuildMicroblogPage({}), 7, 2500);
    std::size_t cut = 4000;
    while ((static_cast<unsigned char>(body[cut]) & 0xC0) != 0x80)
        ++cut;
    ASSERT_LT(cut, 4010u);
    EXPECT_FALSE(Offer(body, cut, true));
    ASSERT_EQ(m_client.m_found.size(), 1u);
    EXPECT_EQ(m_client.m_found[0]->m_name, L"ざるこ");
}

TEST_F(PageHandler, ReportsFirstProfileLinkWhenPageHoldsSeveral)
{
    CMicroblogPage page;
    page.id = "first";
    page.secondId = "second";
    Feed(ChunkBody(BuildMicroblogPage(page), 512), true, 100);
    ASSERT_EQ(m_client.m_found.size(), 1u);
    EXPECT_EQ(m_client.m_found[0]->m_id, L"first");
}

TEST_F(PageHandler, ReportsSamePersonAgainEachTimePageIsLoaded)
{
    std::string body = ChunkBody(BuildMicroblogPage({}), 1024);
    Feed(body, true, 300);
    Feed(body, true, 300);
    ASSERT_EQ(m_client.m_found.size(), 2u);
    EXPECT_NE(m_client.m_found[0], m_client.m_found[1]);
    EXPECT_EQ(m_client.m_found[1]->m_id, L"someid");
}

TEST_F(PageHandler, FinishesPageWithoutClient)
{
    CZarumateSock sock;
    std::string body = ChunkBody(BuildMicroblogPage({}), 1024);
    std::vector<std::uint8_t> bytes(body.begin(), body.end());
    EXPECT_FALSE(sock.OnHttpResponse(Headers(true), bytes.data(), bytes.size()));
}

TEST_F(PageHandler, FindsOwnerWhoseLinkLiesBetween4000And8000Bytes)
{
    CMicroblogPage page;
    page.fillerBeforeProfile = 5000;
    page.size = 9000;
    std::string body = BuildMicroblogPage(page);
    std::size_t profileEnd = body.find("/someid/") + std::strlen("/someid/\"");
    std::size_t done = Feed(body, false, 1);
    EXPECT_EQ(done, profileEnd);
    ASSERT_EQ(m_client.m_found.size(), 1u);
}

// --- Pages that yield nobody --------------------------------------------------

TEST_F(PageHandler, KeepsBodyShorterThan2000BytesAndNeverReports)
{
    CMicroblogPage page;
    page.size = 0;
    std::string body = BuildMicroblogPage(page);
    ASSERT_LT(body.size(), 2000u);
    // The connection ends here: the response stays kept, nobody is found.
    EXPECT_EQ(Feed(body, false), kNeverDone);
    EXPECT_TRUE(m_client.m_found.empty());
}

TEST_F(PageHandler, DropsPageDeclaringEncodingInLowerCaseAt2000Bytes)
{
    CMicroblogPage page;
    page.charset = "utf-8";
    EXPECT_EQ(Feed(ChunkBody(BuildMicroblogPage(page), 1024), true), 2000u);
    EXPECT_TRUE(m_client.m_found.empty());
}

TEST_F(PageHandler, DropsPageWhoseMarkerComesAfter2000Bytes)
{
    CMicroblogPage page;
    page.fillerBeforeMarker = 2000;
    std::string body = ChunkBody(BuildMicroblogPage(page), 1024);
    ASSERT_NE(body.find("Nimboなう"), std::string::npos);
    EXPECT_EQ(Feed(body, true), 2000u);
    EXPECT_TRUE(m_client.m_found.empty());
}

TEST_F(PageHandler, DropsPageWhoseMarkerStraddlesByte2000)
{
    // Only the first 2000 bytes are searched, even when more have arrived.
    const std::string marker = "Nimboなう";
    std::string top = "<meta charset=\"UTF-8\">\n";
    top += std::string(1996 - top.size(), ' ');
    std::string body = top + marker + "\n" + BuildMicroblogPage({});
    ASSERT_EQ(body.find(marker), 1996u);
    EXPECT_FALSE(Offer(body, body.size(), false));
    EXPECT_TRUE(m_client.m_found.empty());
}

TEST_F(PageHandler, DropsPageWithoutMarkerOrWithoutEncoding)
{
    CMicroblogPage noMarker;
    noMarker.withMarker = false;
    EXPECT_EQ(Feed(BuildMicroblogPage(noMarker), false, 100), 2000u);
    CMicroblogPage noCharset;
    noCharset.charset = "Shift_JIS";
    EXPECT_EQ(Feed(BuildMicroblogPage(noCharset), false, 100), 2000u);
    EXPECT_TRUE(m_client.m_found.empty());
}

TEST_F(PageHandler, GivesUpPageWithoutNicknameAt8000Bytes)
{
    CMicroblogPage page;
    page.withTitle = false;
    page.size = 12000;
    std::string body = BuildMicroblogPage(page);
    EXPECT_TRUE(Offer(body, 7999, false));
    EXPECT_FALSE(Offer(body, 8000, false));
    EXPECT_EQ(Feed(body, false, 1), 8000u);
    EXPECT_TRUE(m_client.m_found.empty());
}

TEST_F(PageHandler, GivesUpPageWithoutIdAt8000Bytes)
{
    CMicroblogPage page;
    page.withProfile = false;
    page.size = 12000;
    EXPECT_EQ(Feed(BuildMicroblogPage(page), false, 1), 8000u);
    EXPECT_TRUE(m_client.m_found.empty());
}

TEST_F(PageHandler, CountsDecodedBytesOfChunkedPageTowardsGivingUp)
{
    CMicroblogPage page;
    page.withTitle = false;
    page.size = 12000;
    std::string decoded = BuildMicroblogPage(page);
    std::string body = ChunkBody(decoded, 100, 2500); // 6 bytes of framing per 100
    std::size_t done = Feed(body, true, 1);
    ASSERT_NE(done, kNeverDone);
    EXPECT_GT(done, 8000u);
    // Done exactly when the decoded text reaches 8000 bytes.
    std::string decodedSoFar;
    std::vector<std::uint8_t> piece(body.begin(), body.begin() + done);
    ASSERT_TRUE(
        CZarumateSock::DecodeChunkedBody(Headers(true), piece.data(), piece.size(), decodedSoFar));
    EXPECT_EQ(decodedSoFar.size(), 8000u);
    EXPECT_TRUE(m_client.m_found.empty());
}

// --- Pages built to make the search backtrack ------------------------------

// A page with the encoding and the marker at the top, then bytes of text
// repeated up to size bytes.
std::string PageOf(const std::string& text, std::size_t size)
{
    CMicroblogPage page;
    page.withProfile = false;
    page.size = 0;
    std::string body = BuildMicroblogPage(page);
    while (body.size() < size)
        body += text;
    return body;
}

// The work of the scans of one page, counted in steps of their budgets.
CScanBudget::CTally WorkOf(const std::function<void()>& scan)
{
    CScanBudget::CTally before = CScanBudget::ThreadTally();
    scan();
    CScanBudget::CTally after = CScanBudget::ThreadTally();
    return {after.m_budgets - before.m_budgets, after.m_spent - before.m_spent,
            after.m_steps - before.m_steps};
}

TEST_F(PageHandler, GivesUpPageOfUnclosedProfileSpansAfterBoundedWork)
{
    // Spans that never close their tag make a backtracking search of the id
    // pattern cost the cube of the page's length, for every piece offered
    // between 4000 and 8000 bytes. Each search stops when its budget is
    // spent, so the whole page costs no more than a few hundred steps for
    // every character scanned.
    std::string body =
        PageOf("<span class=\"prof\" <a href=\"http://" + MicroblogHost() + "/x ", 8200);
    std::size_t doneAt = 0;
    std::uint64_t scanned = 0; // characters of every piece long enough to be scanned
    CScanBudget::CTally work = WorkOf([&] {
        doneAt = Feed(body, false, 100);
        for (std::size_t length = 4000; length <= doneAt; length += 100)
            scanned += length;
    });
    EXPECT_GE(doneAt, 8000u);
    EXPECT_LT(doneAt, 8100u);
    EXPECT_TRUE(m_client.m_found.empty());
    // The page does make the search backtrack: every piece's id search ran
    // out of steps, and none went on past its budget.
    EXPECT_GE(work.m_spent, (8000u - 4000u) / 100u);
    EXPECT_EQ(work.m_spent, work.m_budgets);
    EXPECT_LE(work.m_steps, 200 * scanned) << work.m_steps << " steps";
}

TEST_F(PageHandler, FindsOwnerBehindManySpansAndLinksThatAreNotTheProfile)
{
    // Real pages are full of spans and links; the bound on the search must
    // leave room for all of them.
    std::string body = PageOf("<span class=\"profit\" title=\"a\"><a class=\"x\" href=\"http://" +
                                  MicroblogHost() + "/tag\">タグ</a></span><a href=\"http://" +
                                  MicroblogHost() + "/other/\">x</a>\n",
                              7000);
    body +=
        "<span class=\"profile\"><a href=\"http://" + MicroblogHost() + "/owner/\">p</a></span>";
    body += std::string(1000, ' ');
    EXPECT_LT(Feed(body, false, 1460), body.size());
    ASSERT_EQ(m_client.m_found.size(), 1u);
    EXPECT_EQ(m_client.m_found[0]->m_id, L"owner");
}

TEST_F(PageHandler, PageWithANulInTheIdIsDoneWithOnceAndCountedOnceByteByByte)
{
    CMicroblogPage page;
    page.id = std::string("bob\0evil", 8);
    page.name = "mochi&lt;b&gt;";
    std::string body = ChunkBody(BuildMicroblogPage(page), 1024);
    for (std::size_t step : {std::size_t(1), std::size_t(1500)}) {
        CZarumateSock sock;
        sock.SetClient(&m_client);
        std::size_t done = kNeverDone;
        CSimpleHttpHeaderList headers = Headers(true);
        for (std::size_t length = step; length <= body.size() + step; length += step) {
            std::vector<std::uint8_t> piece(body.begin(),
                                            body.begin() + std::min(length, body.size()));
            if (!sock.OnHttpResponse(headers, piece.data(), piece.size())) {
                done = piece.size();
                break;
            }
        }
        EXPECT_LT(done, 4000u + step) << "step " << step;
        EXPECT_EQ(sock.GetDecodeStats().m_idsRefused, 1u) << "step " << step;
    }
    EXPECT_TRUE(m_client.m_found.empty());

    page.id = "bob";
    m_client.m_found.clear();
    Feed(ChunkBody(BuildMicroblogPage(page), 1024), true);
    ASSERT_EQ(m_client.m_found.size(), 1u);
    EXPECT_EQ(m_client.m_found[0]->m_name, L"mochi<b>");
}

// --- Scan -------------------------------------------------------------------------

class Scan : public PageHandler
{
protected:
    std::wstring Host() const { return Utf8ToWide(MicroblogHost()); }
    std::wstring Link(const std::wstring& cls, const std::wstring& host, const std::wstring& id)
    {
        return L"<span class=\"" + cls + L"\"><a href=\"http://" + host + L"/" + id + L"/\">x</a>";
    }
};

TEST_F(Scan, TakesIdAsMatchedAndTheNameAsTheCharactersItsReferencesStandFor)
{
    std::wstring text =
        L"<title> A&amp;B \nさんのなう | Nimbo</title>" + Link(L"profile", Host(), L"x%41y");
    EXPECT_TRUE(m_sock.Scan(text));
    ASSERT_EQ(m_client.m_found.size(), 1u);
    EXPECT_EQ(m_client.m_found[0]->m_id, L"x%41y");
    EXPECT_EQ(m_client.m_found[0]->m_name, L" A&B  ");
}

TEST_F(Scan, IdWithANulOrAnotherControlCharacterIsRefusedAndCounted)
{
    const std::wstring title = L"<title>Nさんのなう |</title>";
    int refused = 0;
    for (std::wstring id :
         {std::wstring(L"bob\0evil", 8), std::wstring(L"bob\x1b[2J"), std::wstring(L"a\tb"),
          std::wstring(L"c\x7f"), std::wstring(L"d\x85")}) {
        EXPECT_TRUE(m_sock.Scan(title + Link(L"profile", Host(), id)));
        EXPECT_EQ(m_sock.GetDecodeStats().m_idsRefused, static_cast<std::uint64_t>(++refused));
    }
    EXPECT_TRUE(m_client.m_found.empty());
    EXPECT_TRUE(m_sock.Scan(title + Link(L"profile", Host(), L"bob")));
    ASSERT_EQ(m_client.m_found.size(), 1u);
    EXPECT_EQ(m_client.m_found[0]->m_id, L"bob");
}

TEST_F(Scan, NicknameReferencesAreDecodedOnceAndControlsNeverReachTheRecord)
{
    struct CCase
    {
        const wchar_t* title;
        const wchar_t* name;
    };
    const CCase cases[] = {
        {L"mochi&lt;b&gt;&amp;&#9733;", L"mochi<b>&\x2605"},
        {L"&amp;lt;&amp;amp;", L"&lt;&amp;"},
        {L"&#x2605;&#X41;&#65&eacute;&hearts;", L"\x2605"
                                                L"AA\xE9\x2665"},
        {L"&#0;&#xD800;&#x110000;&#99999999999;", L"\xFFFD\xFFFD\xFFFD\xFFFD"},
        {L"&#27;[31mred&#x9;x&#127;", L"\xFFFD[31mred x\xFFFD"},
        {L"raw\x1b]0;t\x07", L"raw\xFFFD]0;t\xFFFD"},
        {L"&nosuch; &amp &#; &#x; &AMP;", L"&nosuch; &amp &#; &#x; &AMP;"},
        {L"&Alpha;&alpha;", L"\x391\x3B1"},
    };
    for (const CCase& c : cases) {
        m_client.m_found.clear();
        EXPECT_TRUE(m_sock.Scan(std::wstring(L"<title>") + c.title + L"さんのなう |</title>" +
                                Link(L"profile", Host(), L"id")));
        ASSERT_EQ(m_client.m_found.size(), 1u) << WideToUtf8(c.title);
        EXPECT_EQ(m_client.m_found[0]->m_name, c.name) << WideToUtf8(c.title);
    }
}

TEST_F(Scan, FindsIdAndNameIndependentlyOfTheirOrder)
{
    std::wstring text = Link(L"prof", Host(), L"later") + L"\n<title>Nさんのなう |</title>";
    EXPECT_TRUE(m_sock.Scan(text));
    ASSERT_EQ(m_client.m_found.size(), 1u);
    EXPECT_EQ(m_client.m_found[0]->m_id, L"later");
}

TEST_F(Scan, NeedsClassBeginningWithProfAndTheMicroblogHost)
{
    const std::wstring title = L"<title>Nさんのなう |</title>";
    EXPECT_FALSE(m_sock.Scan(title + Link(L"myprofile", Host(), L"id")));
    EXPECT_FALSE(m_sock.Scan(title + Link(L"profile", L"www.example.org", L"id")));
    EXPECT_FALSE(m_sock.Scan(title + Link(L"profile", Host(), L"")));
    EXPECT_TRUE(m_sock.Scan(title + Link(L"prof-box", Host(), L"id")));
    EXPECT_EQ(m_client.m_found.size(), 1u);
}

TEST_F(Scan, NeedsTitleWithSuffixAndBar)
{
    const std::wstring link = Link(L"profile", Host(), L"id");
    EXPECT_FALSE(m_sock.Scan(link + L"<title>Nさんのなう</title>"));
    EXPECT_FALSE(m_sock.Scan(link + L"<title>さんのなう |</title>"));
    EXPECT_FALSE(m_sock.Scan(link));
    EXPECT_FALSE(m_sock.Scan(L""));
    EXPECT_TRUE(m_client.m_found.empty());
}

} // namespace
} // namespace zk
