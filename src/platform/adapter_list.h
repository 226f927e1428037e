#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zk {

// A network adapter the capture can watch: its friendly name (on Linux the
// interface name), the kernel's interface index, its IPv4 address and its
// IPv6 address (each all zero when it has none that counts).
struct CNetworkAdapter
{
    std::string m_name;
    int m_interfaceIndex = 0;
    std::array<std::uint8_t, 4> m_address{};
    std::array<std::uint8_t, 16> m_ipv6Address{};
};

// The adapter's addresses as the user reads them beside its name: the IPv4
// address, then the IPv6 one, each left out when the adapter has none.
std::string FormatAdapterAddresses(const CNetworkAdapter& adapter);

// One entry of the system's interface address list, reduced to what the
// adapter rules look at. A link entry carries the interface's index, flags
// and hardware address length; an IPv4 or IPv6 entry carries an address and
// the name it was listed under, which may be a label such as "eth0:1".
struct CInterfaceEntry
{
    enum class Kind
    {
        Link,
        Ipv4,
        Ipv6
    };

    Kind m_kind = Kind::Link;
    std::string m_name;
    bool m_loopback = false;
    int m_interfaceIndex = 0;
    unsigned m_hardwareAddressLength = 0;
    std::array<std::uint8_t, 4> m_address{};      // of an IPv4 entry
    std::array<std::uint8_t, 16> m_ipv6Address{}; // of an IPv6 entry
};

// Applies the adapter rules to the system's entries: addresses are grouped
// with their interface (a label names the interface before its colon);
// loopback interfaces, interfaces without a hardware address (tunnels) and
// interfaces with neither an IPv4 address outside link-local 169.254/16 nor
// a global (2000::/3) or unique-local (fc00::/7) IPv6 address are left out;
// each adapter takes its first remaining address of each family. The
// adapters come in interface index order.
std::vector<CNetworkAdapter> SelectNetworkAdapters(const std::vector<CInterfaceEntry>& entries);

// The usable adapters of the calling thread's network namespace. Returns 0,
// or the errno of a failed enumeration (adapters is then empty).
int ListNetworkAdapters(std::vector<CNetworkAdapter>& adapters);

} // namespace zk
