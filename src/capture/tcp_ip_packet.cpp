#include "capture/tcp_ip_packet.h"

namespace zk {

bool ParseTcpIpPacket(const CIpHeader& ip, const std::uint8_t* datagram, std::size_t length,
                      CTcpIpPacket& packet)
{
    if (ip.m_protocol != kIpProtocolTcp || ip.m_totalLength > length ||
        ip.m_totalLength < ip.m_headerLength)
        return false;
    std::size_t segmentLength = ip.m_totalLength - ip.m_headerLength;
    if (segmentLength < kTcpMinHeaderLength)
        return false;
    const std::uint8_t* tcp = datagram + ip.m_headerLength;
    std::uint8_t dataOffset = static_cast<std::uint8_t>((tcp[12] >> 4) * 4);
    if (dataOffset < kTcpMinHeaderLength || dataOffset > segmentLength)
        return false;
    packet.m_ip = ip;
    packet.m_sourcePort = static_cast<std::uint16_t>(tcp[0] << 8 | tcp[1]);
    packet.m_destinationPort = static_cast<std::uint16_t>(tcp[2] << 8 | tcp[3]);
    packet.m_sequence = std::uint32_t(tcp[4]) << 24 | std::uint32_t(tcp[5]) << 16 |
                        std::uint32_t(tcp[6]) << 8 | tcp[7];
    packet.m_dataOffset = dataOffset;
    packet.m_flags = static_cast<std::uint8_t>(tcp[13] & 0x3F);
    packet.m_payload = tcp + dataOffset;
    packet.m_payloadLength = segmentLength - dataOffset;
    return true;
}

} // namespace zk
