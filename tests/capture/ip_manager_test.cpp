#include "capture/ip_manager.h"
#include "support/packet_builder.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace zk {
namespace {

using test::Bytes;

// Records every datagram the IP layer hands up.
class CIpSink : public CIpManager<CIpSink>
{
public:
    void TcpSegmentIn(const CIpAddressPair& ip, const std::uint8_t* datagram, std::size_t tcpOffset,
                      std::size_t tcpLength)
    {
        m_addresses.push_back(ip);
        m_tcpOffsets.push_back(tcpOffset);
        m_datagrams.emplace_back(datagram, datagram + tcpOffset + tcpLength);
        m_lastData = datagram;
    }
    void In(const Bytes& datagram) { IpDatagramIn(datagram.data(), datagram.size()); }
    const CIpFragmentTable& Table() const { return m_fragments; }
    const CIpv6FragmentTable& Table6() const { return m_fragments6; }

    std::vector<CIpAddressPair> m_addresses;
    std::vector<std::size_t> m_tcpOffsets;
    std::vector<Bytes> m_datagrams;
    const std::uint8_t* m_lastData = nullptr;
};

Bytes Payload(std::size_t size, std::uint8_t seed = 0)
{
    Bytes payload(size);
    for (std::size_t i = 0; i < size; ++i)
        payload[i] = static_cast<std::uint8_t>(seed + i * 7);
    return payload;
}

Bytes Datagram(std::uint16_t id, std::size_t size,
               const test::Address& source = test::kClientAddress)
{
    test::CIpv4Fields fields;
    fields.identification = id;
    fields.source = source;
    return test::BuildIpv4(fields, Payload(size, static_cast<std::uint8_t>(id)));
}

Bytes PayloadOf(const Bytes& datagram)
{
    return Bytes(datagram.begin() + (datagram[0] & 0x0F) * 4, datagram.end());
}

TEST(IpDatagramIn, HandsWholeDatagramsUpWithoutCopyingAndIgnoresMalformedOnes)
{
    CIpSink sink;
    Bytes whole = Datagram(1, 30);
    whole.resize(whole.size() + 6, 0); // link-layer padding after the datagram
    sink.In(whole);
    ASSERT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_EQ(sink.m_lastData, whole.data());
    EXPECT_EQ(sink.m_datagrams[0].size(), 50u);

    Bytes shortHeader = Datagram(2, 30);
    shortHeader[0] = 0x44;
    Bytes totalBelowHeader = Datagram(3, 0);
    totalBelowHeader[3] = 19;
    Bytes truncated = Datagram(4, 30);
    truncated.pop_back();
    Bytes nineteen = Datagram(5, 0);
    nineteen.pop_back();
    for (const Bytes& bad : {nineteen, shortHeader, totalBelowHeader, truncated})
        sink.In(bad);
    EXPECT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_EQ(sink.GetDecodeStats().m_packets, 5u);
}

Bytes Datagram6(std::size_t size, std::vector<test::CIpv6Extension> extensions = {},
                const test::Address6& source = test::kClientAddress6)
{
    test::CIpv6Fields fields;
    fields.source = source;
    fields.extensions = std::move(extensions);
    return test::BuildIpv6(fields, test::kIpProtocolTcp, Payload(size, 3));
}

// Each order the fragments of one datagram may arrive in, for both families.
class FragmentOrder : public testing::TestWithParam<std::tuple<std::vector<int>, EIpFamily>>
{};

TEST_P(FragmentOrder, RebuildsTheDatagramOnceItsLastGapCloses)
{
    const auto& [order, family] = GetParam();
    bool ipv6 = family == EIpFamily::Ipv6;
    CIpSink sink;
    // Over IPv6 a hop-by-hop header stays in front of every fragment.
    Bytes original = ipv6 ? Datagram6(40, {{test::kIpv6HopByHop, {}}}) : Datagram(7, 40);
    std::vector<Bytes> fragments = ipv6 ? test::SplitIntoFragments6(original, 8, 0xCAFE0007)
                                        : test::SplitIntoFragments(original, 8);
    ASSERT_EQ(fragments.size(), 5u);
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(sink.m_datagrams.size(), 0u) << "before fragment " << i;
        sink.In(fragments[order[i]]);
    }
    ASSERT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentBytes, 0u);
    EXPECT_EQ(sink.m_addresses[0].m_family, family);
    if (ipv6) {
        // The fragment header is gone and the headers before it name TCP.
        EXPECT_EQ(sink.m_datagrams[0], original);
        EXPECT_EQ(sink.m_tcpOffsets[0], 48u);
        EXPECT_EQ(sink.Table6().DatagramCount(), 0u);
        return;
    }
    const Bytes& rebuilt = sink.m_datagrams[0];
    EXPECT_EQ(rebuilt[0], 0x45);
    EXPECT_EQ(rebuilt[2] << 8 | rebuilt[3], 60);
    EXPECT_EQ(rebuilt[6], 0);
    EXPECT_EQ(rebuilt[7], 0);
    EXPECT_EQ(rebuilt[10], fragments[0][10]); // the checksum is copied
    EXPECT_EQ(rebuilt[11], fragments[0][11]);
    EXPECT_EQ(PayloadOf(rebuilt), PayloadOf(original));
    EXPECT_EQ(sink.m_tcpOffsets[0], 20u);
    EXPECT_EQ(sink.m_addresses[0].m_family, EIpFamily::Ipv4);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentBytes, 0u);
    EXPECT_EQ(sink.Table().DatagramCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Orders, FragmentOrder,
                         testing::Combine(testing::Values(std::vector<int>{0, 1, 2, 3, 4},
                                                          std::vector<int>{4, 3, 2, 1, 0},
                                                          std::vector<int>{1, 2, 0, 4, 3},
                                                          std::vector<int>{2, 4, 0, 3, 1}),
                                          testing::Values(EIpFamily::Ipv4, EIpFamily::Ipv6)));

