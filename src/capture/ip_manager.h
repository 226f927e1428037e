#pragma once

#include "capture/decode_stats.h"
#include "capture/ip_address_pair.h"
#include "capture/ip_fragment_table.h"
#include "capture/ip_packet.h"
#include "capture/ipv6_fragment_table.h"
#include "capture/ipv6_packet.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zk {

// The lowest decoding layer: IPv4 and IPv6 datagrams in, told apart by the
// version nibble; the TCP segment of every whole datagram out to
// T::TcpSegmentIn(const CIpAddressPair&, const std::uint8_t* datagram,
// std::size_t tcpOffset, std::size_t tcpLength), where the segment lies at
// datagram + tcpOffset. Whole datagrams go up from the caller's buffer;
// fragments are copied into the fragment table of their family until their
// datagram can be rebuilt.
template <class T> class CIpManager
{
public:
    // The chain's clock in milliseconds: the monotonic clock for live
    // capture, the packet times for a capture file. Every age in the chain is
    // measured on it.
    void SetClock(std::uint64_t nowMs) { m_nowMs = nowMs; }
    std::uint64_t Now() const { return m_nowMs; }

    const CDecodeStats& GetDecodeStats() const { return m_stats; }

    void IpDatagramIn(const std::uint8_t* data, std::size_t length)
    {
        ++m_stats.m_packets;
        m_stats.m_bytes += length;
        m_fragments.Expire(m_nowMs, m_stats);
        m_fragments6.Expire(m_nowMs, m_stats);
        // Anything but version 6 is read as IPv4, whose version field the
        // layer never checked.
        if (length > 0 && data[0] >> 4 == 6)
            Ipv6DatagramIn(data, length);
        else
            Ipv4DatagramIn(data, length);
        m_stats.m_fragmentBytes = m_fragments.Bytes() + m_fragments6.Bytes();
    }

protected:
    CDecodeStats m_stats;
    CIpFragmentTable m_fragments;
    CIpv6FragmentTable m_fragments6;

private:
    void Ipv4DatagramIn(const std::uint8_t* data, std::size_t length)
    {
        CIpHeader header;
        if (!ParseIpHeader(data, length, header))
            return;
        if (!header.IsFragment()) {
            Ipv4TcpSegmentIn(header, data);
            return;
        }
        CIpPacket rebuilt;
        if (m_fragments.Add(m_nowMs, header, data, rebuilt, m_stats))
            Ipv4TcpSegmentIn(rebuilt.m_header, rebuilt.m_bytes.data());
    }

    void Ipv4TcpSegmentIn(const CIpHeader& header, const std::uint8_t* datagram)
    {
        if (header.m_protocol != kIpv4ProtocolTcp)
            return;
        CIpAddressPair addresses;
        std::copy(header.m_source.begin(), header.m_source.end(), addresses.m_source.begin());
        std::copy(header.m_destination.begin(), header.m_destination.end(),
                  addresses.m_destination.begin());
        static_cast<T*>(this)->TcpSegmentIn(addresses, datagram, header.m_headerLength,
                                            header.PayloadLength());
    }

    void Ipv6DatagramIn(const std::uint8_t* data, std::size_t length)
    {
        ++m_stats.m_ipv6Packets;
        CIpv6Datagram datagram;
        if (!ParseIpv6Datagram(data, length, true, datagram))
            return;
        if (datagram.m_content == EIpv6Content::Tcp) {
            static_cast<T*>(this)->TcpSegmentIn(datagram.m_addresses, data, datagram.m_upperOffset,
                                                datagram.m_length - datagram.m_upperOffset);
            return;
        }
        if (!m_fragments6.Add(m_nowMs, datagram, data, m_rebuilt6, m_stats))
            return;
        // The rebuilt datagram is walked again from the start; a second
        // fragment header in it ends it.
        CIpv6Datagram whole;
        if (ParseIpv6Datagram(m_rebuilt6.data(), m_rebuilt6.size(), false, whole))
            static_cast<T*>(this)->TcpSegmentIn(whole.m_addresses, m_rebuilt6.data(),
                                                whole.m_upperOffset,
                                                whole.m_length - whole.m_upperOffset);
    }

    static constexpr std::uint8_t kIpv4ProtocolTcp = 6;

    std::uint64_t m_nowMs = 0;
    // The last rebuilt IPv6 datagram; kept so that its room is reused.
    std::vector<std::uint8_t> m_rebuilt6;
};

} // namespace zk
