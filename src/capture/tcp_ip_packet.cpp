#include "capture/tcp_ip_packet.h"

namespace zk {

bool ParseTcpIpPacket(const CIpAddressPair& ip, const std::uint8_t* tcp, std::size_t length,
                      CTcpIpPacket& packet)
{
    if (length < kTcpMinHeaderLength)
        return false;
    std::uint8_t dataOffset = static_cast<std::uint8_t>((tcp[12] >> 4) * 4);
    if (dataOffset < kTcpMinHeaderLength || dataOffset > length)
        return false;
    packet.m_ip = ip;
    packet.m_sourcePort = static_cast<std::uint16_t>(tcp[0] << 8 | tcp[1]);
    packet.m_destinationPort = static_cast<std::uint16_t>(tcp[2] << 8 | tcp[3]);
    packet.m_sequence = std::uint32_t(tcp[4]) << 24 | std::uint32_t(tcp[5]) << 16 |
                        std::uint32_t(tcp[6]) << 8 | tcp[7];
    packet.m_dataOffset = dataOffset;
    packet.m_flags = static_cast<std::uint8_t>(tcp[13] & 0x3F);
    packet.m_payload = tcp + dataOffset;
    packet.m_payloadLength = length - dataOffset;
    return true;
}

} // namespace zk