// A datagram of a thousand 8-byte fragments in order, last first and
// interleaved (every other fragment, then the rest backwards): the walk
// takes each fragment once, so the work stays a few steps a fragment
// whatever the order, and both families rebuild the same bytes.
TEST(IpReassembly, EachFragmentCostsAboutTheSameWhateverTheOrder)
{
    constexpr std::size_t kPayload = 8000;
    for (EIpFamily family : {EIpFamily::Ipv4, EIpFamily::Ipv6}) {
        bool ipv6 = family == EIpFamily::Ipv6;
        Bytes original = ipv6 ? Datagram6(kPayload) : Datagram(9, kPayload);
        std::vector<Bytes> fragments = ipv6 ? test::SplitIntoFragments6(original, 8, 0xCAFE0009)
                                            : test::SplitIntoFragments(original, 8);
        ASSERT_EQ(fragments.size(), 1000u);
        std::vector<std::size_t> inOrder(fragments.size()), lastFirst, interleaved;
        for (std::size_t i = 0; i < inOrder.size(); ++i)
            inOrder[i] = i;
        lastFirst.assign(inOrder.rbegin(), inOrder.rend());
        for (std::size_t i = 0; i < inOrder.size(); i += 2)
            interleaved.push_back(i);
        for (std::size_t i = inOrder.size() - 1; i < inOrder.size(); i -= 2)
            interleaved.push_back(i);
        for (const auto* order : {&inOrder, &lastFirst, &interleaved}) {
            CIpSink sink;
            for (std::size_t i : *order)
                sink.In(fragments[i]);
            ASSERT_EQ(sink.m_datagrams.size(), 1u);
            EXPECT_EQ(ipv6 ? sink.m_datagrams[0] : PayloadOf(sink.m_datagrams[0]),
                      ipv6 ? original : PayloadOf(original));
            EXPECT_EQ(sink.GetDecodeStats().m_fragmentBytes, 0u);
            if (!ipv6) {
                EXPECT_LE(sink.Table().Steps(), 3 * fragments.size());
            }
        }
    }
}

TEST(IpReassembly, KeepsAnIncompleteDatagramAndUsesTheEarlierOfTwoCopies)
{
    CIpSink sink;
    std::vector<Bytes> fragments = test::SplitIntoFragments(Datagram(9, 24), 8);
    sink.In(fragments[0]);
    EXPECT_EQ(sink.Table().FragmentCount(), 1u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentBytes, fragments[0].size());

    Bytes altered = fragments[1];
    altered.back() ^= 0xFF;
    sink.In(fragments[1]);
    sink.In(altered);
    // The later copy could never be taken, so it is not even kept.
    EXPECT_EQ(sink.Table().FragmentCount(), 2u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentsRepeated, 1u);
    sink.In(fragments[2]);
    ASSERT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_EQ(sink.m_datagrams[0][20 + 15], fragments[1].back());
    EXPECT_EQ(sink.Table().FragmentCount(), 0u);
}

