#include "capture/tcp_ip_reorder_cache.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <vector>

namespace zk {
namespace {

// A run of the stream: its bytes at sequence number m_sequence.
struct CRun
{
    std::uint32_t m_sequence;
    std::string m_bytes;
};

// Feeds runs as the stream layer does: what continues the stream goes on,
// what lies ahead is cached, what is old is dropped. Collects what comes out.
struct CFeeder
{
    CTcpIpReorderCache m_cache;
    std::string m_out;
    std::size_t m_deliveries = 0;

    explicit CFeeder(std::uint32_t next) { m_cache.Reset(next); }

    void In(std::uint32_t sequence, const std::string& bytes)
    {
        auto data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        auto deliver = [this](const std::uint8_t* at, std::size_t length) {
            EXPECT_GE(length, 1u);
            m_out.append(reinterpret_cast<const char*>(at), length);
            ++m_deliveries;
        };
        switch (m_cache.Place(sequence, bytes.size()).m_place) {
        case ETcpSegmentPlace::Ahead:
            m_cache.Cache(sequence, data, bytes.size());
            break;
        case ETcpSegmentPlace::New:
            m_cache.Continue(sequence, data, bytes.size(), deliver);
            break;
        case ETcpSegmentPlace::Old:
            break;
        }
    }
    void In(const CRun& run) { In(run.m_sequence, run.m_bytes); }

