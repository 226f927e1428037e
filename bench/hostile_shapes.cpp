// zk-bench-hostile: hostile packet shapes through the IP and TCP layers next
// to the same packets in an ordinary order. Each shape runs in a child
// process of its own, so that its peak resident memory is its own.
//
//   past-holes      4096 connections, each sending 1023 one-byte segments
//                   past a one-byte hole (round robin), then the hole
//   in-order        the same packets, the hole's byte first
//   drain-desc      4096 connections one after the other, each 1023
//                   one-byte segments in descending order, then the hole
//   drain-in-order  the same packets in order
//   frag-last-first 20 datagrams of 8125 eight-byte fragments, last first
//   frag-in-order   the same fragments in order
//   frag6-...       the same over IPv6
//   plain           as many unfragmented datagrams as there are fragments
//
// With --pcap DIR it writes past-holes.pcap and in-order.pcap into DIR
// instead, for the probe. Prints "shape seconds peak-RSS-KiB cache-peak-bytes" and the ratios the
// cache and the fragment tables are held to: at most 3x the memory, at most
// 4x the time of the baseline.

#include "capture/tcp_ip_stream.h"
#include "support/packet_builder.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using zk::test::Bytes;

constexpr std::size_t kConnections = 4096;
constexpr std::uint32_t kSegments = 1023;
constexpr std::size_t kDatagrams = 20;
constexpr std::size_t kFragmentPayload = 8125 * 8;
constexpr int kRounds = 3; // the fastest round counts for the timed shapes

class CBenchChain : public zk::CTcpIpStream<CBenchChain>
{
public:
    void StreamDataIn(const zk::CTcpIpStreamInfo&, const std::uint8_t*, std::size_t length)
    {
        m_delivered += length;
    }
    void TcpSegmentIn(const zk::CIpAddressPair& ip, const std::uint8_t* datagram,
                      std::size_t tcpOffset, std::size_t tcpLength)
    {
        ++m_segments;
        CTcpIpStream::TcpSegmentIn(ip, datagram, tcpOffset, tcpLength);
        if (m_peakCache < GetDecodeStats().m_segmentBytes)
            m_peakCache = GetDecodeStats().m_segmentBytes;
    }
    void In(const Bytes& datagram) { IpDatagramIn(datagram.data(), datagram.size()); }

    std::uint64_t m_delivered = 0;
    std::uint64_t m_segments = 0;
    std::uint64_t m_peakCache = 0;
};

template <class Sink> std::vector<zk::test::CTcpFlowBuilder> Flows(Sink& chain)
{
    std::vector<zk::test::CTcpFlowBuilder> flows;
    flows.reserve(kConnections);
    for (std::size_t i = 0; i < kConnections; ++i) {
        zk::test::Address source{198, 18, static_cast<std::uint8_t>(1 + i / 60000), 1};
        flows.emplace_back(source, static_cast<std::uint16_t>(1024 + i % 60000),
                           zk::test::kServerAddress, 80,
                           static_cast<std::uint32_t>(i * 2654435761u));
        chain.In(flows.back().Syn());
    }
    return flows;
}

// Every connection's segment n before any connection's n + 1.
template <class Sink> void PastHoles(Sink& chain, bool holeFirst)
{
    std::vector<zk::test::CTcpFlowBuilder> flows = Flows(chain);
    Bytes one(1, 'x');
    if (holeFirst) {
        for (auto& flow : flows)
            chain.In(flow.Segment(flow.NextSequence(), one));
    }
    for (std::uint32_t n = 1; n <= kSegments; ++n) {
        for (auto& flow : flows)
            chain.In(flow.Segment(flow.NextSequence() + n, one));
    }
    if (!holeFirst) {
        for (auto& flow : flows)
            chain.In(flow.Segment(flow.NextSequence(), one));
    }
}

void Drain(CBenchChain& chain, bool descending)
{
    std::vector<zk::test::CTcpFlowBuilder> flows = Flows(chain);
    Bytes one(1, 'x');
    for (auto& flow : flows) {
        if (!descending) {
            for (std::uint32_t n = 0; n <= kSegments; ++n)
                chain.In(flow.Segment(flow.NextSequence() + n, one));
            continue;
        }
        for (std::uint32_t n = kSegments; n >= 1; --n)
            chain.In(flow.Segment(flow.NextSequence() + n, one));
        chain.In(flow.Segment(flow.NextSequence(), one));
    }
}

std::vector<Bytes> Fragments(bool ipv6)
{
    Bytes payload(kFragmentPayload, 'f');
    if (ipv6) {
        zk::test::CIpv6Fields fields;
        return zk::test::SplitIntoFragments6(
            zk::test::BuildIpv6(fields, zk::test::kIpProtocolTcp, payload), 8, 7);
    }
    zk::test::CIpv4Fields fields;
    fields.identification = 7;
    return zk::test::SplitIntoFragments(zk::test::BuildIpv4(fields, payload), 8);
}

void Fragmented(CBenchChain& chain, const std::vector<Bytes>& fragments, bool lastFirst)
{
    for (std::size_t d = 0; d < kDatagrams; ++d) {
        if (lastFirst) {
            for (std::size_t i = fragments.size(); i-- > 0;)
                chain.In(fragments[i]);
        } else {
            for (const Bytes& fragment : fragments)
                chain.In(fragment);
        }
    }
}