// Repeats of a fragment over a hole that stays open are turned away as they
// come: the table keeps one copy, so a flood of them holds no memory and
// each later arrival has no earlier repeats to walk over. Empty fragments
// count too: only the first empty one of an offset is kept, and a later
// fragment of its offset is still taken after it.
TEST(IpReassembly, KeepsOneCopyOfAFragmentRepeatedOverAHole)
{
    CIpSink sink;
    Bytes whole = Datagram(11, 32);
    std::vector<Bytes> fragments = test::SplitIntoFragments(whole, 8);
    ASSERT_EQ(fragments.size(), 4u);
    sink.In(fragments[3]);
    for (int i = 0; i < 1000; ++i)
        sink.In(fragments[0]);
    EXPECT_EQ(sink.Table().FragmentCount(), 2u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentsRepeated, 999u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentBytes, fragments[0].size() + fragments[3].size());

    // An empty fragment with more to follow at the hole's offset, twice: the
    // first is kept, the second is not, and the real one still fills it.
    Bytes empty(fragments[1].begin(), fragments[1].begin() + 20);
    empty[2] = 0, empty[3] = 20;
    empty[10] = empty[11] = 0;
    for (int i = 0; i < 2; ++i)
        sink.In(empty);
    EXPECT_EQ(sink.Table().FragmentCount(), 3u);
    sink.In(fragments[1]);
    sink.In(fragments[2]);
    ASSERT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_EQ(PayloadOf(sink.m_datagrams[0]), PayloadOf(whole));
    EXPECT_EQ(sink.Table().FragmentCount(), 0u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentBytes, 0u);
}

TEST(IpReassembly, AFragmentReachingPastTheCoveredPartIsSkippedWhole)
{
    CIpSink sink;
    Bytes original = Datagram(10, 40);
    std::vector<Bytes> eights = test::SplitIntoFragments(original, 8);
    std::vector<Bytes> sixteens = test::SplitIntoFragments(original, 16);
    Bytes overlapping = sixteens[0]; // 0..16, its second half altered
    overlapping.back() ^= 0xFF;
    sink.In(eights[0]);   // 0..8
    sink.In(overlapping); // starts inside 0..8: skipped, so 8..16 stays a hole
    sink.In(sixteens[1]); // 16..32
    sink.In(sixteens[2]); // 32..40, the last
    EXPECT_EQ(sink.m_datagrams.size(), 0u);
    EXPECT_EQ(sink.Table().FragmentCount(), 3u); // the overlapping one repeats offset 0
    sink.In(eights[1]);
    ASSERT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_EQ(PayloadOf(sink.m_datagrams[0]), PayloadOf(original));
}

TEST(IpReassembly, MatchesFragmentsBySourceDestinationProtocolAndIdentification)
{
    CIpSink sink;
    Bytes fromA = Datagram(42, 32, test::kClientAddress);
    Bytes fromB = Datagram(42, 32, test::Address{198, 18, 0, 9});
    std::vector<Bytes> a = test::SplitIntoFragments(fromA, 16);
    std::vector<Bytes> b = test::SplitIntoFragments(fromB, 16);
    sink.In(a[0]);
    sink.In(b[1]);
    sink.In(b[0]);
    sink.In(a[1]);
    ASSERT_EQ(sink.m_datagrams.size(), 2u);
    EXPECT_EQ(PayloadOf(sink.m_datagrams[0]), PayloadOf(fromB));
    EXPECT_EQ(PayloadOf(sink.m_datagrams[1]), PayloadOf(fromA));
}

TEST(IpReassembly, RebuildsTheHeaderWithOptionsAndWithoutFragmentFlags)
{
    CIpSink sink;
    test::CIpv4Fields fields;
    fields.flags = test::kIpDontFragment | test::kIpReserved;
    fields.options = {0x94, 4, 0, 0}; // router alert, copied into every fragment
    Bytes original = test::BuildIpv4(fields, Payload(20));
    std::vector<Bytes> fragments = test::SplitIntoFragments(original, 8);
    for (auto it = fragments.rbegin(); it != fragments.rend(); ++it)
        sink.In(*it);
    ASSERT_EQ(sink.m_datagrams.size(), 1u);
    const Bytes& rebuilt = sink.m_datagrams[0];
    EXPECT_EQ(rebuilt[0], 0x46);
    EXPECT_EQ(rebuilt[6], 0x40);
    EXPECT_EQ(Bytes(rebuilt.begin() + 20, rebuilt.begin() + 24), fields.options);
    EXPECT_EQ(rebuilt.size(), 44u);
    EXPECT_EQ(PayloadOf(rebuilt), Payload(20));
}

