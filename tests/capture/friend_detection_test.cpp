#include "capture/zarumate_sock.h"
#include "support/microblog_page.h"
#include "support/packet_builder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// A microblog page crossing the adapter, through the whole decoding chain:
// IP datagrams in, one report out, whatever the network did to the packets.

namespace zk {
namespace {

using test::Bytes;
using test::CTcpFlowBuilder;
using test::kClientAddress;
using test::kServerAddress;

constexpr std::size_t kSegmentBytes = 1400;
constexpr std::uint16_t kClientPort = 40000;
constexpr std::uint16_t kServerPort = 80;

class CFoundList : public CZarumateSockClient
{
public:
    void OnZarumateFound(const CZarumateDataPtr& data) override { m_found.push_back(data); }
    std::vector<CZarumateDataPtr> m_found;
};

enum class EOrder
{
    InOrder,
    Reversed,
    SecondFirst,   // every pair of segments swapped
    Retransmitted, // every segment twice
    Overlapping,   // every segment resent together with the next one
    Fragmented,    // every datagram in 512-byte fragments, last fragment first
};

const char* OrderName(EOrder order)
{
    switch (order) {
    case EOrder::InOrder:
        return "InOrder";
    case EOrder::Reversed:
        return "Reversed";
    case EOrder::SecondFirst:
        return "SecondFirst";
    case EOrder::Retransmitted:
        return "Retransmitted";
    case EOrder::Overlapping:
        return "Overlapping";
    case EOrder::Fragmented:
        return "Fragmented";
    }
    return "?";
}

// One page load over one connection: the handshake, the request, and the
// response in segments of the server's flow.
class CPageLoad
{
public:
    CPageLoad(std::uint32_t serverSequence, std::uint16_t clientPort = kClientPort)
        : m_client(kClientAddress, clientPort, kServerAddress, kServerPort, 1000),
          m_server(kServerAddress, kServerPort, kClientAddress, clientPort, serverSequence)
    {}

    std::vector<Bytes> Handshake()
    {
        return {
            m_client.Syn(), m_server.Syn(true),
            m_client.Data("GET /someid/ HTTP/1.1\r\nHost: " + test::MicroblogHost() + "\r\n\r\n")};
    }

    // The response's segments, each the next kSegmentBytes of the stream.
    std::vector<Bytes> Response(const std::string& response)
    {
        std::vector<Bytes> segments;
        for (std::size_t at = 0; at < response.size(); at += kSegmentBytes)
            segments.push_back(m_server.Data(response.substr(at, kSegmentBytes)));
        return segments;
    }

    CTcpFlowBuilder& Server() { return m_server; }

private:
    CTcpFlowBuilder m_client;
    CTcpFlowBuilder m_server;
};

std::vector<Bytes> Arrange(CPageLoad& load, const std::string& response, EOrder order)
{
    std::uint32_t start = load.Server().NextSequence();
    std::vector<Bytes> segments = load.Response(response);
    std::vector<Bytes> out;
    switch (order) {
    case EOrder::InOrder:
        return segments;
    case EOrder::Reversed:
        std::reverse(segments.begin(), segments.end());
        return segments;
    case EOrder::SecondFirst:
        for (std::size_t i = 0; i + 1 < segments.size(); i += 2)
            std::swap(segments[i], segments[i + 1]);
        return segments;
    case EOrder::Retransmitted:
        for (const Bytes& segment : segments) {
            out.push_back(segment);
            out.push_back(segment);
        }
        return out;
    case EOrder::Overlapping:
        for (std::size_t i = 0; i < segments.size(); ++i) {
            out.push_back(segments[i]);
            std::size_t at = i * kSegmentBytes;
            std::string twoSegments = response.substr(at, 2 * kSegmentBytes);
            out.push_back(load.Server().Segment(start + static_cast<std::uint32_t>(at),
                                                test::ToBytes(twoSegments)));
        }
        return out;
    case EOrder::Fragmented:
        for (const Bytes& segment : segments) {
            std::vector<Bytes> fragments = test::SplitIntoFragments(segment, 512);
            out.insert(out.end(), fragments.rbegin(), fragments.rend());
        }
        return out;
    }
    return out;
}

class FriendDetection : public ::testing::Test
{
protected:
    FriendDetection() { m_sock.SetClient(&m_client); }

    void Send(const std::vector<Bytes>& datagrams)
    {
        for (const Bytes& datagram : datagrams) {
            m_sock.SetClock(m_nowMs += 3);
            // Each datagram sits at the very end of its own allocation.
            std::vector<std::uint8_t> copy(datagram);
            m_sock.IpDatagramIn(copy.data(), copy.size());
        }
    }

    void ExpectNothingBuffered()
    {
        const CDecodeStats& stats = m_sock.GetDecodeStats();
        EXPECT_EQ(stats.m_fragmentBytes, 0u);
        EXPECT_EQ(stats.m_segmentBytes, 0u);
        EXPECT_EQ(stats.m_responseBytes, 0u);
    }

