#pragma once

#include "capture/decode_stats.h"
#include "capture/ip_fragment_table.h"
#include "capture/ip_packet.h"

#include <cstddef>
#include <cstdint>

namespace zk {

// The lowest decoding layer: IPv4 datagrams in, whole datagrams out to
// T::TcpSegmentIn(const CIpHeader&, const std::uint8_t* datagram, length).
// Whole datagrams go up from the caller's buffer; fragments are copied into
// the fragment table until their datagram can be rebuilt.
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
        CIpHeader header;
        if (!ParseIpHeader(data, length, header))
            return;
        if (!header.IsFragment()) {
            static_cast<T*>(this)->TcpSegmentIn(header, data, header.m_totalLength);
            return;
        }
        CIpPacket rebuilt;
        if (m_fragments.Add(m_nowMs, header, data, rebuilt, m_stats))
            static_cast<T*>(this)->TcpSegmentIn(rebuilt.m_header, rebuilt.m_bytes.data(),
                                                rebuilt.m_bytes.size());
    }

protected:
    CDecodeStats m_stats;
    CIpFragmentTable m_fragments;

private:
    std::uint64_t m_nowMs = 0;
};

} // namespace zk