    bool NothingBuffered() const
    {
        return m_cache.Empty() && m_cache.Bytes() == 0 && m_cache.Cost() == 0;
    }
};

constexpr std::uint32_t kStarts[] = {0, 0x7FFFFFFA, 0xFFFFFFF6, 0xFFFFFFFF};

// Six runs of a 30-byte text, overlapping retransmissions among them, in
// every one of their 720 orders and across 2^32: the text comes out once,
// whole, and nothing stays behind.
TEST(TcpReorderCache, EveryOrderDeliversTheTextOnce)
{
    const std::string text = "abcdefghijklmnopqrstuvwxyz0123";
    const std::vector<std::pair<std::size_t, std::size_t>> pieces = {{0, 4},   {4, 6},   {3, 11},
                                                                     {10, 20}, {18, 27}, {20, 30}};
    for (std::uint32_t start : kStarts) {
        std::vector<std::size_t> order(pieces.size());
        std::iota(order.begin(), order.end(), 0);
        do {
            CFeeder feeder(start);
            for (std::size_t i : order) {
                auto [from, to] = pieces[i];
                feeder.In(start + static_cast<std::uint32_t>(from), text.substr(from, to - from));
            }
            ASSERT_EQ(feeder.m_out, text) << start;
            ASSERT_EQ(feeder.m_cache.Next(), start + static_cast<std::uint32_t>(text.size()));
            ASSERT_TRUE(feeder.NothingBuffered());
        } while (std::next_permutation(order.begin(), order.end()));
    }
}

// A byte sent twice with different values is delivered as it first came,
// whether the first copy was delivered at once or cached.
TEST(TcpReorderCache, TheFirstCopyOfAByteWins)
{
    for (std::uint32_t start : kStarts) {
        CFeeder feeder(start);
        feeder.In(start + 4, "EFGH");
        feeder.In(start + 2, "xxxxxxyy"); // contradicts E..H, adds the rest
        feeder.In(start + 8, "zz");       // held already
        EXPECT_EQ(feeder.m_cache.Bytes(), 8u);
        feeder.In(start, "AB");
        EXPECT_EQ(feeder.m_out, "ABxxEFGHyy");
        feeder.In(start + 8, "!!!!"); // old, then new
        EXPECT_EQ(feeder.m_out, "ABxxEFGHyy!!");
        EXPECT_TRUE(feeder.NothingBuffered());
    }
}

// The cost counts each run's bookkeeping besides its bytes, and CostOf
// foretells what Cache adds: one-byte runs that never touch cost far more
// than their bytes.
TEST(TcpReorderCache, CountsTheBookkeepingOfEveryRun)
{
    CFeeder feeder(0xFFFFFF00);
    std::size_t expected = 0;
    for (std::uint32_t i = 0; i < 300; ++i) {
        std::uint32_t sequence = 0xFFFFFF00 + 2 + 2 * i;
        CTcpIpCacheCost cost = feeder.m_cache.CostOf(sequence, 1);
        EXPECT_EQ(cost.m_runs, 1u);
        EXPECT_EQ(cost.m_bytes, CTcpIpReorderCache::RunCost(1));
        feeder.In(sequence, "x");
        expected += cost.m_bytes;
        ASSERT_EQ(feeder.m_cache.Cost(), expected);
    }
    EXPECT_EQ(feeder.m_cache.Bytes(), 300u);
    EXPECT_GE(feeder.m_cache.Cost(), 300u * (1 + sizeof(std::vector<std::uint8_t>)));
    // A run over all of them adds only the gaps between them.
    CTcpIpCacheCost cover = feeder.m_cache.CostOf(0xFFFFFF00 + 2, 600);
    EXPECT_EQ(cover.m_runs, 300u);
    EXPECT_EQ(cover.m_bytes, 300 * CTcpIpReorderCache::RunCost(1));
    feeder.In(0xFFFFFF00 + 2, std::string(600, 'y'));
    EXPECT_EQ(feeder.m_cache.Cost(), 2 * expected);
    feeder.In(0xFFFFFF00, "ab");
    EXPECT_EQ(feeder.m_out.size(), 602u);
    EXPECT_TRUE(feeder.NothingBuffered());
}

// One-byte runs ahead of a hole in descending order, then the hole: the
// drain is one pass, one delivery and one step per run, as if they had come
// in order.
TEST(TcpReorderCache, ADescendingDrainIsOnePass)
{
    constexpr std::uint32_t kRuns = 1023;
    for (std::uint32_t start : kStarts) {
        CFeeder feeder(start);
        std::string expected = "h";
        for (std::uint32_t i = 1; i <= kRuns; ++i)
            expected += static_cast<char>('a' + i % 26);
        for (std::uint32_t i = kRuns; i >= 1; --i)
            feeder.In(start + i, std::string(1, expected[i]));
        std::uint64_t cached = feeder.m_cache.Steps();
        // Each run ahead costs a search that meets at most its neighbour.
        EXPECT_LE(cached, 2u * kRuns);
        feeder.In(start, "h");
        EXPECT_EQ(feeder.m_out, expected);
        EXPECT_EQ(feeder.m_deliveries, kRuns + 1);
        EXPECT_EQ(feeder.m_cache.Steps() - cached, kRuns);
        EXPECT_TRUE(feeder.NothingBuffered());
    }
}

// Giving up a gap resumes at the earliest byte held, a cached run's or the
// refused run's, and delivers what then continues, across 2^32.
TEST(TcpReorderCache, SkippingAGapResumesAtTheEarliestByteHeld)
{
    for (std::uint32_t start : kStarts) {
        CFeeder cached(start);
        cached.In(start + 5, "fg");
        cached.In(start + 9, "jk");
        cached.m_cache.SkipGap(start + 20, [&](const std::uint8_t* at, std::size_t length) {
            cached.m_out.append(reinterpret_cast<const char*>(at), length);
        });
        EXPECT_EQ(cached.m_out, "fg");
        EXPECT_EQ(cached.m_cache.Next(), start + 7);
        EXPECT_EQ(cached.m_cache.RunCount(), 1u);

        CFeeder refused(start);
        refused.In(start + 9, "jk");
        refused.m_cache.SkipGap(start + 3, [](const std::uint8_t*, std::size_t) { FAIL(); });
        EXPECT_EQ(refused.m_cache.Next(), start + 3);
        refused.In(start + 3, "defghi");
        EXPECT_EQ(refused.m_out, "defghijk");
        EXPECT_TRUE(refused.NothingBuffered());
    }
}

} // namespace
} // namespace zk
