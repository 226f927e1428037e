#include "capture/tcp_ip_stream_map.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <tuple>

namespace zk {
namespace {

// One client talking to a few servers, as a desktop does: the keys differ
// mostly in the client's port, the case a weak hash would crowd together.
CTcpIpStreamKey ClientKey(std::uint16_t port, std::uint8_t server)
{
    return CTcpIpStreamKey{{192, 168, 1, 23}, {203, 0, 113, server}, port, 80};
}

auto Tie(const CTcpIpStreamKey& key)
{
    return std::tuple(key.m_family, key.m_source, key.m_destination, key.m_sourcePort,
                      key.m_destinationPort);
}

struct CKeyLess
{
    bool operator()(const CTcpIpStreamKey& a, const CTcpIpStreamKey& b) const
    {
        return Tie(a) < Tie(b);
    }
};

TEST(TcpIpStreamMap, KeysDifferingInOneFieldAreDifferentEntries)
{
    CTcpIpStreamMap<int> map(8);
    CTcpIpStreamKey key = ClientKey(40000, 1);
    CTcpIpStreamKey reverse = key.Reversed();
    CTcpIpStreamKey otherPort = key;
    otherPort.m_destinationPort = 8080;
    ASSERT_TRUE(map.Insert(key, 1));
    ASSERT_TRUE(map.Insert(reverse, 2));
    ASSERT_TRUE(map.Insert(otherPort, 3));
    EXPECT_FALSE(map.Insert(key, 4)); // already there: left as it was
    EXPECT_EQ(*map.Find(key), 1);
    EXPECT_EQ(*map.Find(reverse), 2);
    EXPECT_EQ(*map.Find(otherPort), 3);
    EXPECT_EQ(map.Size(), 3u);
}

// The family is part of the key: an IPv4 stream, an IPv6 stream between
// IPv4-mapped addresses of the same hosts, and one whose address bytes
// equal the IPv4 key's are three streams.
TEST(TcpIpStreamMap, KeysOfTheTwoFamiliesNeverMeet)
{
    CTcpIpStreamMap<int> map(8);
    CTcpIpStreamKey ipv4 = ClientKey(40000, 1);
    CTcpIpStreamKey sameBytes = ipv4;
    sameBytes.m_family = EIpFamily::Ipv6;
    CTcpIpStreamKey mapped = sameBytes;
    mapped.m_source = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 168, 1, 23};
    mapped.m_destination = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 203, 0, 113, 1};
    ASSERT_TRUE(map.Insert(ipv4, 4));
    ASSERT_TRUE(map.Insert(sameBytes, 6));
    ASSERT_TRUE(map.Insert(mapped, 7));
    EXPECT_EQ(*map.Find(ipv4), 4);
    EXPECT_EQ(*map.Find(sameBytes), 6);
    EXPECT_EQ(*map.Find(mapped), 7);
    EXPECT_EQ(mapped.Reversed().Reversed(), mapped);
    EXPECT_EQ(mapped.Reversed().m_family, EIpFamily::Ipv6);
    EXPECT_EQ(map.Find(mapped.Reversed()), nullptr);
}

// A client's IPv6 connections differ in the port and, with temporary
// addresses, in the last bytes of the source: both must spread over the low
// bits a table of 16384 slots takes.
TEST(TcpIpStreamMap, HashSpreadsIpv6KeysOverTheLowBits)
{
    constexpr std::size_t kSlots = 16384;
    std::vector<int> used(kSlots);
    CTcpIpStreamKey key;
    key.m_family = EIpFamily::Ipv6;
    key.m_source = {0x20, 0x01, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    key.m_destination = {0x20, 0x01, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    key.m_destinationPort = 443;
    std::size_t distinct = 0;
    for (std::uint16_t i = 0; i < 4096; ++i) {
        key.m_sourcePort = static_cast<std::uint16_t>(40000 + i % 2048);
        key.m_source[15] = static_cast<std::uint8_t>(i / 2048);
        if (used[CTcpIpStreamKeyHash()(key) % kSlots]++ == 0)
            ++distinct;
    }
    // 4096 keys thrown at random into 16384 slots fill about 3530.
    EXPECT_GT(distinct, 3300u);
}

TEST(TcpIpStreamMap, RefusesEntriesBeyondItsMostUntilOneLeaves)
{
    CTcpIpStreamMap<int> map(4);
    for (std::uint16_t port = 0; port < 4; ++port)
        ASSERT_TRUE(map.Insert(ClientKey(port, 1), port));
    EXPECT_FALSE(map.Insert(ClientKey(9, 1), 9));
    EXPECT_TRUE(map.Erase(ClientKey(2, 1)));
    EXPECT_FALSE(map.Erase(ClientKey(2, 1)));
    EXPECT_TRUE(map.Insert(ClientKey(9, 1), 9));
    EXPECT_EQ(map.Find(ClientKey(2, 1)), nullptr);
    EXPECT_EQ(*map.Find(ClientKey(9, 1)), 9);
}

// Erasing moves later entries of a run back; every surviving entry must stay
// reachable whatever was erased before it, the run wrapping round the end of
// the array included. A small table full to its limit forces long runs.
TEST(TcpIpStreamMap, KeepsEveryEntryReachableThroughRandomInsertsAndErases)
{
    constexpr std::size_t kMost = 48;
    CTcpIpStreamMap<int> map(kMost);
    std::map<CTcpIpStreamKey, int, CKeyLess> expected;
    std::mt19937 random(7);
    for (int step = 0; step < 20000; ++step) {
        CTcpIpStreamKey key = ClientKey(static_cast<std::uint16_t>(random() % 96),
                                        static_cast<std::uint8_t>(random() % 2));
        if (random() % 2) {
            bool room = expected.size() < kMost && !expected.count(key);
            ASSERT_EQ(map.Insert(key, step), room);
            if (room)
                expected[key] = step;
        } else {
            ASSERT_EQ(map.Erase(key), expected.erase(key) == 1);
        }
        ASSERT_EQ(map.Size(), expected.size());
        if (step % 97 == 0) {
            for (const auto& [known, value] : expected) {
                const int* found = map.Find(known);
                ASSERT_NE(found, nullptr);
                ASSERT_EQ(*found, value);
            }
        }
    }
    map.Clear();
    EXPECT_EQ(map.Size(), 0u);
    EXPECT_EQ(map.Find(expected.begin()->first), nullptr);
}

} // namespace
} // namespace zk
