#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zk {

// Bits of CIpHeader::m_flags, the top three bits of header byte 6 (RFC 791).
constexpr std::uint8_t kIpFlagMoreFragments = 0x01;
constexpr std::uint8_t kIpFlagDontFragment = 0x02;
constexpr std::uint8_t kIpFlagReserved = 0x04;

constexpr std::size_t kIpMinHeaderLength = 20;

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

    bool IsFragment() const
    {
        return m_fragmentOffset != 0 || (m_flags & kIpFlagMoreFragments) != 0;
    }
    std::size_t PayloadLength() const { return m_totalLength - m_headerLength; }
};

// Reads the header of a received datagram. False (the datagram is ignored)
// when fewer than 20 bytes arrived, the header length is below 20, or the
// total length is below the header length or beyond the bytes received.
// Neither version nor checksum is checked: the layers above only need the
// lengths, addresses and protocol.
bool ParseIpHeader(const std::uint8_t* data, std::size_t length, CIpHeader& header);

// One fragment kept until its datagram can be rebuilt, or a rebuilt datagram.
struct CIpPacket
{
    CIpHeader m_header;
    std::vector<std::uint8_t> m_bytes; // the whole fragment, header included
};

using CIpPacketPtr = std::shared_ptr<CIpPacket>;

} // namespace zk
