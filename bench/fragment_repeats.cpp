// zk-bench-fragments: the cost per datagram of the IP layer for a flood of
// repeated first fragments over a hole that never fills, next to as many
// plain datagrams. Each repeat must cost about what a plain datagram costs,
// however many came before it; the ratio printed at the end says how far
// that holds. Prints "shape datagrams seconds ns/datagram".

#include "capture/ip_manager.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// As many repeats as the fragment table's byte limit lets through when each
// one is kept: 28-byte fragments up to its 2 MiB.
constexpr std::size_t kDatagrams = 74000;
constexpr std::size_t kRounds = 5; // the fastest round counts

class CCountingChain : public zk::CIpManager<CCountingChain>
{
public:
    void TcpSegmentIn(const zk::CIpAddressPair&, const std::uint8_t*, std::size_t, std::size_t)
    {
        ++m_handedUp;
    }
    std::size_t m_handedUp = 0;
};

// A 28-byte IPv4 datagram of identification 7 carrying 8 bytes, at offset
// (in units of 8 bytes) with or without more fragments to follow.
std::vector<std::uint8_t> Datagram(std::uint16_t offset, bool more)
{
    std::vector<std::uint8_t> d(28, 0);
    d[0] = 0x45;
    d[3] = 28;
    d[5] = 7;
    d[6] = static_cast<std::uint8_t>((more ? 0x20 : 0) | offset >> 8);
    d[7] = static_cast<std::uint8_t>(offset);
    d[8] = 64;
    d[9] = 6;
    d[12] = 198, d[13] = 18, d[14] = 0, d[15] = 1;
    d[16] = 198, d[17] = 18, d[18] = 0, d[19] = 2;
    return d;
}

double Seconds(const std::vector<std::uint8_t>& first, const std::vector<std::uint8_t>& each,
               std::size_t count)
{
    double best = 1e9;
    for (std::size_t round = 0; round < kRounds; ++round) {
        CCountingChain chain;
        auto start = std::chrono::steady_clock::now();
        chain.IpDatagramIn(first.data(), first.size());
        for (std::size_t i = 1; i < count; ++i)
            chain.IpDatagramIn(each.data(), each.size());
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best)
            best = took.count();
    }
    return best;
}

void Print(const char* shape, std::size_t count, double seconds)
{
    std::printf("%-18s %9zu %9.4f %12.1f\n", shape, count, seconds, seconds * 1e9 / count);
}

} // namespace

int main()
{
    std::vector<std::uint8_t> plain = Datagram(0, false);
    // The last fragment sits far beyond the first, so the hole between them
    // never fills and every repeat of the first tries a reassembly.
    std::vector<std::uint8_t> last = Datagram(100, false);
    std::vector<std::uint8_t> repeat = Datagram(0, true);
    double plainSeconds = Seconds(plain, plain, kDatagrams);
    // A tenth as many repeats: the cost per repeat must be the same.
    double fewSeconds = Seconds(last, repeat, kDatagrams / 10);
    double repeatSeconds = Seconds(last, repeat, kDatagrams);
    std::printf("%-18s %9s %9s %12s\n", "shape", "datagrams", "seconds", "ns/datagram");
    Print("plain", kDatagrams, plainSeconds);
    Print("repeated-fragment", kDatagrams / 10, fewSeconds);
    Print("repeated-fragment", kDatagrams, repeatSeconds);
    std::printf("repeats/plain %.1f, growth per repeat from %zu to %zu repeats %.2f\n",
                repeatSeconds / plainSeconds, kDatagrams / 10, kDatagrams,
                (repeatSeconds / kDatagrams) / (fewSeconds / (kDatagrams / 10)));
    return 0;
}
