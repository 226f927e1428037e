#include "capture/http_cached_stream.h"

#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zk {
namespace {

class CSink : public CHttpCachedStream<CSink>
{
public:
    bool OnHttpResponse(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                        std::size_t length, CContentCodedBody&)
    {
        ++m_callCount;
        m_lastBodyLength = length;
        if (m_record) {
            std::string names;
            for (const CSimpleHttpHeaderPtr& header : headers)
                names += header->m_name + "=" + header->m_value + "|";
            m_calls.emplace_back(names, std::string(reinterpret_cast<const char*>(body), length));
        }
        return length < m_doneAt;
    }

    std::size_t m_doneAt = std::numeric_limits<std::size_t>::max(); // body count answered done
    bool m_record = true;
    std::size_t m_callCount = 0;
    std::size_t m_lastBodyLength = 0;
    std::vector<std::pair<std::string, std::string>> m_calls; // headers, body
};

CTcpIpStreamInfo Stream(std::uint16_t port)
{
    CTcpIpStreamInfo stream;
    stream.m_key.m_source = {198, 18, 0, 1};
    stream.m_key.m_destination = {198, 18, 0, 2};
    stream.m_key.m_sourcePort = 80;
    stream.m_key.m_destinationPort = port;
    return stream;
}

// Each piece sits at the very end of its own allocation, so that a read past
// it fails under AddressSanitizer.
void Piece(CSink& sink, const std::string& bytes, std::uint16_t port = 1000)
{
    auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    sink.StreamDataIn(Stream(port), copy.get(), bytes.size());
}

// Whole, or the status line first and then one byte per piece.
void Feed(CSink& sink, const std::string& bytes, bool bytewise, std::uint16_t port = 1000)
{
    if (!bytewise)
        return Piece(sink, bytes, port);
    std::size_t first = std::min(bytes.find("\r\n") + 2, bytes.size());
    Piece(sink, bytes.substr(0, first), port);
    for (std::size_t i = first; i < bytes.size(); ++i)
        Piece(sink, bytes.substr(i, 1), port);
}

void ExpectNothingHeld(const CSink& sink)
{
    EXPECT_EQ(sink.GetCachedResponseCount(), 0u);
    EXPECT_EQ(sink.GetDecodeStats().m_responseBytes, 0u);
}

TEST(HttpResponseStart, OnlyAPieceBeginningWithAStatusLineStartsAResponse)
{
    const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
        {{"HTTP/1.1 200 OK\r\n\r\nx"}, true},
        {{"HTTP/1.1 2000 OK\r\n\r\nx"}, true},
        {{"HTTP/1 200 OK\r\n\r\nx"}, false},
        {{"HTTP/1.1 20\r\n\r\nx"}, false},
        {{"HTTP", "/1.1 200 OK\r\n\r\nx"}, true},
        {{"HTTP/1.1 200 OK", "\r\n\r\nx"}, true},
        {{"HTTP/1.1 200 OK\r", "\n\r\nx"}, true},
        {{"H", "TTP/1.", "1 2", "00 OK\r\n\r\nx"}, true},
        {{"HTTP/1.1 20", "x 200 OK\r\n\r\nx"}, false},
        {{"HTTX", "HTTP/1.1 200 OK\r\n\r\nx"}, true},
        {{"HTTP/1.1 OK\r\nHTTP/1.1 200 OK\r\n\r\nx"}, false},
        {{"GET / HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 200 OK"}, false},
        {{" HTTP/1.1 200 OK\r\n\r\nx"}, false},
        {{"HTTP/1.1 200 OK\nA: b\r\n\r\nx"}, false}, // starts, but its header block never ends
    };
    for (const auto& [pieces, starts] : cases) {
        SCOPED_TRACE(pieces[0]);
        CSink sink;
        for (const std::string& piece : pieces)
            Piece(sink, piece);
        EXPECT_EQ(sink.m_callCount, starts ? 1u : 0u);
    }
}