TEST(IpReassembly, DropsFragmentsThatAddUpBeyondTheLargestDatagram)
{
    CIpSink sink;
    test::CIpv4Fields fields;
    fields.flags = test::kIpMoreFragments;
    sink.In(test::BuildIpv4(fields, Payload(65000)));
    fields.flags = 0;
    fields.fragmentOffset = 65000;
    sink.In(test::BuildIpv4(fields, Payload(1000)));
    EXPECT_EQ(sink.m_datagrams.size(), 0u);
    EXPECT_EQ(sink.Table().FragmentCount(), 0u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentBytes, 0u);
    EXPECT_EQ(sink.GetDecodeStats().m_datagramsTooLong, 1u);
}

TEST(IpFragmentBounds, DropsADatagramWhoseFirstFragmentIsTooOld)
{
    CIpSink sink;
    std::vector<Bytes> slow = test::SplitIntoFragments(Datagram(1, 16), 8);
    std::vector<Bytes> late = test::SplitIntoFragments(Datagram(2, 16), 8);
    sink.In(slow[0]);
    sink.SetClock(5000);
    sink.In(late[0]);
    sink.SetClock(CIpFragmentTable::kMaxAgeMs);
    sink.In(slow[1]); // just in time
    EXPECT_EQ(sink.m_datagrams.size(), 1u);
    sink.SetClock(5000 + CIpFragmentTable::kMaxAgeMs + 1);
    sink.In(Datagram(3, 0));
    EXPECT_EQ(sink.Table().DatagramCount(), 0u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentsExpired, 1u);
    sink.In(late[1]); // its mate has gone: waits alone
    EXPECT_EQ(sink.m_datagrams.size(), 2u);
    EXPECT_EQ(sink.Table().FragmentCount(), 1u);
}

TEST(IpFragmentBounds, HoldsNoMoreThanTheLimitsAndDropsTheOldestFirst)
{
    CIpSink sink;
    std::vector<std::vector<Bytes>> pending;
    for (std::uint16_t id = 0; id < 3 * CIpFragmentTable::kMaxDatagrams; ++id) {
        pending.push_back(
            test::SplitIntoFragments(Datagram(id, id % 4 ? 16 : 60000), id % 4 ? 8 : 30000));
        sink.In(pending.back()[0]);
        ASSERT_LE(sink.Table().DatagramCount(), CIpFragmentTable::kMaxDatagrams);
        ASSERT_LE(sink.Table().Bytes(), CIpFragmentTable::kMaxBytes);
        ASSERT_EQ(sink.Table().Bytes(), sink.GetDecodeStats().m_fragmentBytes);
    }
    sink.In(pending.front().back());
    EXPECT_EQ(sink.m_datagrams.size(), 0u);
    sink.In(pending.back().back());
    EXPECT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_GT(sink.GetDecodeStats().m_fragmentsEvicted, 0u);
}

// The walk along the header chain: hop-by-hop, routing, destination
// options and authentication headers are skipped by their own length
// rules, so the segment is found where it lies.
TEST(Ipv6DatagramIn, WalksTheExtensionHeadersToTheSegment)
{
    CIpSink sink;
    Bytes plain = Datagram6(30);
    Bytes chained = Datagram6(30, {{test::kIpv6HopByHop, {5, 2, 0, 0}},
                                   {test::kIpv6DestinationOptions, Bytes(3, 0)},
                                   {test::kIpv6Routing, {0, 0, 0, 0, 0, 0}},
                                   {test::kIpv6Authentication, Bytes(14, 0x5A)},
                                   {test::kIpv6DestinationOptions, Bytes(20, 0)}});
    sink.In(plain);
    sink.In(chained);
    ASSERT_EQ(sink.m_datagrams.size(), 2u);
    EXPECT_EQ(sink.m_lastData, chained.data()); // handed up without a copy
    EXPECT_EQ(sink.m_tcpOffsets[0], 40u);
    // 8 + 8 + 8 + 16 (the AH: 14 + 2 bytes, in 4-octet units) + 24.
    EXPECT_EQ(sink.m_tcpOffsets[1], 104u);
    EXPECT_EQ(sink.m_datagrams[1], chained);
    EXPECT_EQ(sink.m_addresses[1].m_family, EIpFamily::Ipv6);
    EXPECT_EQ(sink.m_addresses[1].m_source, test::kClientAddress6);
    EXPECT_EQ(sink.m_addresses[1].m_destination, test::kServerAddress6);
    EXPECT_EQ(sink.GetDecodeStats().m_ipv6Packets, 2u);

    // Link-layer padding after the payload length is not handed up.
    Bytes padded = plain;
    padded.resize(padded.size() + 6, 0);
    sink.In(padded);
    ASSERT_EQ(sink.m_datagrams.size(), 3u);
    EXPECT_EQ(sink.m_datagrams[2], plain);
}

