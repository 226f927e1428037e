#include "capture/ipv6_packet.h"

#include <algorithm>

namespace zk {

namespace {

constexpr std::uint8_t kTcp = 6;

} // namespace

bool ParseIpv6Datagram(const std::uint8_t* data, std::size_t length, bool takeFragments,
                       CIpv6Datagram& datagram)
{
    if (length < kIpv6HeaderLength)
        return false;
    std::size_t payloadLength = static_cast<std::size_t>(data[4] << 8 | data[5]);
    if (payloadLength == 0)
        payloadLength = length - kIpv6HeaderLength;
    if (kIpv6HeaderLength + payloadLength > length)
        return false;
    datagram.m_length = kIpv6HeaderLength + payloadLength;
    datagram.m_addresses.m_family = EIpFamily::Ipv6;
    std::copy(data + 8, data + 24, datagram.m_addresses.m_source.begin());
    std::copy(data + 24, data + 40, datagram.m_addresses.m_destination.begin());

    const std::size_t end = datagram.m_length;
    std::uint8_t next = data[6];
    std::size_t nextAt = 6;
    std::size_t at = kIpv6HeaderLength;
    // Every header takes at least 8 bytes, so the walk ends.
    for (;;) {
        std::size_t headerLength = 0;
        switch (next) {
        case kTcp:
            datagram.m_content = EIpv6Content::Tcp;
            datagram.m_upperOffset = at;
            return true;
        case kIpv6HopByHop:
            if (at != kIpv6HeaderLength)
                return false;
            [[fallthrough]];
        case kIpv6Routing:
        case kIpv6DestinationOptions:
            if (at + 2 > end)
                return false;
            headerLength = (std::size_t(data[at + 1]) + 1) * 8;
            break;
        case kIpv6Authentication:
            if (at + 2 > end)
                return false;
            headerLength = (std::size_t(data[at + 1]) + 2) * 4;
            break;
        case kIpv6Fragment: {
            if (at + kIpv6FragmentHeaderLength > end)
                return false;
            std::uint16_t field = static_cast<std::uint16_t>(data[at + 2] << 8 | data[at + 3]);
            std::uint32_t offset = field & 0xFFF8u;
            bool more = (field & 1) != 0;
            if (offset != 0 || more) {
                if (!takeFragments)
                    return false;
                datagram.m_content = EIpv6Content::Fragment;
                datagram.m_upperOffset = at;
                datagram.m_nextHeaderAt = nextAt;
                datagram.m_fragmentNextHeader = data[at];
                datagram.m_fragmentOffset = offset;
                datagram.m_moreFragments = more;
                datagram.m_identification = std::uint32_t(data[at + 4]) << 24 |
                                            std::uint32_t(data[at + 5]) << 16 |
                                            std::uint32_t(data[at + 6]) << 8 | data[at + 7];
                return true;
            }
            // An atomic fragment is the whole datagram; it never meets the
            // fragments of others with its identification (RFC 6946).
            headerLength = kIpv6FragmentHeaderLength;
            break;
        }
        default: // ESP, no next header, or one the walk does not know
            return false;
        }
        if (headerLength > end - at)
            return false;
        next = data[at];
        nextAt = at;
        at += headerLength;
    }
}

} // namespace zk
