#pragma once

#include "capture/ip_address_pair.h"
#include "capture/tcp_ip_stream_info.h"

#include <cstddef>
#include <cstdint>

namespace zk {

constexpr std::uint8_t kIpProtocolTcp = 6;
constexpr std::size_t kTcpMinHeaderLength = 20;

// TCP flags, the low six bits of header byte 13 (RFC 793).
constexpr std::uint8_t kTcpFlagFin = 0x01;
constexpr std::uint8_t kTcpFlagSyn = 0x02;
constexpr std::uint8_t kTcpFlagRst = 0x04;
constexpr std::uint8_t kTcpFlagPsh = 0x08;
constexpr std::uint8_t kTcpFlagAck = 0x10;
constexpr std::uint8_t kTcpFlagUrg = 0x20;

// One parsed segment. It points into the carrying datagram, which is not
// copied: a segment that arrives in order is delivered from there.
struct CTcpIpPacket
{
    CIpAddressPair m_ip;
    std::uint16_t m_sourcePort = 0;
    std::uint16_t m_destinationPort = 0;
    std::uint32_t m_sequence = 0;
    std::uint8_t m_dataOffset = 0; // in bytes
    std::uint8_t m_flags = 0;
    const std::uint8_t* m_payload = nullptr;
    std::size_t m_payloadLength = 0;

    CTcpIpStreamKey Key() const
    {
        return {m_ip.m_source, m_ip.m_destination, m_sourcePort, m_destinationPort, m_ip.m_family};
    }
};

// Reads the TCP segment of length bytes that the datagram layer found at
// segment. False (the segment is dropped) unless it carries at least a
// 20-byte header and its data offset is at least 20 and within the segment.
bool ParseTcpIpPacket(const CIpAddressPair& ip, const std::uint8_t* segment, std::size_t length,
                      CTcpIpPacket& packet);

} // namespace zk