    CFoundList m_client;
    CZarumateSock m_sock;
    std::uint64_t m_nowMs = 1000000;
};

std::string ChunkedPage(const test::CMicroblogPage& page = {})
{
    return test::BuildResponse(test::ChunkBody(test::BuildMicroblogPage(page), 1000), true);
}

TEST_F(FriendDetection, ReportsPageOwnerOnceWhateverTheOrderAndSequenceNumbers)
{
    const std::string response = ChunkedPage();
    std::uint16_t port = kClientPort;
    for (EOrder order : {EOrder::InOrder, EOrder::Reversed, EOrder::SecondFirst,
                         EOrder::Retransmitted, EOrder::Overlapping, EOrder::Fragmented}) {
        for (std::uint32_t isn : {0u, 20u, 0x80000000u, 0xFFFFFFFEu, 0xFFFFF000u}) {
            SCOPED_TRACE(std::string(OrderName(order)) + " from " + std::to_string(isn));
            m_client.m_found.clear();
            CPageLoad load(isn, ++port);
            Send(load.Handshake());
            Send(Arrange(load, response, order));
            ASSERT_EQ(m_client.m_found.size(), 1u);
            EXPECT_EQ(m_client.m_found[0]->m_id, L"someid");
            EXPECT_EQ(m_client.m_found[0]->m_name, L"ざるこ");
            ExpectNothingBuffered();
        }
    }
}

TEST_F(FriendDetection, ReportsPageServedWithContentLength)
{
    CPageLoad load(5000);
    Send(load.Handshake());
    Send(load.Response(test::BuildResponse(test::BuildMicroblogPage({}), false)));
    ASSERT_EQ(m_client.m_found.size(), 1u);
    EXPECT_EQ(m_client.m_found[0]->m_id, L"someid");
    ExpectNothingBuffered();
}

TEST_F(FriendDetection, ReportsEachPageOfAKeptAliveConnection)
{
    // The second response begins a segment of its own, as servers send it.
    test::CMicroblogPage other;
    other.id = "other";
    other.name = "べつのひと";
    CPageLoad load(777);
    Send(load.Handshake());
    Send(load.Response(ChunkedPage()));
    Send(load.Response(ChunkedPage(other)));
    ASSERT_EQ(m_client.m_found.size(), 2u);
    EXPECT_EQ(m_client.m_found[0]->m_id, L"someid");
    EXPECT_EQ(m_client.m_found[1]->m_id, L"other");
    EXPECT_EQ(m_client.m_found[1]->m_name, L"べつのひと");
    ExpectNothingBuffered();
}

TEST_F(FriendDetection, ReportsSamePersonAgainWhenPageIsLoadedAgain)
{
    const std::string response = ChunkedPage();
    for (std::uint16_t port : {41000, 41001}) {
        CPageLoad load(9000, port);
        Send(load.Handshake());
        Send(load.Response(response));
    }
    ASSERT_EQ(m_client.m_found.size(), 2u);
    EXPECT_EQ(m_client.m_found[0]->m_id, m_client.m_found[1]->m_id);
}

// A segment of a long response is lost for good, and what follows fills the
// connection's cache: the response is given up, and the next page on the
// kept-alive connection is still found.
TEST_F(FriendDetection, FindsTheNextPageAfterASegmentLostForGood)
{
    test::CMicroblogPage large;
    large.id = "lostid";
    large.size = 1200000; // more than one connection's cache holds
    test::CMicroblogPage other;
    other.id = "other";
    CPageLoad load(0xFFFFF000);
    Send(load.Handshake());
    std::vector<Bytes> first = load.Response(test::BuildResponse(BuildMicroblogPage(large), false));
    first.erase(first.begin() + 1);
    Send(first);
    Send(load.Response(ChunkedPage(other)));
    ASSERT_EQ(m_client.m_found.size(), 1u);
    EXPECT_EQ(m_client.m_found[0]->m_id, L"other");
    EXPECT_EQ(m_sock.GetDecodeStats().m_gapsSkipped, 1u);
    ExpectNothingBuffered();
}

TEST_F(FriendDetection, IdWithANulGivesNoRecordAndAnEscapedNicknameItsCharacters)
{
    test::CMicroblogPage bad;
    bad.id = std::string("bob\0evil", 8);
    test::CMicroblogPage good;
    good.id = "bob";
    good.name = "mochi&lt;b&gt;&amp;&#9733;";
    for (EOrder order : {EOrder::InOrder, EOrder::Reversed, EOrder::Fragmented}) {
        SCOPED_TRACE(OrderName(order));
        m_client.m_found.clear();
        CPageLoad load(0xFFFFFF00u,
                       static_cast<std::uint16_t>(kClientPort + 10 + static_cast<int>(order)));
        Send(load.Handshake());
        Send(Arrange(load, ChunkedPage(bad), order));
        Send(Arrange(load, ChunkedPage(good), order));
        ASSERT_EQ(m_client.m_found.size(), 1u);
        EXPECT_EQ(m_client.m_found[0]->m_id, L"bob");
        EXPECT_EQ(m_client.m_found[0]->m_name, L"mochi<b>&\x2605");
        ExpectNothingBuffered();
    }
    EXPECT_EQ(m_sock.GetDecodeStats().m_idsRefused, 3u);
}

} // namespace
} // namespace zk
