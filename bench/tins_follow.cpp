// zk-bench-tins: the yardstick of the decoding chain's speed. It follows
// every TCP stream of a capture file with a general-purpose stream follower
// behind an IPv4 reassembler, and counts what comes out, so that the probe
// can be timed against it on the same file.

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <tins/ip_reassembler.h>
#include <tins/packet.h>
#include <tins/sniffer.h>
#include <tins/tcp_ip/stream_follower.h>

namespace {

struct CFollowCounts
{
    std::uint64_t m_packets = 0;
    std::uint64_t m_fragmented = 0; // held by the reassembler
    std::uint64_t m_streams = 0;
    std::uint64_t m_streamBytes = 0; // in-order payload of both directions
};

int Follow(const std::string& path)
{
    CFollowCounts counts;
    Tins::IPv4Reassembler reassembler;
    Tins::TCPIP::StreamFollower follower;
    follower.new_stream_callback([&counts](Tins::TCPIP::Stream& stream) {
        ++counts.m_streams;
        // Payloads are counted and dropped, as the probe drops what its
        // layers do not need.
        stream.auto_cleanup_payloads(true);
        stream.client_data_callback([&counts](Tins::TCPIP::Stream& s) {
            counts.m_streamBytes += s.client_payload().size();
        });
        stream.server_data_callback([&counts](Tins::TCPIP::Stream& s) {
            counts.m_streamBytes += s.server_payload().size();
        });
    });

    Tins::FileSniffer sniffer(path);
    sniffer.sniff_loop([&](Tins::Packet& packet) {
        ++counts.m_packets;
        if (reassembler.process(*packet.pdu()) == Tins::IPv4Reassembler::FRAGMENTED) {
            ++counts.m_fragmented;
            return true;
        }
        follower.process_packet(packet);
        return true;
    });

    std::fprintf(stderr, "packets=%llu fragmented=%llu streams=%llu stream_bytes=%llu\n",
                 static_cast<unsigned long long>(counts.m_packets),
                 static_cast<unsigned long long>(counts.m_fragmented),
                 static_cast<unsigned long long>(counts.m_streams),
                 static_cast<unsigned long long>(counts.m_streamBytes));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: zk-bench-tins FILE\n", stderr);
        return 2;
    }
    try {
        return Follow(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zk-bench-tins: %s\n", e.what());
        return 1;
    }
}
