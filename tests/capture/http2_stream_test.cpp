// HTTP/2 connections through the decoding chain, from datagrams to the
// responses of the HTTP layer and the page handler.

#include "capture/http_cached_stream.h"
#include "capture/zarumate_sock.h"
#include "platform/text_convert.h"
#include "support/content_encoder.h"
#include "support/http2_frames.h"
#include "support/microblog_page.h"
#include "support/packet_builder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zk {
namespace {
class CSmallHttp2Sink;
} // namespace

// The sink with small HTTP/2 bounds, so that every one is reached quickly.
template <> struct CDecodeLimits<CSmallHttp2Sink> : CDecodeLimits<void>
{
    static constexpr std::size_t kMaxHttp2HeaderBlockBytes = 1024;
    static constexpr std::size_t kMaxHttp2HeaderListBytes = 512;
    static constexpr std::size_t kMaxHpackDecoderBytes = 64 * 1024;
    static constexpr std::size_t kMaxHttp2Streams = 3;
    static constexpr std::size_t kMaxHttp2StateBytes = 48 * 1024;
};

namespace {

using test::Bytes;
using test::CHeaderFields;
using test::CHttp2ServerFrames;
using test::CTcpFlowBuilder;

// Records every response by its "x-id" header: the body as last presented.
template <class TSelf> class CRecordingSink : public CHttpCachedStream<TSelf>
{
public:
    bool OnHttpResponse(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                        std::size_t length, CContentCodedBody&)
    {
        CSimpleHttpHeaderPtr id = FindHttpHeader(headers, "x-id");
        std::string& recorded = m_bodies[id ? id->m_value : "?"];
        recorded.assign(reinterpret_cast<const char*>(body), length);
        return true;
    }

    std::map<std::string, std::string> m_bodies;
};

class CHttp2Sink : public CRecordingSink<CHttp2Sink>
{};

class CSmallHttp2Sink : public CRecordingSink<CSmallHttp2Sink>
{};

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

CHeaderFields Response(const std::string& id, const std::string& status = "200")
{
    return {{":status", status}, {"content-type", "text/html"}, {"x-id", id}};
}

// One connection of the client port given, its server's bytes sent in
// segments of the step given.
template <class TSink> class CConnection
{
public:
    CConnection(TSink& sink, std::uint16_t port, std::uint32_t serverSequence = 0xFFFFFF00u)
        : m_sink(sink), m_client(test::kClientAddress, port, test::kServerAddress, 80, 100),
          m_server(test::kServerAddress, 80, test::kClientAddress, port, serverSequence)
    {
        In(m_client.Syn());
        In(m_server.Syn(true));
    }

    void Client(const Bytes& bytes) { In(m_client.Data(bytes)); }

    void Server(const Bytes& bytes, std::size_t step = 1400)
    {
        for (std::size_t at = 0; at < bytes.size(); at += step) {
            std::size_t end = std::min(at + step, bytes.size());
            In(m_server.Data(Bytes(bytes.begin() + at, bytes.begin() + end)));
        }
    }

    // The key of the server's direction, its IPv4 addresses in the first
    // bytes of the key's address fields.
    CTcpIpStreamKey ServerKey() const
    {
        CTcpIpStreamKey key;
        std::copy(test::kServerAddress.begin(), test::kServerAddress.end(), key.m_source.begin());
        std::copy(test::kClientAddress.begin(), test::kClientAddress.end(),
                  key.m_destination.begin());
        key.m_sourcePort = 80;
        key.m_destinationPort = m_port;
        return key;
    }

    void Retire()
    {
        m_sink.OnStreamRetired(ServerKey());
        m_sink.OnStreamRetired(ServerKey().Reversed());
    }

private:
    void In(const Bytes& datagram)
    {
        // Each datagram in an allocation of its own exact size.
        auto copy = std::make_unique<std::uint8_t[]>(datagram.size());
        std::copy(datagram.begin(), datagram.end(), copy.get());
        m_sink.IpDatagramIn(copy.get(), datagram.size());
    }

    TSink& m_sink;
    CTcpFlowBuilder m_client;
    CTcpFlowBuilder m_server;
    std::uint16_t m_port = m_client.Tcp().sourcePort;
};

const std::size_t kSteps[] = {1400, 1, 7, 100};

TEST(Http2Stream, InterleavedStreamsEachBecomeAResponse)
{
    for (std::size_t step : kSteps) {
        CHttp2Sink sink;
        CConnection connection(sink, 40000);
        connection.Client(test::Http2ClientPreface());
        CHttp2ServerFrames frames;
        std::string one(3000, 'a'), three(5000, 'b'), five = "short";
        Bytes server = Join({
            CHttp2ServerFrames::Preface(),
            frames.Headers(1, Response("one"), false, 0, 3, true),
            frames.Headers(3, Response("three"), false, 10),
            CHttp2ServerFrames::Data(1, one.substr(0, 1000), false, 400, 5),
            frames.Headers(5, Response("five")),
            CHttp2ServerFrames::Data(3, three.substr(0, 2500), false),
            CHttp2ServerFrames::Data(5, five, true),
            CHttp2ServerFrames::Data(1, one.substr(1000), true, 16384, 200),
            CHttp2ServerFrames::Data(3, three.substr(2500), true, 1000),
        });
        connection.Server(server, step);
        EXPECT_EQ(sink.m_bodies["one"], one) << step;
        EXPECT_EQ(sink.m_bodies["three"], three) << step;
        EXPECT_EQ(sink.m_bodies["five"], five) << step;
        EXPECT_EQ(sink.m_bodies.size(), 3u);
        // Every stream has ended, so no response is held.
        EXPECT_EQ(sink.GetCachedResponseCount(), 0u);
        const CDecodeStats& stats = sink.GetDecodeStats();
        EXPECT_EQ(stats.m_http2Connections, 1u);
        EXPECT_EQ(stats.m_http2Streams, 3u);
        EXPECT_EQ(stats.m_http2HeaderStateLost, 0u);
        connection.Retire();
        EXPECT_EQ(stats.BufferedBytes(), 0u);
        EXPECT_EQ(sink.GetHttp2ConnectionCount(), 0u);
    }
}

TEST(Http2Stream, SkipsInformationalResponsesTrailersAndPromisesAndEndsResetStreams)
{
    for (std::size_t step : kSteps) {
        CHttp2Sink sink;
        CConnection connection(sink, 40001);
        connection.Client(test::Http2ClientPreface());
        CHttp2ServerFrames frames;
        Bytes server = Join({
            CHttp2ServerFrames::Preface(),
            frames.Headers(1, {{":status", "103"}, {"link", "</s.css>; rel=preload"}}),
            frames.PushPromise(1, 2, {{":method", "GET"}, {":path", "/pushed"}, {"x-id", "no"}}),
            frames.Headers(1, Response("one")),
            CHttp2ServerFrames::Data(1, "body", false),
            frames.Headers(1, {{"x-id", "trailer"}, {"grpc-status", "0"}}, true),
            // The pushed response is a response like any other.
            frames.Headers(2, Response("pushed")),
            CHttp2ServerFrames::Data(2, "pushed body", true),
            frames.Headers(3, Response("reset")),
            CHttp2ServerFrames::Data(3, "before", false),
            CHttp2ServerFrames::RstStream(3),
            CHttp2ServerFrames::Data(3, " after", true),
            // Streams above the last one the server took up end with
            // GOAWAY; a response without a body never goes up.
            frames.Headers(5, Response("kept")),
            frames.Headers(7, Response("dropped")),
            frames.Headers(9, Response("empty"), true),
            CHttp2ServerFrames::GoAway(5),
            CHttp2ServerFrames::Data(5, "kept body", true),
            CHttp2ServerFrames::Data(7, "dropped body", true),
        });
        connection.Server(server, step);
        std::map<std::string, std::string> expected{
            {"one", "body"}, {"pushed", "pushed body"}, {"reset", "before"}, {"kept", "kept body"}};
        EXPECT_EQ(sink.m_bodies, expected) << step;
        EXPECT_EQ(sink.GetCachedResponseCount(), 0u);
        EXPECT_EQ(sink.GetDecodeStats().m_http2Streams, 6u);
        connection.Retire();
        EXPECT_EQ(sink.GetDecodeStats().BufferedBytes(), 0u);
    }
}

TEST(Http2Stream, TellsHttp2ByAlpnByTheServersPrefaceAndByAnUpgradeToH2c)
{
    CHttp2ServerFrames alpnFrames, prefaceFrames, upgradeFrames;
    CHttp2Sink sink;

    // ALPN: the server's first piece is too short to tell.
    CConnection alpn(sink, 40010);
    sink.OnTlsAlpn(alpn.ServerKey(), "h2");
    alpn.Server(Join({CHttp2ServerFrames::Preface(), alpnFrames.Headers(1, Response("alpn")),
                      CHttp2ServerFrames::Data(1, "by alpn", true)}),
                5);

    // The server's preface alone; the client's direction is not seen.
    CConnection preface(sink, 40011);
    preface.Server(Join({CHttp2ServerFrames::Preface(), prefaceFrames.Headers(1, Response("pre")),
                         CHttp2ServerFrames::Data(1, "by preface", true)}));

    // An HTTP/1.1 request upgraded to h2c; its response comes on stream 1.
    CConnection upgrade(sink, 40012);
    upgrade.Client(test::ToBytes("GET / HTTP/1.1\r\nHost: h\r\nConnection: Upgrade, "
                                 "HTTP2-Settings\r\nUpgrade: h2c\r\nHTTP2-Settings: \r\n\r\n"));
    upgrade.Server(Join({test::ToBytes("HTTP/1.1 101 Switching Protocols\r\nConnection: "
                                       "Upgrade\r\nUpgrade: h2c\r\n\r\n"),
                         CHttp2ServerFrames::Preface(), upgradeFrames.Headers(1, Response("up")),
                         CHttp2ServerFrames::Data(1, "by upgrade", true)}));

    // Another protocol in ALPN, and a response on it: HTTP/1.1.
    CConnection other(sink, 40013);
    sink.OnTlsAlpn(other.ServerKey(), "http/1.1");
    other.Server(test::ToBytes("HTTP/1.1 200 OK\r\nX-Id: plain\r\nContent-Length: 5\r\n\r\nplain"));

    std::map<std::string, std::string> expected{
        {"alpn", "by alpn"}, {"pre", "by preface"}, {"up", "by upgrade"}, {"plain", "plain"}};
    EXPECT_EQ(sink.m_bodies, expected);
    EXPECT_EQ(sink.GetDecodeStats().m_http2Connections, 3u);
    for (auto* connection : {&alpn, &preface, &upgrade, &other})
        connection->Retire();
    EXPECT_EQ(sink.GetDecodeStats().BufferedBytes(), 0u);
}

TEST(Http2Stream, Http1BytesThatLookLikeFramesLaterOnAreNotTakenForHttp2)
{
    CHttp2Sink sink;
    CConnection connection(sink, 40020);
    connection.Client(test::ToBytes("GET / HTTP/1.1\r\nHost: h\r\n\r\n"));
    connection.Server(test::ToBytes("HTTP/1.1 200 OK\r\nX-Id: first\r\nContent-Length: 3\r\n\r\n"));
    // A piece of the body that starts like a SETTINGS frame.
    Bytes settings = CHttp2ServerFrames::Preface();
    connection.Server(settings);
    std::string body(settings.begin(), settings.end());
    EXPECT_EQ(sink.m_bodies["first"], body);
    EXPECT_EQ(sink.GetDecodeStats().m_http2Connections, 0u);
}

TEST(Http2Stream, ANewConnectionOnTheSamePortsIsReadAfreshWhateverItSpeaks)
{
    CHttp2Sink sink;
    auto http2 = [&](const std::string& id) {
        CConnection connection(sink, 40070);
        connection.Client(test::Http2ClientPreface());
        CHttp2ServerFrames frames;
        connection.Server(Join({CHttp2ServerFrames::Preface(), frames.Headers(1, Response(id)),
                                CHttp2ServerFrames::Data(1, id + " body", false)}));
    };
    http2("first");
    // The same ports, HTTP/1.1 this time, the last stream left unfinished.
    CConnection plain(sink, 40070);
    plain.Client(test::ToBytes("GET / HTTP/1.1\r\nHost: h\r\n\r\n"));
    plain.Server(test::ToBytes("HTTP/1.1 200 OK\r\nX-Id: plain\r\nContent-Length: 5\r\n\r\nplain"));
    http2("second");
    std::map<std::string, std::string> expected{
        {"first", "first body"}, {"plain", "plain"}, {"second", "second body"}};
    EXPECT_EQ(sink.m_bodies, expected);
    EXPECT_EQ(sink.GetDecodeStats().m_http2Connections, 2u);
    EXPECT_EQ(sink.GetDecodeStats().m_http2HeaderStateLost, 0u);
    EXPECT_EQ(sink.GetHttp2ConnectionCount(), 1u);
    plain.Retire();
    EXPECT_EQ(sink.GetDecodeStats().BufferedBytes(), 0u);
}

TEST(Http2Stream, AMissedHeaderBlockLosesTheConnectionButNoOther)
{
    CHttp2Sink sink;
    CConnection broken(sink, 40030);
    CConnection healthy(sink, 40031);
    broken.Client(test::Http2ClientPreface());
    healthy.Client(test::Http2ClientPreface());
    CHttp2ServerFrames brokenFrames, healthyFrames;
    broken.Server(Join({CHttp2ServerFrames::Preface(), brokenFrames.Headers(1, Response("a")),
                        CHttp2ServerFrames::Data(1, "a body", false)}));
    // The next block is made but never seen (the capture missed it); the
    // one after it refers to entries it added.
    brokenFrames.Headers(3, Response("b"));
    broken.Server(
        Join({brokenFrames.Headers(5, Response("b")), CHttp2ServerFrames::Data(5, "b body", true),
              CHttp2ServerFrames::Data(1, " more", true)}));
    healthy.Server(Join({CHttp2ServerFrames::Preface(), healthyFrames.Headers(1, Response("c")),
                         CHttp2ServerFrames::Data(1, "c body", true)}));
    // Nothing after the failed block is read; later blocks are not tried.
    broken.Server(Join(
        {brokenFrames.Headers(7, Response("d")), CHttp2ServerFrames::Data(7, "d body", true)}));

    std::map<std::string, std::string> expected{{"a", "a body"}, {"c", "c body"}};
    EXPECT_EQ(sink.m_bodies, expected);
    EXPECT_EQ(sink.GetDecodeStats().m_http2HeaderStateLost, 1u);
    EXPECT_EQ(sink.GetCachedResponseCount(), 0u);

    // A gap in the TCP stream loses the header state too.
    sink.OnStreamGap(healthy.ServerKey());
    healthy.Server(
        Join({healthyFrames.Headers(3, Response("e")), CHttp2ServerFrames::Data(3, "e", true)}));
    EXPECT_EQ(sink.m_bodies.count("e"), 0u);
    EXPECT_EQ(sink.GetDecodeStats().m_http2HeaderStateLost, 2u);
    broken.Retire();
    healthy.Retire();
    EXPECT_EQ(sink.GetDecodeStats().BufferedBytes(), 0u);
}

TEST(Http2Stream, FollowsTableSizeUpdatesUpToTheAllowedSize)
{
    CHttp2Sink sink;
    CConnection allowed(sink, 40040);
    CHttp2ServerFrames frames(CHpackDecoder::kMaxTableBytes);
    frames.ChangeTableSize(CHpackDecoder::kMaxTableBytes);
    allowed.Server(Join({CHttp2ServerFrames::Preface(), frames.Headers(1, Response("big")),
                         CHttp2ServerFrames::Data(1, "table", true)}));
    frames.ChangeTableSize(100);
    allowed.Server(
        Join({frames.Headers(3, Response("small")), CHttp2ServerFrames::Data(3, "t", true)}));

    CConnection beyond(sink, 40041);
    CHttp2ServerFrames larger(2 * CHpackDecoder::kMaxTableBytes);
    larger.ChangeTableSize(2 * CHpackDecoder::kMaxTableBytes);
    beyond.Server(Join({CHttp2ServerFrames::Preface(), larger.Headers(1, Response("beyond")),
                        CHttp2ServerFrames::Data(1, "x", true)}));

    std::map<std::string, std::string> expected{{"big", "table"}, {"small", "t"}};
    EXPECT_EQ(sink.m_bodies, expected);
    EXPECT_EQ(sink.GetDecodeStats().m_http2HeaderStateLost, 1u);
}

TEST(Http2Stream, BoundsStreamsHeaderListsHeaderBlocksAndHeaderState)
{
    CSmallHttp2Sink sink;
    CConnection connection(sink, 40050);
    CHttp2ServerFrames frames;
    // Four open streams: the oldest is given up for the fourth.
    Bytes server = CHttp2ServerFrames::Preface();
    for (std::uint32_t id : {1u, 3u, 5u, 7u}) {
        server = Join({server, frames.Headers(id, Response(std::to_string(id))),
                       CHttp2ServerFrames::Data(id, "x", false)});
    }
    server = Join(
        {server, CHttp2ServerFrames::Data(1, "y", true), CHttp2ServerFrames::Data(7, "y", true)});
    // A header list beyond its bound: not followed, yet decoded.
    CHeaderFields large = Response("large");
    large.emplace_back("x-filler", std::string(600, 'f'));
    server =
        Join({server, frames.Headers(9, large), CHttp2ServerFrames::Data(9, "z", true),
              frames.Headers(11, Response("after")), CHttp2ServerFrames::Data(11, "fine", true)});
    connection.Server(server);
    std::map<std::string, std::string> expected{
        {"1", "x"}, {"3", "x"}, {"5", "x"}, {"7", "xy"}, {"after", "fine"}};
    EXPECT_EQ(sink.m_bodies, expected);
    EXPECT_EQ(sink.GetDecodeStats().m_http2HeaderStateLost, 0u);

    // A header block beyond its bound cannot be skipped.
    CHeaderFields huge = Response("huge");
    huge.emplace_back("x-filler", std::string(1200, '~')); // longer in Huffman code
    connection.Server(frames.Headers(13, huge, false, 500));
    EXPECT_EQ(sink.GetDecodeStats().m_http2HeaderStateLost, 1u);
    connection.Retire();
    EXPECT_EQ(sink.GetDecodeStats().BufferedBytes(), 0u);

    // Connections whose tables hold some KiB each: beyond the bound of all
    // header state the least recently active ones lose theirs.
    std::vector<std::unique_ptr<CConnection<CSmallHttp2Sink>>> many;
    std::vector<std::unique_ptr<CHttp2ServerFrames>> encoders;
    const std::size_t limit = CDecodeLimits<CSmallHttp2Sink>::kMaxHttp2StateBytes;
    for (std::uint16_t i = 0; i < 24; ++i) {
        many.push_back(std::make_unique<CConnection<CSmallHttp2Sink>>(sink, 41000 + i));
        encoders.push_back(std::make_unique<CHttp2ServerFrames>());
        Bytes bytes = CHttp2ServerFrames::Preface();
        for (std::uint32_t k = 0; k < 4; ++k) {
            // Too long a header list to follow, but each field enters the
            // table.
            CHeaderFields fields{{":status", "200"},
                                 {"x-table", std::string(800, static_cast<char>('a' + k))}};
            bytes = Join({bytes, encoders.back()->Headers(1 + 2 * k, fields, true)});
        }
        bytes = Join({bytes, encoders.back()->Headers(9, Response("m" + std::to_string(i))),
                      CHttp2ServerFrames::Data(9, "m", true)});
        many.back()->Server(bytes);
        EXPECT_LE(sink.GetDecodeStats().m_http2Bytes, limit);
    }
    EXPECT_GT(sink.GetDecodeStats().m_http2HeaderStateLost, 1u);
    EXPECT_EQ(sink.m_bodies["m23"], "m");
    for (auto& each : many)
        each->Retire();
    EXPECT_EQ(sink.GetDecodeStats().BufferedBytes(), 0u);
}

class CFoundList : public CZarumateSockClient
{
public:
    void OnZarumateFound(const CZarumateDataPtr& data) override { m_found.push_back(data); }
    std::vector<CZarumateDataPtr> m_found;
};

TEST(Http2Page, ThePageHandlerFindsTheOwnersOfPagesOnInterleavedStreams)
{
    for (std::size_t step : {1400u, 13u}) {
        CFoundList found;
        CZarumateSock sock;
        sock.SetClient(&found);
        CConnection connection(sock, 40060);
        connection.Client(test::Http2ClientPreface());
        CHttp2ServerFrames frames;
        std::string gzip = test::Encode(test::CTestCoding::Gzip, test::BuildMicroblogPage({}));
        test::CMicroblogPage other;
        other.id = "other";
        other.name = "べつのひと";
        std::string plain = test::BuildMicroblogPage(other);
        std::string noise(9000, 'n');
        Bytes server = Join({CHttp2ServerFrames::Preface(), frames.Response(1, "gzip"),
                             frames.Response(3), frames.Response(5)});
        // The three bodies in small frames, taking turns.
        for (std::size_t at = 0; at < noise.size(); at += 500) {
            std::uint32_t id = 1;
            for (const std::string* body : {&gzip, &plain, &noise}) {
                if (at < body->size())
                    server = Join({server, CHttp2ServerFrames::Data(id, body->substr(at, 500),
                                                                    at + 500 >= body->size())});
                id += 2;
            }
        }
        connection.Server(server, step);
        std::vector<std::string> ids;
        for (const CZarumateDataPtr& person : found.m_found)
            ids.push_back(WideToUtf8(person->m_id) + " " + WideToUtf8(person->m_name));
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(ids, (std::vector<std::string>{"other べつのひと", "someid ざるこ"})) << step;
        EXPECT_EQ(sock.GetDecodeStats().m_codedResponses[0], 1u);
        connection.Retire();
        EXPECT_EQ(sock.GetDecodeStats().BufferedBytes(), 0u);
    }
}

} // namespace
} // namespace zk
