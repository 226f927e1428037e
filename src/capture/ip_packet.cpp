#include "capture/ip_packet.h"

#include <algorithm>

namespace zk {

bool ParseIpHeader(const std::uint8_t* data, std::size_t length, CIpHeader& header)
{
    if (length < kIpMinHeaderLength)
        return false;
    header.m_version = static_cast<std::uint8_t>(data[0] >> 4);
    header.m_headerLength = static_cast<std::uint8_t>((data[0] & 0x0F) * 4);
    header.m_typeOfService = data[1];
    header.m_totalLength = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
    header.m_identification = static_cast<std::uint16_t>(data[4] << 8 | data[5]);
    // The top three bits of byte 6 are, from the top, reserved, don't
    // fragment and more fragments, so shifted down they are the field.
    header.m_flags = static_cast<std::uint8_t>(data[6] >> 5);
    header.m_fragmentOffset = static_cast<std::uint16_t>(((data[6] & 0x1F) << 8 | data[7]) * 8);
    header.m_timeToLive = data[8];
    header.m_protocol = data[9];
    header.m_headerChecksum = static_cast<std::uint16_t>(data[10] << 8 | data[11]);
    std::copy(data + 12, data + 16, header.m_source.begin());
    std::copy(data + 16, data + 20, header.m_destination.begin());
    return header.m_headerLength >= kIpMinHeaderLength &&
           header.m_totalLength >= header.m_headerLength && header.m_totalLength <= length;
}

} // namespace zk