TEST(Ipv6DatagramIn, EndsAtEspUnknownHeadersAndMalformedChains)
{
    CIpSink sink;
    test::CIpv6Fields fields;
    Bytes esp = test::BuildIpv6(fields, test::kIpv6Esp, Payload(40));
    Bytes noNext = test::BuildIpv6(fields, test::kIpv6NoNextHeader, Payload(40));
    Bytes udp = test::BuildIpv6(fields, test::kIpProtocolUdp, Payload(40));
    Bytes unknown = Datagram6(30, {{253, Bytes(6, 0)}}); // experimental (RFC 3692)
    Bytes espInChain = Datagram6(30, {{test::kIpv6DestinationOptions, {}}});
    espInChain[40] = test::kIpv6Esp;
    // Hop-by-hop options anywhere but first are refused (RFC 8200, 4.1).
    Bytes lateHopByHop =
        Datagram6(30, {{test::kIpv6DestinationOptions, {}}, {test::kIpv6HopByHop, {}}});
    Bytes pastTheEnd = Datagram6(30, {{test::kIpv6DestinationOptions, {}}});
    pastTheEnd[41] = 200; // 1608 bytes long
    Bytes lengthBeyondReceived = Datagram6(30);
    lengthBeyondReceived.pop_back();
    Bytes tooShort(39, 0);
    tooShort[0] = 0x60;
    for (const Bytes& bad : {esp, noNext, udp, unknown, espInChain, lateHopByHop, pastTheEnd,
                             lengthBeyondReceived, tooShort})
        sink.In(bad);
    EXPECT_TRUE(sink.m_datagrams.empty());
    EXPECT_EQ(sink.GetDecodeStats().m_ipv6Packets, 9u);
}

// An atomic fragment (offset 0, no more to follow) is its datagram: it goes
// up at once and leaves fragments in progress with its identification alone
// (RFC 6946).
TEST(Ipv6Reassembly, AnAtomicFragmentIsTakenAloneAtOnce)
{
    CIpSink sink;
    Bytes large = Datagram6(32);
    std::vector<Bytes> fragments = test::SplitIntoFragments6(large, 16, 5);
    sink.In(fragments[0]);
    Bytes atomic = Datagram6(20, {test::FragmentHeader(0, false, 5)});
    sink.In(atomic);
    ASSERT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_EQ(sink.m_datagrams[0], atomic);
    EXPECT_EQ(sink.m_tcpOffsets[0], 48u);
    ASSERT_EQ(fragments.size(), 2u);
    sink.In(fragments[1]);
    ASSERT_EQ(sink.m_datagrams.size(), 2u);
    EXPECT_EQ(sink.m_datagrams[1], large);
}

// Overlapping fragments make a datagram ambiguous: it is dropped whole, and
// its tombstone turns away the fragments still to come, however clean,
// until the reassembly timeout; then the identification is free again. A
// clean set under another identification is rebuilt meanwhile.
TEST(Ipv6Reassembly, OverlappingFragmentsDropTheWholeDatagramUntilTheTimeout)
{
    CIpSink sink;
    Bytes original = Datagram6(48);
    std::vector<Bytes> eights = test::SplitIntoFragments6(original, 8, 9);
    std::vector<Bytes> sixteens = test::SplitIntoFragments6(original, 16, 9);
    sink.In(eights[0]);   // 0..8
    sink.In(sixteens[1]); // 16..32
    sink.In(eights[3]);   // 24..32 inside it: the datagram goes
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentsOverlapping, 3u);
    EXPECT_EQ(sink.Table6().FragmentCount(), 0u);
    EXPECT_EQ(sink.Table6().DatagramCount(), 1u); // the tombstone
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentBytes, 0u);
    for (const Bytes& fragment : eights)
        sink.In(fragment);
    EXPECT_TRUE(sink.m_datagrams.empty());
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentsOverlapping, 3u + eights.size());

    for (const Bytes& fragment : test::SplitIntoFragments6(original, 8, 10))
        sink.In(fragment);
    ASSERT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_EQ(sink.m_datagrams[0], original);

    sink.SetClock(CIpv6FragmentTable::kMaxAgeMs + 1);
    for (const Bytes& fragment : eights)
        sink.In(fragment);
    ASSERT_EQ(sink.m_datagrams.size(), 2u);
    EXPECT_EQ(sink.m_datagrams[1], original);
    EXPECT_EQ(sink.Table6().DatagramCount(), 0u);
}

