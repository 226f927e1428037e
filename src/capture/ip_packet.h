#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace zk {

// The fields of an IPv4 header (RFC 791), read in network byte order.
struct CIpHeader
{
    std::uint8_t m_version = 0;
    std::uint8_t m_headerLength = 0; // in bytes
    std::uint8_t m_typeOfService = 0;
    std::uint16_t m_totalLength = 0;
    std::uint16_t m_identification = 0;
    std::uint8_t m_flags = 0;           // bit 0 more fragments, bit 1 don't fragment
    std::uint16_t m_fragmentOffset = 0; // in bytes
    std::uint8_t m_timeToLive = 0;
    std::uint8_t m_protocol = 0;
    std::uint16_t m_headerChecksum = 0;
    std::array<std::uint8_t, 4> m_source{};
    std::array<std::uint8_t, 4> m_destination{};
};

// One fragment kept until its datagram can be rebuilt.
struct CIpPacket
{
    CIpHeader m_header;
    std::vector<std::uint8_t> m_bytes; // the whole fragment, header included
};

using CIpPacketPtr = std::shared_ptr<CIpPacket>;

} // namespace zk