TEST(HttpResponseStart, AStatusLineSplitAnywhereIsFoundAndNothingStaysHeld)
{
    const std::string first = "HTTP/1.1 200 OK\r\nA: b\r\n\r\nfirst";
    const std::string second = "HTTP/1.1 203 Non-Authoritative Information\r\nC: d\r\n\r\nxyz";
    for (std::size_t cut = 1; cut < second.find("\r\n\r\n") + 4; ++cut) {
        SCOPED_TRACE(cut);
        CSink sink;
        Piece(sink, first);
        // The second response starts in the middle of the first one's
        // connection, its status line cut in two.
        Piece(sink, second.substr(0, cut));
        Piece(sink, second.substr(cut));
        ASSERT_EQ(sink.m_calls.size(), 2u);
        EXPECT_EQ(sink.m_calls[0].second, "first");
        EXPECT_EQ(sink.m_calls[1].first, "C=d|");
        EXPECT_EQ(sink.m_calls[1].second, "xyz");
        sink.OnStreamRetired(Stream(1000).m_key);
        ExpectNothingHeld(sink);
    }

    // One byte per piece from the first byte on.
    CSink sink;
    for (char c : second)
        Piece(sink, std::string(1, c));
    ASSERT_FALSE(sink.m_calls.empty());
    EXPECT_EQ(sink.m_calls.back().second, "xyz");
    sink.OnStreamRetired(Stream(1000).m_key);
    ExpectNothingHeld(sink);
}

TEST(HttpResponseStart, HeldBytesThatStartNoStatusLineGoToTheResponseInProgress)
{
    CSink sink;
    Piece(sink, "HTTP/1.1 200 OK\r\n\r\nbody ");
    // A piece of the body that looks like the start of a status line, then
    // the rest of the body: nothing is lost or reordered.
    Piece(sink, "HTTP/1.");
    Piece(sink, "1 is a protocol");
    EXPECT_EQ(sink.m_calls.back().second, "body HTTP/1.1 is a protocol");
    // Held bytes followed by a piece that starts a response on its own.
    Piece(sink, "HTTP");
    Piece(sink, "HTTP/1.1 404 Not Found\r\nE: f\r\n\r\nnew");
    ASSERT_GE(sink.m_calls.size(), 2u);
    EXPECT_EQ(sink.m_calls[sink.m_calls.size() - 2].second, "body HTTP/1.1 is a protocolHTTP");
    EXPECT_EQ(sink.m_calls.back().first, "E=f|");
    EXPECT_EQ(sink.m_calls.back().second, "new");
    sink.OnStreamRetired(Stream(1000).m_key);
    ExpectNothingHeld(sink);
}

TEST(HttpResponseStart, HeldBytesAreBoundedAndGoWithTheirStream)
{
    CSink sink;
    // Too long to be a status line still missing its CR LF: not held.
    std::string longLine = "HTTP/1.1 200 " + std::string(CSink::kMaxHeldStatusBytes, 'x');
    Piece(sink, longLine);
    ExpectNothingHeld(sink);
    Piece(sink, "\r\n\r\nbody");
    EXPECT_EQ(sink.m_callCount, 0u);

    // Held bytes count until their stream is retired or they are decided.
    Piece(sink, "HTTP/1.1 2", 1001);
    Piece(sink, "HTT", 1002);
    EXPECT_EQ(sink.GetDecodeStats().m_responseBytes, 13u);
    sink.OnStreamRetired(Stream(1001).m_key);
    EXPECT_EQ(sink.GetDecodeStats().m_responseBytes, 3u);
    Piece(sink, "not a response", 1002);
    ExpectNothingHeld(sink);
    EXPECT_EQ(sink.m_callCount, 0u);
}

