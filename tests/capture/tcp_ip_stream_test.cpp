#include "capture/tcp_ip_stream.h"
#include "support/packet_builder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <unordered_map>

namespace zk {
namespace {

using test::Bytes;
using test::CTcpFlowBuilder;

// Records what the stream layers deliver and retire.
class CStreamSink : public CTcpIpStream<CStreamSink>
{
public:
    void StreamDataIn(const CTcpIpStreamInfo& stream, const std::uint8_t* data, std::size_t length)
    {
        EXPECT_GE(length, 1u);
        m_chunks[stream.m_key].emplace_back(data, data + length);
        m_lastData = data;
    }
    void OnStreamRetired(const CTcpIpStreamKey& key) { m_retired.push_back(key); }
    void In(const Bytes& datagram) { IpDatagramIn(datagram.data(), datagram.size()); }

    std::string Text(const CTcpIpStreamKey& key)
    {
        std::string text;
        for (const std::string& chunk : m_chunks[key])
            text += chunk;
        return text;
    }
    bool NothingBuffered() const
    {
        return GetDecodeStats().m_segmentBytes == 0 && GetDecodeStats().BufferedBytes() == 0;
    }

    std::unordered_map<CTcpIpStreamKey, std::vector<std::string>, CTcpIpStreamKeyHash> m_chunks;
    std::vector<CTcpIpStreamKey> m_retired;
    const std::uint8_t* m_lastData = nullptr;
};

CTcpIpStreamKey KeyOf(const test::Address& source, std::uint16_t sourcePort,
                      const test::Address& destination, std::uint16_t destinationPort)
{
    CTcpIpStreamKey key;
    std::copy(source.begin(), source.end(), key.m_source.begin());
    std::copy(destination.begin(), destination.end(), key.m_destination.begin());
    key.m_sourcePort = sourcePort;
    key.m_destinationPort = destinationPort;
    return key;
}

CTcpIpStreamKey KeyOf(const test::Address6& source, std::uint16_t sourcePort,
                      const test::Address6& destination, std::uint16_t destinationPort)
{
    return {source, destination, sourcePort, destinationPort, EIpFamily::Ipv6};
}

const CTcpIpStreamKey kClientKey = KeyOf(test::kClientAddress, 40000, test::kServerAddress, 80);

CTcpIpStreamKey ClientKey(EIpFamily family)
{
    return family == EIpFamily::Ipv6
               ? KeyOf(test::kClientAddress6, 40000, test::kServerAddress6, 80)
               : kClientKey;
}

CTcpFlowBuilder ClientFlow(std::uint32_t isn, std::uint16_t port = 40000,
                           EIpFamily family = EIpFamily::Ipv4)
{
    if (family == EIpFamily::Ipv6)
        return CTcpFlowBuilder(test::kClientAddress6, port, test::kServerAddress6, 80, isn);
    return CTcpFlowBuilder(test::kClientAddress, port, test::kServerAddress, 80, isn);
}

std::string FamilyName(EIpFamily family)
{
    return family == EIpFamily::Ipv6 ? "Ipv6" : "Ipv4";
}

// A piece of the message: its offset and length.
struct CPiece
{
    std::uint32_t m_offset;
    std::uint32_t m_length;
};

struct COrdering
{
    const char* m_name;
    std::vector<CPiece> m_pieces; // in the order they are sent
};

const std::string kMessage = "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\nhello, world";

std::vector<CPiece> Pieces(std::uint32_t size, bool reversed = false)
{
    std::vector<CPiece> pieces;
    for (std::uint32_t at = 0; at < kMessage.size(); at += size)
        pieces.push_back({at, std::min<std::uint32_t>(size, kMessage.size() - at)});
    if (reversed)
        std::reverse(pieces.begin(), pieces.end());
    return pieces;
}

std::vector<COrdering> Orderings()
{
    std::vector<CPiece> tens = Pieces(10);
    std::vector<CPiece> twoThreeFirst = {tens[1], tens[2], tens[0], tens[4], tens[5], tens[3]};
    // Each piece overlaps the next one by five bytes; sent out of order and
    // with retransmissions of what was delivered already.
    std::vector<CPiece> overlapping = {{20, 15}, {0, 15}, {30, 21}, {10, 15}, {0, 51}, {5, 10}};
    std::vector<CPiece> retransmitted;
    for (CPiece piece : tens) {
        retransmitted.push_back(piece);
        retransmitted.push_back(piece);
    }
    return {{"InOrder", tens},
            {"Reversed", Pieces(10, true)},
            {"TwoThreeBeforeOne", twoThreeFirst},
            {"Overlapping", overlapping},
            {"Retransmitted", retransmitted},
            {"ByteByByte", Pieces(1)},
            {"ByteByByteReversed", Pieces(1, true)}};
}

class StreamOrdering
    : public testing::TestWithParam<std::tuple<COrdering, std::uint32_t, EIpFamily>>
{};

TEST_P(StreamOrdering, DeliversTheStreamOnceInOrderAndKeepsNothing)
{
    const auto& [ordering, isn, family] = GetParam();
    const CTcpIpStreamKey kClientKey = ClientKey(family);
    CStreamSink sink;
    CTcpFlowBuilder flow = ClientFlow(isn, 40000, family);
    sink.In(flow.Syn());
    for (CPiece piece : ordering.m_pieces)
        sink.In(flow.Segment(isn + 1 + piece.m_offset,
                             test::ToBytes(kMessage.substr(piece.m_offset, piece.m_length))));
    EXPECT_EQ(sink.Text(kClientKey), kMessage);
    EXPECT_EQ(sink.FindStream(kClientKey)->NextSequence(),
              isn + 1 + static_cast<std::uint32_t>(kMessage.size()));
    EXPECT_TRUE(sink.FindStream(kClientKey)->m_cache.Empty());
    EXPECT_TRUE(sink.NothingBuffered());
}

INSTANTIATE_TEST_SUITE_P(Matrix, StreamOrdering,
                         testing::Combine(testing::ValuesIn(Orderings()),
                                          testing::Values(0u, 20u, 0x80000000u, 0xFFFFFFFEu),
                                          testing::Values(EIpFamily::Ipv4, EIpFamily::Ipv6)),
                         [](const testing::TestParamInfo<StreamOrdering::ParamType>& info) {
                             return std::string(std::get<0>(info.param).m_name) + "_" +
                                    std::to_string(std::get<1>(info.param)) + "_" +
                                    FamilyName(std::get<2>(info.param));
                         });

TEST(TcpStream, FollowsOnlyConnectionsWhoseSynWasSeen)
{
    CStreamSink sink;
    CTcpFlowBuilder flow = ClientFlow(1000);
    sink.In(flow.Data("GET / HTTP/1.1\r\n"));
    EXPECT_EQ(sink.StreamCount(), 0u);
    EXPECT_TRUE(sink.m_chunks.empty());
}

TEST(TcpStream, EachDirectionStartsAfterItsOwnSyn)
{
    CStreamSink sink;
    CTcpFlowBuilder client = ClientFlow(5000);
    CTcpFlowBuilder server(test::kServerAddress, 80, test::kClientAddress, 40000, 0xFFFFFFFF);
    sink.In(client.Syn());
    sink.In(server.Syn(true));
    sink.In(client.Data("GET /"));
    sink.In(server.Data("HTTP/1.1"));
    EXPECT_EQ(sink.Text(kClientKey), "GET /");
    EXPECT_EQ(sink.Text(KeyOf(test::kServerAddress, 80, test::kClientAddress, 40000)), "HTTP/1.1");
}

// An IPv6 connection with the ports of an IPv4 one, and one between the
// IPv4-mapped forms of the IPv4 one's addresses, are streams of their own:
// none sees the others' bytes.
TEST(TcpStream, StreamsOfTheTwoFamiliesStayApart)
{
    CStreamSink sink;
    CTcpFlowBuilder v4 = ClientFlow(100);
    CTcpFlowBuilder v6 = ClientFlow(100, 40000, EIpFamily::Ipv6);
    test::Address6 mappedClient{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 198, 18, 0, 1};
    test::Address6 mappedServer{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 198, 18, 0, 2};
    CTcpFlowBuilder mapped(mappedClient, 40000, mappedServer, 80, 100);
    for (CTcpFlowBuilder* flow : {&v4, &v6, &mapped})
        sink.In(flow->Syn());
    sink.In(v6.Data("six;"));
    sink.In(v4.Data("four;"));
    sink.In(mapped.Data("mapped;"));
    sink.In(v6.Data("six again"));
    EXPECT_EQ(sink.StreamCount(), 3u);
    EXPECT_EQ(sink.Text(kClientKey), "four;");
    EXPECT_EQ(sink.Text(ClientKey(EIpFamily::Ipv6)), "six;six again");
    EXPECT_EQ(sink.Text(KeyOf(mappedClient, 40000, mappedServer, 80)), "mapped;");
    EXPECT_TRUE(sink.NothingBuffered());
}

TEST(TcpStream, DeliversInOrderSegmentsFromTheReceivedDatagram)
{
    CStreamSink sink;
    CTcpFlowBuilder flow = ClientFlow(7);
    sink.In(flow.Syn());
    Bytes datagram = flow.Data("abc");
    sink.In(datagram);
    EXPECT_EQ(sink.m_lastData, datagram.data() + 40);
}

TEST(TcpStream, DeliversCachedSegmentsAsTheirOwnRunsOnceTheGapCloses)
{
    CStreamSink sink;
    CTcpFlowBuilder flow = ClientFlow(0xFFFFFFF0);
    sink.In(flow.Syn());
    std::uint32_t start = flow.NextSequence();
    Bytes second = flow.Segment(start + 10, test::ToBytes("2222222222"));
    sink.In(flow.Segment(start + 20, test::ToBytes("33333")));
    sink.In(second);
    sink.In(second); // a repeat of a cached segment is not kept again
    EXPECT_EQ(sink.FindStream(kClientKey)->m_cache.RunCount(), 2u);
    EXPECT_EQ(sink.FindStream(kClientKey)->m_cache.Bytes(), 15u);
    // The table counts the cost of the runs, bookkeeping included.
    EXPECT_EQ(sink.GetDecodeStats().m_segmentBytes,
              CTcpIpReorderCache::RunCost(10) + CTcpIpReorderCache::RunCost(5));
    sink.In(flow.Segment(start, test::ToBytes("1111111111")));
    EXPECT_EQ(sink.m_chunks[kClientKey],
              (std::vector<std::string>{"1111111111", "2222222222", "33333"}));
    EXPECT_TRUE(sink.NothingBuffered());
}

TEST(TcpStream, TrimsRetransmissionsToTheirNewTail)
{
    CStreamSink sink;
    CTcpFlowBuilder flow = ClientFlow(0x7FFFFFFE);
    sink.In(flow.Syn());
    std::uint32_t start = flow.NextSequence();
    sink.In(flow.Segment(start, test::ToBytes("abcdef")));
    sink.In(flow.Segment(start, test::ToBytes("abcdef")));
    sink.In(flow.Segment(start + 2, test::ToBytes("cd")));
    sink.In(flow.Segment(start + 3, test::ToBytes("defghi")));
    EXPECT_EQ(sink.m_chunks[kClientKey], (std::vector<std::string>{"abcdef", "ghi"}));
}

TEST(TcpStream, ASynOnTheSameKeyRestartsTheStreamAndForgetsItsCache)
{
    CStreamSink sink;
    CTcpFlowBuilder first = ClientFlow(100);
    sink.In(first.Syn());
    sink.In(first.Segment(first.NextSequence() + 50, test::ToBytes("ahead")));
    EXPECT_EQ(sink.GetDecodeStats().m_segmentBytes, CTcpIpReorderCache::RunCost(5));

    CTcpFlowBuilder second = ClientFlow(90000);
    sink.In(second.Syn(false, test::ToBytes("syn data")));
    EXPECT_TRUE(sink.NothingBuffered());
    EXPECT_EQ(sink.StreamCount(), 1u);
    EXPECT_TRUE(sink.m_retired.empty());
    sink.In(second.Data("fresh"));
    EXPECT_EQ(sink.Text(kClientKey), "fresh");
}

TEST(TcpStream, DropsSegmentsThatAreNotTcpOrAreMalformed)
{
    CStreamSink sink;
    CTcpFlowBuilder flow = ClientFlow(1);
    sink.In(flow.Syn());
    Bytes udp = flow.Data("x");
    udp[9] = test::kIpProtocolUdp;
    Bytes offsetTooSmall = flow.Segment(2, test::ToBytes("y"));
    offsetTooSmall[32] = 0x40;
    Bytes offsetTooLarge = flow.Segment(2, test::ToBytes("y"));
    offsetTooLarge[32] = 0x60;
    test::CIpv4Fields ip;
    Bytes shortHeader = test::BuildIpv4(ip, Bytes(19, 0));
    for (const Bytes& bad : {udp, offsetTooSmall, offsetTooLarge, shortHeader})
        sink.In(bad);
    EXPECT_TRUE(sink.m_chunks.empty());
}

TEST(TcpStreamBounds, RetiresAStreamIdleTooLong)
{
    CStreamSink sink;
    CTcpFlowBuilder idle = ClientFlow(1, 40001);
    CTcpFlowBuilder live = ClientFlow(1);
    sink.In(idle.Syn());
    sink.In(idle.Segment(idle.NextSequence() + 10, test::ToBytes("ahead")));
    sink.In(live.Syn());
    sink.SetClock(CStreamSink::kStreamIdleMs);
    sink.In(live.Data("a"));
    EXPECT_EQ(sink.StreamCount(), 2u);
    sink.SetClock(CStreamSink::kStreamIdleMs + 1);
    sink.In(live.Data("b"));
    ASSERT_EQ(sink.m_retired.size(), 1u);
    EXPECT_EQ(sink.m_retired[0], KeyOf(test::kClientAddress, 40001, test::kServerAddress, 80));
    EXPECT_TRUE(sink.NothingBuffered());
    sink.In(idle.Data("lost"));
    EXPECT_EQ(sink.StreamCount(), 1u);
    EXPECT_EQ(sink.GetDecodeStats().m_streamsExpired, 1u);
}

// A segment is lost for good (the capture missed it, the receiver did not),
// and what follows it fills the stream's cache: the segment the cache
// refuses makes the stream give up the gap, deliver what it holds and carry
// on. Run with segments that hit the count bound (one byte) and the byte
// bound (60000 bytes), sent in order (the refused one is the last: the
// stream resumes at the earliest cached) and reversed (the refused one is the
// first: it resumes at the refused one), at sequence numbers near 2^32.
class StreamGap
    : public testing::TestWithParam<std::tuple<std::uint32_t, bool, std::uint32_t, EIpFamily>>
{};

TEST_P(StreamGap, AFullCacheGivesUpItsGapAndTheStreamGoesOn)
{
    const auto& [size, reversed, isn, family] = GetParam();
    const CTcpIpStreamKey kClientKey = ClientKey(family);
    CStreamSink sink;
    CTcpFlowBuilder flow = ClientFlow(isn, 40000, family);
    sink.In(flow.Syn());
    sink.In(flow.Data("head;"));
    constexpr std::uint32_t kLost = 10;
    std::uint32_t after = flow.NextSequence() + kLost;
    std::size_t fits = std::min<std::size_t>(CStreamSink::kMaxStreamCacheSegments,
                                             CStreamSink::kMaxStreamCacheBytes /
                                                 CTcpIpReorderCache::RunCost(size));
    std::vector<Bytes> pieces;
    std::string expected = "head;";
    for (std::size_t i = 0; i <= fits; ++i) {
        pieces.emplace_back(size, static_cast<std::uint8_t>('a' + i % 26));
        expected.append(size, static_cast<char>('a' + i % 26));
    }
    std::vector<std::size_t> order(pieces.size());
    std::iota(order.begin(), order.end(), 0);
    if (reversed)
        std::reverse(order.begin(), order.end());
    for (std::size_t n = 0; n < order.size(); ++n) {
        std::size_t i = order[n];
        sink.In(flow.Segment(after + static_cast<std::uint32_t>(i * size), pieces[i]));
        // Nothing is given up while the cache still takes segments.
        if (n + 1 < order.size()) {
            ASSERT_EQ(sink.Text(kClientKey), "head;") << n;
        }
    }
    flow = ClientFlow(after + static_cast<std::uint32_t>(pieces.size() * size) - 1, 40000, family);
    sink.In(flow.Data("tail"));
    expected += "tail";

    EXPECT_EQ(sink.Text(kClientKey), expected);
    EXPECT_EQ(sink.FindStream(kClientKey)->NextSequence(), flow.NextSequence());
    EXPECT_EQ(sink.GetDecodeStats().m_segmentsRefused, 1u);
    EXPECT_EQ(sink.GetDecodeStats().m_gapsSkipped, 1u);
    // The layer above heard of the gap once, so that it forgets the
    // response the lost bytes belonged to.
    EXPECT_EQ(sink.m_retired, std::vector<CTcpIpStreamKey>{kClientKey});
    EXPECT_TRUE(sink.NothingBuffered());
}

INSTANTIATE_TEST_SUITE_P(Matrix, StreamGap,
                         testing::Combine(testing::Values(1u, 60000u), testing::Bool(),
                                          testing::Values(0u, 0x80000000u, 0xFFFFFF00u),
                                          testing::Values(EIpFamily::Ipv4, EIpFamily::Ipv6)),
                         [](const testing::TestParamInfo<StreamGap::ParamType>& info) {
                             return std::string(std::get<0>(info.param) == 1 ? "ByteByByte"
                                                                             : "Whole") +
                                    (std::get<1>(info.param) ? "Reversed_" : "InOrder_") +
                                    std::to_string(std::get<2>(info.param)) + "_" +
                                    FamilyName(std::get<3>(info.param));
                         });

// Several gaps in a full cache are given up one at a time, the earliest
// first, and only as far as room is needed for the refused segment.
TEST(TcpStreamBounds, GivesUpOnlyTheGapsItMust)
{
    CStreamSink sink;
    CTcpFlowBuilder flow = ClientFlow(0xFFFFFFF0);
    sink.In(flow.Syn());
    std::uint32_t start = flow.NextSequence();
    constexpr std::uint32_t kSegment = 60000;
    // Two runs of 60000-byte segments (nine, then eight), each after a
    // one-byte gap of its own: 1020000 bytes cached.
    auto run = [&](std::uint32_t at, int count, char fill) {
        for (int i = 0; i < count; ++i)
            sink.In(flow.Segment(at + static_cast<std::uint32_t>(i) * kSegment,
                                 Bytes(kSegment, static_cast<std::uint8_t>(fill))));
    };
    std::uint32_t second = start + 2 + 9 * kSegment;
    std::uint32_t third = second + 1 + 8 * kSegment;
    run(start + 1, 9, 'a');
    run(second, 8, 'b');
    EXPECT_EQ(sink.GetDecodeStats().m_gapsSkipped, 0u);
    // One more does not fit: the first gap goes, its run is delivered, and
    // the new segment waits behind the second gap.
    run(third, 1, 'c');
    EXPECT_EQ(sink.Text(kClientKey), std::string(9 * kSegment, 'a'));
    EXPECT_EQ(sink.GetDecodeStats().m_gapsSkipped, 1u);
    EXPECT_EQ(sink.FindStream(kClientKey)->m_cache.RunCount(), 9u);
    // The second gap is filled as usual; the third still waits.
    sink.In(flow.Segment(second - 1, test::ToBytes("!")));
    EXPECT_EQ(sink.Text(kClientKey),
              std::string(9 * kSegment, 'a') + "!" + std::string(8 * kSegment, 'b'));
    EXPECT_EQ(sink.FindStream(kClientKey)->m_cache.RunCount(), 1u);
    EXPECT_EQ(sink.GetDecodeStats().m_gapsSkipped, 1u);
}

// When all caches together are full, the stream that has waited longest for
// its gap goes first, however recently its segments came: a stream that
// only piles up segments behind one hole is not kept for being active, and
// one that moved on counts as waiting from then.
TEST(TcpStreamBounds, UnderPressureTheLongestWaitingStreamGoesFirst)
{
    CStreamSink sink;
    constexpr std::uint32_t kSegment = 60000;
    std::vector<CTcpFlowBuilder> flows;
    std::vector<std::uint32_t> cached;
    for (std::uint16_t i = 0; i < 19; ++i) {
        flows.push_back(
            ClientFlow(0xFFF00000u + i * 0x10000u, static_cast<std::uint16_t>(41000 + i)));
        sink.In(flows.back().Syn());
        cached.push_back(0);
    }
    // Each cache starts two bytes past its stream's next byte.
    auto fill = [&](std::size_t flow, std::uint32_t count) {
        for (std::uint32_t n = 0; n < count; ++n, ++cached[flow])
            sink.In(flows[flow].Segment(flows[flow].NextSequence() + 2 + cached[flow] * kSegment,
                                        Bytes(kSegment, 'x')));
    };
    auto key = [](std::size_t flow) {
        return KeyOf(test::kClientAddress, static_cast<std::uint16_t>(41000 + flow),
                     test::kServerAddress, 80);
    };
    fill(0, 8); // the stuck stream: first to wait
    for (std::size_t flow = 1; flow <= 16; ++flow)
        fill(flow, 16);
    sink.In(flows[1].Data("!")); // stream 1 moves on, its cache stays
    fill(0, 8);                  // the stuck stream is the most recently active
    EXPECT_TRUE(sink.m_retired.empty());
    fill(17, 16);
    EXPECT_EQ(sink.m_retired, std::vector<CTcpIpStreamKey>{key(0)});
    fill(18, 16);
    EXPECT_EQ(sink.m_retired, (std::vector<CTcpIpStreamKey>{key(0), key(2)}));
    EXPECT_EQ(sink.GetDecodeStats().m_cacheEvictions, 2u);
    EXPECT_LE(sink.GetDecodeStats().m_segmentBytes, CStreamSink::kMaxCacheBytes);
    EXPECT_EQ(sink.Text(key(1)), "!");
}

TEST(TcpStreamBounds, AFloodOfUnfinishedConnectionsStaysBoundedWhileALiveOneDelivers)
{
    CStreamSink sink;
    CTcpFlowBuilder live = ClientFlow(0xFFFFFF00, 1);
    CTcpIpStreamKey liveKey = KeyOf(test::kClientAddress, 1, test::kServerAddress, 80);
    sink.In(live.Syn());
    // A gap far ahead keeps the live stream among the holders of caches.
    sink.In(live.Segment(live.NextSequence() + 1000000, test::ToBytes("far")));
    std::string expected;
    // Every fourth holds a cached segment, enough together to fill all caches.
    Bytes ahead(10000, 'z');
    for (std::uint32_t i = 0; i < 3 * CStreamSink::kMaxStreams; ++i) {
        test::Address source{198, 19, static_cast<std::uint8_t>(i >> 8),
                             static_cast<std::uint8_t>(i)};
        CTcpFlowBuilder flood(source, static_cast<std::uint16_t>(1024 + i % 50000),
                              test::kServerAddress, 80, i * 7919);
        sink.In(flood.Syn());
        if (i % 4 == 0)
            sink.In(flood.Segment(flood.NextSequence() + 1, ahead));
        if (i % 1000 == 0) {
            std::string piece = "piece" + std::to_string(i) + ";";
            expected += piece;
            sink.In(live.Data(piece));
        }
        ASSERT_LE(sink.StreamCount(), CStreamSink::kMaxStreams);
        ASSERT_LE(sink.GetDecodeStats().m_segmentBytes, CStreamSink::kMaxCacheBytes);
    }
    EXPECT_EQ(sink.Text(liveKey), expected);
    EXPECT_EQ(std::count(sink.m_retired.begin(), sink.m_retired.end(), liveKey), 0);
    EXPECT_EQ(sink.FindStream(liveKey)->m_cache.RunCount(), 1u);
    const CDecodeStats& stats = sink.GetDecodeStats();
    EXPECT_EQ(stats.m_peakStreams, CStreamSink::kMaxStreams);
    EXPECT_EQ(stats.m_streams, sink.StreamCount());
    EXPECT_GT(stats.m_streamsEvicted, 0u);
    EXPECT_GT(stats.m_cacheEvictions, 0u);
    EXPECT_EQ(sink.m_retired.size(), stats.m_streamsEvicted + stats.m_cacheEvictions);
}

} // namespace
} // namespace zk
