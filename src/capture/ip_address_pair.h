#pragma once

#include <array>
#include <cstdint>

namespace zk {

// The family a datagram came in. An IPv4 address fills the first four bytes
// of a CIpAddress and leaves the rest zero; the family tells the two apart,
// so that an IPv6 datagram between IPv4-mapped addresses (::ffff:a.b.c.d) is
// never taken for one of the IPv4 connection it names.
enum class EIpFamily : std::uint8_t
{
    Ipv4 = 4,
    Ipv6 = 6,
};

using CIpAddress = std::array<std::uint8_t, 16>;

// Where a datagram came from and went to, as the datagram layer read it.
struct CIpAddressPair
{
    EIpFamily m_family = EIpFamily::Ipv4;
    CIpAddress m_source{};
    CIpAddress m_destination{};
};

} // namespace zk
