#pragma once

#include "capture/decode_stats.h"
#include "capture/ip_packet.h"

#include <cstddef>
#include <cstdint>

namespace zk {

// The lowest decoding layer: IPv4 datagrams in, whole datagrams out to
// T::TcpSegmentIn. (Placeholder: passes unfragmented datagrams only.)
template <class T> class CIpManager
{
public:
    // The chain's clock in milliseconds: the monotonic clock for live
    // capture, the packet times for a capture file.
    void SetClock(std::uint64_t nowMs) { m_nowMs = nowMs; }
    std::uint64_t Now() const { return m_nowMs; }

    const CDecodeStats& GetDecodeStats() const { return m_stats; }

    void IpDatagramIn(const std::uint8_t* data, std::size_t length)
    {
        ++m_stats.m_packets;
        m_stats.m_bytes += length;
        if (length < 20)
            return;
        CIpHeader header;
        header.m_headerLength = static_cast<std::uint8_t>((data[0] & 0x0F) * 4);
        header.m_totalLength = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
        header.m_protocol = data[9];
        if (header.m_headerLength < 20 || header.m_totalLength < header.m_headerLength ||
            header.m_totalLength > length)
            return;
        static_cast<T*>(this)->TcpSegmentIn(header, data, header.m_totalLength);
    }

protected:
    CDecodeStats m_stats;

private:
    std::uint64_t m_nowMs = 0;
};

} // namespace zk
