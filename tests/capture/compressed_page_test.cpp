// Pages sent with content codings, through the HTTP layer and the page
// handler of the capture object, as the capture thread feeds them.

#include "capture/zarumate_sock.h"
#include "support/content_encoder.h"
#include "support/microblog_page.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace zk {
namespace {

using test::BuildMicroblogPage;
using test::BuildRealisticPage;
using test::ChunkBody;
using test::CMicroblogPage;
using test::CTestCoding;
using test::Encode;

constexpr std::size_t kNeverDone = static_cast<std::size_t>(-1);
const CTestCoding kCodings[] = {CTestCoding::Gzip, CTestCoding::Zlib, CTestCoding::RawDeflate,
                                CTestCoding::Brotli, CTestCoding::Zstd};

class CFoundList : public CZarumateSockClient
{
public:
    void OnZarumateFound(const CZarumateDataPtr& data) override { m_found.push_back(data); }
    std::vector<CZarumateDataPtr> m_found;
};

std::string Response(const std::string& codings, const std::string& body, bool chunked)
{
    std::string out = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n";
    if (!codings.empty())
        out += "Content-Encoding: " + codings + "\r\n";
    if (chunked)
        return out + "Transfer-Encoding: chunked\r\n\r\n" + ChunkBody(body, 100);
    return out + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string CodedResponse(CTestCoding coding, const std::string& page, bool chunked)
{
    return Response(test::CodingName(coding), Encode(coding, page), chunked);
}

class CompressedPage : public ::testing::Test
{
protected:
    CompressedPage()
    {
        m_sock.SetClient(&m_client);
        m_stream.m_key.m_source = {198, 18, 0, 2};
        m_stream.m_key.m_destination = {198, 18, 0, 1};
        m_stream.m_key.m_sourcePort = 80;
        m_stream.m_key.m_destinationPort = 40000;
    }

    // Feeds a response's bytes in pieces of step bytes (the first piece
    // holds the whole header block, as a response start must) and answers
    // how many bytes had gone in when the response left the cache.
    std::size_t Feed(const std::string& response, std::size_t step)
    {
        std::size_t first =
            std::max(response.find("\r\n\r\n") + 4, std::min(step, response.size()));
        for (std::size_t at = 0; at < response.size();) {
            std::size_t size = at == 0 ? first : std::min(step, response.size() - at);
            Piece(response.substr(at, size));
            at += size;
            if (m_sock.GetCachedResponseCount() == 0)
                return at;
        }
        return kNeverDone;
    }

    // Each piece sits at the end of its own allocation, so that a read past
    // it fails under AddressSanitizer.
    void Piece(const std::string& bytes)
    {
        auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
        std::memcpy(copy.get(), bytes.data(), bytes.size());
        m_sock.StreamDataIn(m_stream, copy.get(), bytes.size());
    }

    void ExpectOnePerson(const std::string& what)
    {
        ASSERT_EQ(m_client.m_found.size(), 1u) << what;
        EXPECT_EQ(m_client.m_found[0]->m_id, L"someid") << what;
        EXPECT_EQ(m_client.m_found[0]->m_name, L"ざるこ") << what;
        m_client.m_found.clear();
    }

    const CDecodeStats& Stats() const { return m_sock.GetDecodeStats(); }

    CFoundList m_client;
    CZarumateSock m_sock;
    CTcpIpStreamInfo m_stream;
};

// --- Pages that yield their owner --------------------------------------------

TEST_F(CompressedPage, EveryCodingChunkedOrNotWholeOrInSmallPiecesYieldsTheOwner)
{
    std::string page = BuildMicroblogPage({});
    for (CTestCoding coding : kCodings) {
        for (bool chunked : {false, true}) {
            std::string response = CodedResponse(coding, page, chunked);
            for (std::size_t step :
                 {std::size_t(1), std::size_t(7), std::size_t(1460), response.size()}) {
                std::string what = std::string(test::CodingName(coding)) + " chunked " +
                                   std::to_string(chunked) + " step " + std::to_string(step);
                EXPECT_NE(Feed(response, step), kNeverDone) << what;
                ExpectOnePerson(what);
                // The decoders went with the response.
                EXPECT_EQ(Stats().m_responseBytes, 0u) << what;
            }
        }
    }
    const auto& coded = Stats().m_codedResponses;
    EXPECT_EQ(coded[static_cast<std::size_t>(EContentCoding::Gzip)], 8u);
    EXPECT_EQ(coded[static_cast<std::size_t>(EContentCoding::Deflate)], 16u);
    EXPECT_EQ(coded[static_cast<std::size_t>(EContentCoding::Brotli)], 8u);
    EXPECT_EQ(coded[static_cast<std::size_t>(EContentCoding::Zstd)], 8u);
    EXPECT_EQ(Stats().m_codingsCorrupt + Stats().m_codingsUnknown, 0u);
}

TEST_F(CompressedPage, StackedCodingsAreUndoneInReverseWhateverTheirSpelling)
{
    std::string page = BuildMicroblogPage({});
    std::string gzipThenBr = Encode(CTestCoding::Brotli, Encode(CTestCoding::Gzip, page));
    Feed(Response(" GZip ,identity,  BR\t", gzipThenBr, true), 3);
    ExpectOnePerson("gzip, br");

    // Two header lines make one list, in their order.
    std::string zstdThenDeflate = Encode(CTestCoding::Zlib, Encode(CTestCoding::Zstd, page));
    std::string response = Response("zstd", zstdThenDeflate, false);
    response.insert(response.find("\r\n\r\n") + 2, "content-encoding: Deflate\r\n");
    Feed(response, 50);
    ExpectOnePerson("zstd, deflate");

    Feed(Response("x-gzip", Encode(CTestCoding::Gzip, page), false), 100);
    ExpectOnePerson("x-gzip");
    Feed(Response("identity", page, true), 100);
    ExpectOnePerson("identity");
    EXPECT_EQ(Stats().m_codedResponses[static_cast<std::size_t>(EContentCoding::Gzip)], 2u);
}

TEST_F(CompressedPage, FindsOwnerBeyondTheFirst4000DecodedBytes)
{
    CMicroblogPage page;
    page.fillerBeforeProfile = 5000;
    page.size = 9000;
    Feed(CodedResponse(CTestCoding::Gzip, BuildMicroblogPage(page), true), 20);
    ExpectOnePerson("profile after 5000 bytes");
}

TEST_F(CompressedPage, AConnectionGoesOnAfterACompressedResponseThatIsNoPage)
{
    std::string other(5000, 'x');
    EXPECT_NE(Feed(CodedResponse(CTestCoding::Brotli, other, false), 1460), kNeverDone);
    Feed(CodedResponse(CTestCoding::Gzip, BuildMicroblogPage({}), true), 1460);
    ExpectOnePerson("page after another response");
}

// --- Pages of realistic size ----------------------------------------------------

struct CZstdVariant
{
    int level;
    int windowLog;
};

TEST_F(CompressedPage, RealisticPagesAreFoundInEveryCodingWholeBytewiseAndInSegments)
{
    std::string page = BuildRealisticPage(1);
    std::vector<std::pair<std::string, std::string>> bodies; // name, coded body
    for (CTestCoding coding : kCodings)
        bodies.emplace_back(test::CodingName(coding), Encode(coding, page));
    for (CZstdVariant zstd : {CZstdVariant{1, 17}, CZstdVariant{3, 20}, CZstdVariant{19, 23}}) {
        std::string coded = test::EncodeZstdWithWindow(page, zstd.windowLog, zstd.level);
        // More than the bound of a plain response before the first block
        // is complete.
        ASSERT_GT(coded.size(), 100u * 1024) << zstd.level;
        bodies.emplace_back("zstd", coded);
    }
    for (const auto& [name, coded] : bodies) {
        for (bool chunked : {false, true}) {
            std::string response = Response(name, coded, chunked);
            for (std::size_t step : {std::size_t(1), std::size_t(1460), response.size()}) {
                std::string what = name + " of " + std::to_string(coded.size()) + " chunked " +
                                   std::to_string(chunked) + " step " + std::to_string(step);
                EXPECT_NE(Feed(response, step), kNeverDone) << what;
                ExpectOnePerson(what);
                EXPECT_EQ(Stats().m_responseBytes, 0u) << what;
            }
        }
    }
    EXPECT_EQ(Stats().m_codingsCorrupt + Stats().m_codingsCapped, 0u);
}

TEST_F(CompressedPage, TwelveInterleavedZstdPagesAreAllFound)
{
    std::vector<std::string> responses;
    for (int level : {1, 3, 19})
        for (int windowLog : {17, 20, 22, 23})
            responses.push_back(
                Response("zstd",
                         test::EncodeZstdWithWindow(
                             BuildRealisticPage(static_cast<std::uint32_t>(responses.size())),
                             windowLog, level),
                         responses.size() % 2 == 0));
    // One connection each, a segment of each in turn.
    std::size_t peak = 0;
    for (std::size_t at = 0;; at += 1460) {
        bool more = false;
        for (std::size_t i = 0; i < responses.size(); ++i) {
            if (at >= responses[i].size())
                continue;
            more = true;
            CTcpIpStreamInfo stream = m_stream;
            stream.m_key.m_destinationPort = static_cast<std::uint16_t>(40000 + i);
            std::string piece = responses[i].substr(at, 1460);
            m_sock.StreamDataIn(stream, reinterpret_cast<const std::uint8_t*>(piece.data()),
                                piece.size());
            peak = std::max<std::size_t>(peak, Stats().m_responseBytes);
        }
        if (!more)
            break;
    }
    EXPECT_EQ(m_client.m_found.size(), responses.size());
    EXPECT_EQ(Stats().m_codingsCapped + Stats().m_codingsCorrupt, 0u);
    EXPECT_EQ(m_sock.GetResponseDrops(EResponseDrop::CacheFull), 0u);
    // Each holds its coded bytes, the decoder's input block and tables, and
    // the decoded bytes with a block's room: well under a megabyte, where a
    // decoder with a window of its own would hold up to 8 MiB.
    EXPECT_LT(peak, responses.size() * 1024 * 1024) << peak;
    EXPECT_EQ(Stats().m_responseBytes, 0u);
}

TEST_F(CompressedPage, ACodedResponseLostToABoundIsCounted)
{
    // A zstd page sent in chunks of one byte: six bytes on the wire for
    // each coded byte, so its first block would need more than the bound of
    // coded bytes. It is given up undecided.
    std::string response =
        "HTTP/1.1 200 OK\r\nContent-Encoding: zstd\r\nTransfer-Encoding: chunked\r\n\r\n" +
        ChunkBody(test::EncodeZstdWithWindow(BuildRealisticPage(7), 20, 3), 1);
    std::size_t done = Feed(response, 1460);
    EXPECT_LT(done, 200u * 1024);
    EXPECT_EQ(m_sock.GetResponseDrops(EResponseDrop::TooLarge), 1u);
    EXPECT_EQ(Stats().m_codingsCapped, 1u);
    EXPECT_EQ(Stats().m_responseBytes, 0u);
    EXPECT_TRUE(m_client.m_found.empty());
}

// --- Where a response begins --------------------------------------------------

TEST_F(CompressedPage, PagesWhoseStatusLineIsSplitAreFoundAndSoIsThePageAfterEach)
{
    std::string page = BuildMicroblogPage({});
    const std::string responses[] = {
        Response("", page, true),
        Response("", page, false),
        CodedResponse(CTestCoding::Gzip, page, true),
        CodedResponse(CTestCoding::Zlib, page, false),
        CodedResponse(CTestCoding::Brotli, page, true),
        CodedResponse(CTestCoding::Zstd, page, false),
    };
    const std::size_t cuts[] = {1, 4, 5, 8, 12, 16}; // "HTTP/1.1 200 OK\r\n"
    for (std::size_t i = 0; i < std::size(responses); ++i) {
        std::string what = "response " + std::to_string(i);
        const std::string& response = responses[i];
        Piece(response.substr(0, cuts[i]));
        std::string rest = response.substr(cuts[i]);
        for (std::size_t at = 0; at < rest.size(); at += 1460)
            Piece(rest.substr(at, 1460));
        ExpectOnePerson(what);
        // The next page on the connection, its status line at a piece's start.
        EXPECT_NE(Feed(CodedResponse(CTestCoding::Gzip, page, true), 1460), kNeverDone) << what;
        ExpectOnePerson("the page after " + what);
    }
    m_sock.OnStreamRetired(m_stream.m_key);
    EXPECT_EQ(Stats().m_responseBytes, 0u);
}

// --- Page rules on decoded bytes ---------------------------------------------

TEST_F(CompressedPage, AppliesThePageRulesToDecodedBytes)
{
    // The marker beyond 2000 decoded bytes: not examined, although the wire
    // carries far fewer bytes than that.
    CMicroblogPage late;
    late.fillerBeforeMarker = 2000;
    EXPECT_NE(Feed(CodedResponse(CTestCoding::Zstd, BuildMicroblogPage(late), false), 1),
              kNeverDone);

    // A page shorter than 4000 decoded bytes is never scanned; as its coded
    // stream ends, nothing more will come and the response is done.
    CMicroblogPage shortPage;
    shortPage.size = 3000;
    std::string text = BuildMicroblogPage(shortPage);
    ASSERT_LT(text.size(), 4000u);
    std::string response = CodedResponse(CTestCoding::Gzip, text, true);
    // Done with the coded stream's last byte, before the chunk's CR LF and
    // the last chunk.
    EXPECT_EQ(Feed(response, 1), response.size() - 7);

    // Without a nickname the page is given up at 8000 decoded bytes.
    CMicroblogPage noTitle;
    noTitle.withTitle = false;
    noTitle.size = 20000;
    response = CodedResponse(CTestCoding::Gzip, BuildMicroblogPage(noTitle), false);
    EXPECT_LT(Feed(response, 1), response.size());
    EXPECT_TRUE(m_client.m_found.empty());
}

// --- Hostile and broken bodies -------------------------------------------------

// A page top, then a nickname-less expanse of zeros: every decoded byte up to
// the give-up length is worth decoding.
std::string BombText(std::size_t size)
{
    CMicroblogPage top;
    top.withTitle = false;
    top.size = 0;
    std::string text = BuildMicroblogPage(top);
    text.resize(size, '\0');
    return text;
}

TEST_F(CompressedPage, ABombIsDecodedNoFurtherThanThePageRulesNeed)
{
    std::string bomb = BombText(4 * 1024 * 1024);
    for (CTestCoding coding : {CTestCoding::Gzip, CTestCoding::Brotli, CTestCoding::Zstd}) {
        std::string response = CodedResponse(coding, bomb, true);
        std::string what = test::CodingName(coding);
        // The give-up length of decoded bytes comes out of the first piece.
        EXPECT_LE(Feed(response, 1460), 1460u) << what;
        EXPECT_EQ(Stats().m_responseBytes, 0u) << what;
        Feed(CodedResponse(coding, BuildMicroblogPage({}), true), 1460);
        ExpectOnePerson("page after a bomb in " + what);
    }
}

TEST_F(CompressedPage, CorruptTruncatedAndUnknownCodingsFindNobodyAndEndTheResponse)
{
    std::string page = BuildMicroblogPage({});
    for (CTestCoding coding : kCodings) {
        std::string what = test::CodingName(coding);
        std::string coded = Encode(coding, page);
        // A stream whose first bytes are not of its format fails at once.
        std::string corrupt = coded;
        corrupt[0] = static_cast<char>(corrupt[0] ^ 0x5a);
        corrupt[1] = static_cast<char>(corrupt[1] ^ 0xa5);
        EXPECT_NE(Feed(Response(test::CodingName(coding), corrupt, false), 1460), kNeverDone)
            << what;
        // A chunked body that ends before its coded stream does.
        coded.resize(coded.size() / 3);
        std::string truncated = Response(test::CodingName(coding), coded, true);
        EXPECT_EQ(Feed(truncated, 1460), truncated.size()) << what;
        // Both leave the connection to the next response.
        Feed(CodedResponse(coding, page, false), 1460);
        ExpectOnePerson("page after a broken stream in " + what);
    }
    EXPECT_GE(Stats().m_codingsCorrupt, 9u);

    for (const char* unknown : {"compress", "gzip, foo", "gzip, gzip, gzip, gzip, gzip"}) {
        std::string response = Response(unknown, Encode(CTestCoding::Gzip, page), false);
        // Done with the first body byte.
        EXPECT_EQ(Feed(response, 1), response.find("\r\n\r\n") + 5) << unknown;
    }
    EXPECT_EQ(Stats().m_codingsUnknown, 3u);
    EXPECT_TRUE(m_client.m_found.empty());
    EXPECT_EQ(Stats().m_responseBytes, 0u);
}

TEST_F(CompressedPage, StreamsAskingForLargeWindowsAreRefused)
{
    // A zstd frame naming a window beyond the 8 MiB HTTP allows, and brotli's
    // large-window extension, fail at their headers.
    std::string page = BuildMicroblogPage({});
    Feed(Response("zstd", test::EncodeZstdWithWindow(page, 24), false), 1460);
    Feed(Response("br", test::EncodeBrotliLargeWindow(page), false), 1460);
    EXPECT_TRUE(m_client.m_found.empty());
    EXPECT_EQ(Stats().m_codingsCorrupt, 2u);
    // Within the limit, the same page is found.
    Feed(Response("zstd", test::EncodeZstdWithWindow(page, 23), false), 1460);
    ExpectOnePerson("zstd with an 8 MiB window");
}

TEST_F(CompressedPage, DecoderMemoryCountsTowardsTheResponseLimitsUntilTheResponseEnds)
{
    std::string response = CodedResponse(CTestCoding::Gzip, BuildMicroblogPage({}), false);
    std::size_t bodyStart = response.find("\r\n\r\n") + 4;
    Piece(response.substr(0, bodyStart + 50));
    ASSERT_EQ(m_sock.GetCachedResponseCount(), 1u);
    // The decoder's state (some 7 KiB for inflate) and its decoded bytes are
    // part of what the response holds.
    EXPECT_GT(Stats().m_responseBytes, bodyStart + 50 + 8000 + 4096);
    m_sock.OnStreamRetired(m_stream.m_key);
    EXPECT_EQ(Stats().m_responseBytes, 0u);
}

// --- Chunked bodies whose framing breaks -------------------------------------

TEST_F(CompressedPage, AMalformedChunkedBodyIsScannedOnWhatItDecodedTo)
{
    // The title is split between two chunks, and the size line after them,
    // in front of the profile link, is malformed. Scanned raw, the body
    // would yield the nickname with a size line inside it.
    CMicroblogPage page;
    page.fillerBeforeProfile = 3000;
    std::string text = BuildMicroblogPage(page);
    std::size_t cut = text.find("こさんのなう");
    std::size_t link = text.find("<span class=\"profile\"");
    ASSERT_LT(link, 4000u);
    auto chunk = [](const std::string& data) {
        std::string chunked = ChunkBody(data, data.size());
        return chunked.substr(0, chunked.size() - 5); // without the last chunk
    };
    std::string body = chunk(text.substr(0, cut)) + chunk(text.substr(cut, link - cut)) +
                       "10;x\r\n" + text.substr(link) + "\r\n0\r\n\r\n";
    EXPECT_NE(Feed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + body, 1), kNeverDone);
    EXPECT_TRUE(m_client.m_found.empty());
}

} // namespace
} // namespace zk