// Exact copies are what the network duplicated, not overlaps: each is
// dropped alone. A copy with other bytes at the same place is an overlap,
// and so is a last fragment that ends the datagram elsewhere.
TEST(Ipv6Reassembly, ExactRepeatsAreDroppedAloneButAlteredOnesOverlap)
{
    CIpSink sink;
    Bytes original = Datagram6(32);
    std::vector<Bytes> fragments = test::SplitIntoFragments6(original, 8, 21);
    ASSERT_EQ(fragments.size(), 4u);
    for (int i : {2, 2, 0, 2, 3, 3, 1})
        sink.In(fragments[i]);
    ASSERT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_EQ(sink.m_datagrams[0], original);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentsRepeated, 3u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentsOverlapping, 0u);

    std::vector<Bytes> again = test::SplitIntoFragments6(original, 8, 22);
    Bytes altered = again[1];
    altered.back() ^= 0xFF;
    sink.In(again[1]);
    sink.In(altered);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentsOverlapping, 2u);

    std::vector<Bytes> third = test::SplitIntoFragments6(original, 8, 23);
    Bytes shorterLast = test::SplitIntoFragments6(Datagram6(24), 8, 23).back();
    sink.In(third[3]);    // the last: ends at 32
    sink.In(shorterLast); // ends elsewhere
    for (const Bytes& fragment : third)
        sink.In(fragment);
    EXPECT_EQ(sink.m_datagrams.size(), 1u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentBytes, 0u);
}

TEST(Ipv6Reassembly, MatchesFragmentsBySourceDestinationAndIdentification)
{
    CIpSink sink;
    test::Address6 other = test::kClientAddress6;
    other[15] = 9;
    Bytes fromA = Datagram6(32);
    Bytes fromB = Datagram6(24, {}, other);
    std::vector<Bytes> a = test::SplitIntoFragments6(fromA, 16, 42);
    std::vector<Bytes> b = test::SplitIntoFragments6(fromB, 16, 42);
    sink.In(a[0]);
    sink.In(b[1]);
    sink.In(b[0]);
    sink.In(a[1]);
    ASSERT_EQ(sink.m_datagrams.size(), 2u);
    EXPECT_EQ(sink.m_datagrams[0], fromB);
    EXPECT_EQ(sink.m_datagrams[1], fromA);
}

TEST(Ipv6FragmentBounds, HoldsNoMoreThanTheLimitsAndTombstonesCountAmongThem)
{
    CIpSink sink;
    for (std::uint32_t id = 0; id < 3 * CIpv6FragmentTable::kMaxDatagrams; ++id) {
        std::vector<Bytes> fragments =
            test::SplitIntoFragments6(Datagram6(id % 4 ? 16 : 60000), id % 4 ? 8 : 30000, id);
        sink.In(fragments[0]);
        if (id % 3 == 0)
            sink.In(fragments[0]); // an exact repeat
        if (id % 5 == 0) {
            Bytes altered = fragments[0];
            altered.back() ^= 1;
            sink.In(altered); // overlaps: a tombstone
        }
        ASSERT_LE(sink.Table6().DatagramCount(), CIpv6FragmentTable::kMaxDatagrams);
        ASSERT_LE(sink.Table6().Bytes(), CIpv6FragmentTable::kMaxBytes);
        ASSERT_EQ(sink.Table6().Bytes(), sink.GetDecodeStats().m_fragmentBytes);
    }
    EXPECT_GT(sink.GetDecodeStats().m_fragmentsEvicted, 0u);
    sink.SetClock(CIpv6FragmentTable::kMaxAgeMs + 1);
    sink.In(Datagram6(0));
    EXPECT_EQ(sink.Table6().DatagramCount(), 0u);
    EXPECT_EQ(sink.GetDecodeStats().m_fragmentBytes, 0u);
}

} // namespace
} // namespace zk