void Plain(CBenchChain& chain, const Bytes& datagram, std::size_t count)
{
    for (std::size_t d = 0; d < kDatagrams * count; ++d)
        chain.In(datagram);
}

// Writes what it is given as a capture file of raw IP packets, for the
// probe to read (--pcap).
class CPcapSink
{
public:
    explicit CPcapSink(const std::string& path) : m_file(std::fopen(path.c_str(), "wb"))
    {
        // The classic header: magic, version 2.4, zone, accuracy, snap
        // length, link type 101 (raw IP).
        std::uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 101};
        std::fwrite(header, sizeof header, 1, m_file);
    }
    ~CPcapSink() { std::fclose(m_file); }
    void In(const Bytes& datagram)
    {
        ++m_microseconds;
        std::uint32_t record[4] = {static_cast<std::uint32_t>(m_microseconds / 1000000),
                                   static_cast<std::uint32_t>(m_microseconds % 1000000),
                                   static_cast<std::uint32_t>(datagram.size()),
                                   static_cast<std::uint32_t>(datagram.size())};
        std::fwrite(record, sizeof record, 1, m_file);
        std::fwrite(datagram.data(), datagram.size(), 1, m_file);
    }

private:
    std::FILE* m_file;
    std::uint64_t m_microseconds = 1'700'000'000'000'000ull;
};

struct CFigures
{
    double m_seconds = 0;
    long m_peakKiB = 0;
    std::uint64_t m_peakCache = 0;
    std::uint64_t m_delivered = 0;
};

// Runs one shape in a child process; what it reports comes back through a
// pipe, its peak memory from wait4.
CFigures RunShape(const std::string& shape)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        CFigures figures;
        figures.m_seconds = 1e9;
        std::vector<Bytes> fragments;
        if (shape.rfind("frag", 0) == 0 || shape == "plain")
            fragments = Fragments(shape.rfind("frag6", 0) == 0);
        Bytes plain;
        if (shape == "plain") {
            zk::test::CIpv4Fields fields;
            plain = zk::test::BuildIpv4(fields, Bytes(8, 'p'));
        }
        bool timedOnce = shape == "past-holes" || shape == "in-order";
        for (int round = 0; round < (timedOnce ? 1 : kRounds); ++round) {
            CBenchChain chain;
            auto start = std::chrono::steady_clock::now();
            if (shape == "past-holes" || shape == "in-order")
                PastHoles(chain, shape == "in-order");
            else if (shape == "drain-desc" || shape == "drain-in-order")
                Drain(chain, shape == "drain-desc");
            else if (shape == "plain")
                Plain(chain, plain, fragments.size());
            else
                Fragmented(chain, fragments, shape.find("last-first") != std::string::npos);
            std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            if (took.count() < figures.m_seconds)
                figures.m_seconds = took.count();
            figures.m_peakCache = chain.m_peakCache;
            figures.m_delivered = chain.m_delivered + chain.m_segments;
        }
        ssize_t written = write(fds[1], &figures, sizeof figures);
        _exit(written == sizeof figures ? 0 : 1);
    }
    close(fds[1]);
    CFigures figures;
    ssize_t got = read(fds[0], &figures, sizeof figures);
    close(fds[0]);
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    wait4(child, &status, 0, &usage);
    if (got != sizeof figures || status != 0)
        std::fprintf(stderr, "%s failed\n", shape.c_str());
    figures.m_peakKiB = usage.ru_maxrss;
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--pcap") {
        std::string folder = argv[2];
        {
            CPcapSink sink(folder + "/past-holes.pcap");
            PastHoles(sink, false);
        }
        CPcapSink sink(folder + "/in-order.pcap");
        PastHoles(sink, true);
        return 0;
    }
    const char* shapes[] = {"in-order",        "past-holes",     "drain-in-order",
                            "drain-desc",      "plain",          "frag-in-order",
                            "frag-last-first", "frag6-in-order", "frag6-last-first"};
    std::printf("%-17s %9s %10s %12s %12s\n", "shape", "seconds", "peak-KiB", "cache-peak",
                "work-items");
    std::vector<CFigures> all;
    for (const char* shape : shapes) {
        all.push_back(RunShape(shape));
        const CFigures& f = all.back();
        std::printf("%-17s %9.4f %10ld %12llu %12llu\n", shape, f.m_seconds, f.m_peakKiB,
                    static_cast<unsigned long long>(f.m_peakCache),
                    static_cast<unsigned long long>(f.m_delivered));
    }
    std::printf("past-holes/in-order memory %.2f (goal <= 3)\n",
                double(all[1].m_peakKiB) / double(all[0].m_peakKiB));
    std::printf("drain-desc/drain-in-order time %.2f (goal <= 4)\n",
                all[3].m_seconds / all[2].m_seconds);
    std::printf("frag-last-first/frag-in-order time %.2f (goal <= 4), /plain %.2f\n",
                all[6].m_seconds / all[5].m_seconds, all[6].m_seconds / all[4].m_seconds);
    std::printf("frag6-last-first/frag6-in-order time %.2f (goal <= 4)\n",
                all[8].m_seconds / all[7].m_seconds);
    return 0;
}