TEST(HttpResponseCache, PresentsTheWholeBodyUntilTheHandlerIsDone)
{
    for (bool bytewise : {false, true}) {
        CSink sink;
        sink.m_doneAt = 10;
        Feed(sink, "HTTP/1.1 200 OK\r\nA: b\r\n\r\n0123456789", bytewise);
        Piece(sink, "more");
        ASSERT_EQ(sink.m_calls.size(), bytewise ? 10u : 1u);
        for (std::size_t i = 0; i < sink.m_calls.size(); ++i)
            EXPECT_EQ(sink.m_calls[i].second,
                      std::string("0123456789").substr(0, 11 - sink.m_calls.size() + i));
        EXPECT_EQ(sink.m_calls.back().first, "A=b|");
        ExpectNothingHeld(sink);
    }
}

TEST(HttpResponseCache, ANewResponseOnTheStreamReplacesTheOneInProgress)
{
    const std::string other = "HTTP/1.1 200 OK\r\n\r\nother";
    const std::string second = "HTTP/1.1 304 Not Modified\r\nB: c\r\n\r\n";
    CSink sink;
    Piece(sink, "HTTP/1.1 200 OK\r\n\r\nfirst");
    Piece(sink, " HTTP/1.1 200 OK\r\n"); // mid-piece: more of the first
    Piece(sink, other, 2000);
    Piece(sink, second);
    EXPECT_EQ(sink.m_calls.back().second, "other");
    Piece(sink, "x");
    EXPECT_EQ(sink.m_calls.back(), std::make_pair(std::string("B=c|"), std::string("x")));
    EXPECT_EQ(sink.m_calls[1].second, "first HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(sink.GetCachedResponseCount(), 2u);
    EXPECT_EQ(sink.GetDecodeStats().m_responseBytes, other.size() + second.size() + 1);
}

TEST(HttpResponseCache, RetiredStreamsAndIdleResponsesAreDropped)
{
    CSink sink;
    Piece(sink, "HTTP/1.1 200 OK\r\n\r\na", 1);
    Piece(sink, "HTTP/1.1 200 OK\r\n\r\nb", 2);
    sink.OnStreamRetired(Stream(1).m_key);
    Piece(sink, "dropped", 1);
    EXPECT_EQ(sink.m_callCount, 2u);
    sink.SetClock(CSink::kResponseIdleMs - 1);
    Piece(sink, "c", 2); // active again: the idle age starts anew
    sink.SetClock(2 * CSink::kResponseIdleMs - 2);
    Piece(sink, "not a response", 3);
    EXPECT_EQ(sink.GetCachedResponseCount(), 1u);
    sink.SetClock(2 * CSink::kResponseIdleMs - 1);
    Piece(sink, "not a response", 3);
    ExpectNothingHeld(sink);
    EXPECT_EQ(sink.GetResponseDrops(EResponseDrop::Idle), 1u);
}

TEST(HttpHeaderBlock, ParsesHeaderLinesAsWritten)
{
    const char* cases[][3] = {
        {"X-A: one\r\n  two\r\n\tthree\r\nB: 2\r\n\r\nbody", "X-A=one\r\n  two\r\n\tthree|B=2|",
         "body"},
        {"Q: \"a\r\nb: \\\"c\r\n\" \r\nB: 2\r\n\r\nbody", "Q=\"a\r\nb: \\\"c\r\n\"|B=2|", "body"},
        {"A: 1\r\nno colon\r\nB: 2\r\n\r\n", "A=1|", "B: 2\r\n\r\n"},
        {"Name :  v \t\r\n: nameless\r\nC:\r\n\r\nx", "Name =v|C=|", "x"},
        {"A: b\nC:\n\nx", "A=b|C=|", "x"}, // bare LF line ends keep every value byte
    };
    for (const auto& [block, headers, body] : cases) {
        for (bool bytewise : {false, true}) {
            SCOPED_TRACE(block);
            CSink sink;
            Feed(sink, std::string("HTTP/1.1 200 OK\r\n") + block, bytewise);
            ASSERT_FALSE(sink.m_calls.empty());
            EXPECT_EQ(sink.m_calls.back(), std::make_pair(std::string(headers), std::string(body)));
        }
    }
}

TEST(HttpHeaderBlock, FindsTheFirstHeaderOfANameInAnyCase)
{
    CSimpleHttpHeaderList headers = {std::make_shared<CSimpleHttpHeader>("content-type", "a"),
                                     std::make_shared<CSimpleHttpHeader>("Content-Type", "b")};
    ASSERT_TRUE(CSink::FindHeader(headers, "CONTENT-TYPE"));
    EXPECT_EQ(CSink::FindHeader(headers, "CONTENT-TYPE")->m_value, "a");
    EXPECT_FALSE(CSink::FindHeader(headers, "Content"));
}

bool Decode(const std::string& body, std::string& decoded, const char* coding = "chunked",
            const char* name = "Transfer-Encoding")
{
    CSimpleHttpHeaderList headers = {std::make_shared<CSimpleHttpHeader>(name, coding)};
    auto copy = std::make_unique<std::uint8_t[]>(body.size());
    std::memcpy(copy.get(), body.data(), body.size());
    decoded = "stale";
    return CSink::DecodeChunkedBody(headers, copy.get(), body.size(), decoded);
}

TEST(ChunkedBody, DecodesABodyCutAnywhereAsFarAsItGoes)
{
    const std::string letters = "abcdefghijklmnopqrstuvwxyz";
    const std::string body = "1a;x=y\r\n" + letters + "\r\n5\r\nhello\r\n0\r\n\r\n";
    std::string decoded;
    for (std::size_t cut = 0; cut <= body.size(); ++cut) {
        SCOPED_TRACE(cut);
        bool sized = cut >= 8; // the first size line and its CR LF are there
        EXPECT_EQ(Decode(body.substr(0, cut), decoded), sized);
        EXPECT_EQ(decoded, (letters + "hello").substr(0, sized ? decoded.size() : 0));
    }
    EXPECT_EQ(decoded, letters + "hello");
    EXPECT_TRUE(Decode("0\r\n\r\n", decoded, "chunked", "transfer-encoding"));
}

TEST(ChunkedBody, ReadsOnlyTheFirstSizeLineLenientlyAndKeepsWhatWasDecoded)
{
    struct
    {
        const char* body;
        const char* coding;
        bool result;
        const char* decoded;
    } cases[] = {
        {"3\r\nabc\r\n0\r\n\r\n", "gzip", false, ""},
        {"3\r\nabc\r\n0\r\n\r\n", "chunked, gzip", false, ""},
        {"3\r\nabc\r\n0\r\n\r\n", "Chunked", true, "abc"},
        {"zz\r\nabc\r\n0\r\n\r\n", "chunked", false, ""},
        {"00000000003;x\r\nabc\r\n0\r\n", "chunked", true, "abc"},
        {"7fffffff\r\nabc", "chunked", true, "abc"},
        {"80000000\r\nab", "chunked", false, ""},
        {"100000000\r\nab", "chunked", false, ""},
        {"3\r\nabc\r\n10;x\r\nd", "chunked", false, "abc"},
        {"3\r\nabc\r\n1g\r\nd", "chunked", false, "abc"},
        {"3\r\nabc\r\n\r\nd", "chunked", false, "abc"},
        {"3\r\nabcd\r\n", "chunked", false, "abc"},
        {"3\r\nabc\r\n7FFFFFFF\r\nd", "chunked", true, "abcd"},
        {"3\r\nabc\r\n80000000\r\nd", "chunked", false, "abc"},
        {"3\r\nabc\r\n100000000\r\nd", "chunked", false, "abc"},
    };
    std::string decoded;
    for (const auto& c : cases) {
        EXPECT_EQ(Decode(c.body, decoded, c.coding), c.result) << c.body << c.coding;
        EXPECT_EQ(decoded, c.decoded) << c.body << c.coding;
    }
    EXPECT_FALSE(Decode("3\r\nabc\r\n0\r\n\r\n", decoded, "chunked", "Content-Encoding"));
}

TEST(ChunkedBody, AReaderFollowingTheBodyAsItGrowsTakesWhatAWholeDecodeDoes)
{
    const std::pair<std::string, bool> bodies[] = {
        {"1a;x=y\r\nabcdefghijklmnopqrstuvwxyz\r\n5\r\nhello\r\n0\r\n\r\n", true},
        {"3\r\nabc\r\n10;x\r\nd", false},
        {"3\r\nabc\r\n\r\nd", false},
        {"3\r\nabcd\r\n", false},
        {"zz\r\nabc\r\n0\r\n\r\n", false},
        {"1\r\na\r\n1\r\nb\r\n0\r\n", true},
        {"0\r\n\r\n", true},
    };
    for (const auto& [body, complete] : bodies) {
        SCOPED_TRACE(body);
        std::string whole;
        bool intact = Decode(body, whole);
        // The reader gets the body again with every byte, as the page
        // handler does, and takes only part of some runs.
        CChunkedBodyReader reader;
        std::string taken;
        for (std::size_t length = 1; length <= body.size(); ++length) {
            auto bytes = reinterpret_cast<const std::uint8_t*>(body.data());
            const std::uint8_t* data = nullptr;
            std::size_t dataLength = 0;
            while (reader.NextData(bytes, length, data, dataLength)) {
                std::size_t used = (dataLength + 1) / 2;
                taken.append(reinterpret_cast<const char*>(data), used);
                reader.Consume(used);
            }
        }
        EXPECT_EQ(taken, whole);
        EXPECT_EQ(!reader.IsMalformed() && reader.HasFirstSizeLine(), intact);
        EXPECT_EQ(reader.IsComplete(), complete);
    }
}

TEST(HttpResponseBounds, AResponseIsDoneWhenItReachesItsSizeLimit)
{
    const std::string status = "HTTP/1.1 200 OK\r\n\r\n";
    CSink sink;
    sink.m_record = false;
    Piece(sink, status + std::string(CSink::kMaxResponseBytes, 'x'));
    EXPECT_EQ(sink.m_lastBodyLength, CSink::kMaxResponseBytes - status.size());
    ExpectNothingHeld(sink);
    Piece(sink, status);
    while (sink.GetCachedResponseCount() > 0)
        Piece(sink, std::string(1000, 'x'));
    EXPECT_EQ(sink.m_lastBodyLength, CSink::kMaxResponseBytes - status.size());
    EXPECT_EQ(sink.GetResponseDrops(EResponseDrop::TooLarge), 2u);
    ExpectNothingHeld(sink);
}

TEST(HttpResponseBounds, AFloodOfUnfinishedResponsesStaysUnderTheLimits)
{
    CSink sink;
    sink.m_record = false;
    const std::string chunk(16 * 1024, 'x');
    auto withinLimits = [&] {
        return sink.GetDecodeStats().m_responseBytes <= CSink::kMaxCachedResponseBytes &&
               sink.GetCachedResponseCount() <= CSink::kMaxCachedResponses;
    };
    Piece(sink, "HTTP/1.1 200 OK\r\n\r\nx", 1); // kept active throughout
    const std::size_t end = CSink::kMaxCachedResponses + 500;
    for (std::uint16_t port = 2; port < end; ++port) {
        Piece(sink, "HTTP/1.1 200 OK\r\nUnfinished: ", port);
        for (int i = 0; port < 500 && i < 3; ++i)
            Piece(sink, chunk, port);
        Piece(sink, "x", 1);
        ASSERT_TRUE(withinLimits()) << port;
    }
    EXPECT_EQ(sink.GetResponseDrops(EResponseDrop::CacheFull),
              1 + (end - 2) - CSink::kMaxCachedResponses);
    EXPECT_EQ(sink.GetCachedResponseCount(), CSink::kMaxCachedResponses);
    Piece(sink, "still held", 1);
    EXPECT_EQ(sink.m_lastBodyLength, 1 + (end - 2) + 10);
    sink.SetClock(CSink::kResponseIdleMs);
    Piece(sink, "anything", 1);
    ExpectNothingHeld(sink);
}

} // namespace
} // namespace zk
