#include "platform/adapter_list.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <map>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace zk {
namespace {

// Link-local addresses (RFC 3927) are never registered in DNS, so an adapter
// that only has one is not reachable under a name and is not offered.
bool IsLinkLocal(const std::array<std::uint8_t, 4>& address)
{
    return address[0] == 169 && address[1] == 254;
}

// Of IPv6, only global unicast (2000::/3) and unique-local (fc00::/7)
// addresses (RFC 4291, RFC 4193) reach the machine from elsewhere under a
// name: link-local fe80::/10 is as unreachable as 169.254/16 is.
bool IsReachableIpv6(const std::array<std::uint8_t, 16>& address)
{
    return (address[0] & 0xE0) == 0x20 || (address[0] & 0xFE) == 0xFC;
}

// The interface an address label belongs to: Linux interface names cannot
// contain a colon, so everything before the first one is the interface.
std::string InterfaceOfLabel(const std::string& label)
{
    return label.substr(0, label.find(':'));
}

} // namespace

std::vector<CNetworkAdapter> SelectNetworkAdapters(const std::vector<CInterfaceEntry>& entries)
{
    struct CCandidate
    {
        const CInterfaceEntry* link = nullptr;
        const CInterfaceEntry* address = nullptr;
        const CInterfaceEntry* ipv6Address = nullptr;
    };
    std::map<std::string, CCandidate> byName;
    for (const CInterfaceEntry& entry : entries) {
        if (entry.m_kind == CInterfaceEntry::Kind::Link)
            byName[entry.m_name].link = &entry;
    }
    for (const CInterfaceEntry& entry : entries) {
        bool ipv4 = entry.m_kind == CInterfaceEntry::Kind::Ipv4 && !IsLinkLocal(entry.m_address);
        bool ipv6 =
            entry.m_kind == CInterfaceEntry::Kind::Ipv6 && IsReachableIpv6(entry.m_ipv6Address);
        if (!ipv4 && !ipv6)
            continue;
        auto found = byName.find(InterfaceOfLabel(entry.m_name));
        if (found == byName.end())
            continue;
        const CInterfaceEntry*& first = ipv4 ? found->second.address : found->second.ipv6Address;
        if (!first)
            first = &entry;
    }

    std::vector<CNetworkAdapter> adapters;
    for (const auto& [name, candidate] : byName) {
        const CInterfaceEntry* link = candidate.link;
        if ((!candidate.address && !candidate.ipv6Address) || !link || link->m_loopback ||
            link->m_hardwareAddressLength == 0)
            continue;
        CNetworkAdapter adapter;
        adapter.m_name = name;
        adapter.m_interfaceIndex = link->m_interfaceIndex;
        if (candidate.address)
            adapter.m_address = candidate.address->m_address;
        if (candidate.ipv6Address)
            adapter.m_ipv6Address = candidate.ipv6Address->m_ipv6Address;
        adapters.push_back(std::move(adapter));
    }
    std::stable_sort(adapters.begin(), adapters.end(),
                     [](const CNetworkAdapter& a, const CNetworkAdapter& b) {
                         return a.m_interfaceIndex < b.m_interfaceIndex;
                     });
    return adapters;
}

int ListNetworkAdapters(std::vector<CNetworkAdapter>& adapters)
{
    adapters.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return errno ? errno : ENOMEM;

    std::vector<CInterfaceEntry> entries;
    for (const ifaddrs* item = list; item; item = item->ifa_next) {
        if (!item->ifa_addr || !item->ifa_name)
            continue;
        CInterfaceEntry entry;
        entry.m_name = item->ifa_name;
        entry.m_loopback = (item->ifa_flags & IFF_LOOPBACK) != 0;
        if (item->ifa_addr->sa_family == AF_PACKET) {
            const auto* link = reinterpret_cast<const sockaddr_ll*>(item->ifa_addr);
            entry.m_kind = CInterfaceEntry::Kind::Link;
            entry.m_interfaceIndex = link->sll_ifindex;
            entry.m_hardwareAddressLength = link->sll_halen;
        } else if (item->ifa_addr->sa_family == AF_INET) {
            const auto* inet = reinterpret_cast<const sockaddr_in*>(item->ifa_addr);
            entry.m_kind = CInterfaceEntry::Kind::Ipv4;
            std::memcpy(entry.m_address.data(), &inet->sin_addr.s_addr, 4);
        } else if (item->ifa_addr->sa_family == AF_INET6) {
            const auto* inet6 = reinterpret_cast<const sockaddr_in6*>(item->ifa_addr);
            entry.m_kind = CInterfaceEntry::Kind::Ipv6;
            std::memcpy(entry.m_ipv6Address.data(), inet6->sin6_addr.s6_addr, 16);
        } else {
            continue;
        }
        entries.push_back(std::move(entry));
    }
    freeifaddrs(list);

    adapters = SelectNetworkAdapters(entries);
    return 0;
}

std::string FormatAdapterAddresses(const CNetworkAdapter& adapter)
{
    std::string text;
    auto add = [&text](int family, const void* address) {
        char buffer[INET6_ADDRSTRLEN] = {};
        if (!inet_ntop(family, address, buffer, sizeof buffer))
            return;
        if (!text.empty())
            text += ", ";
        text += buffer;
    };
    const auto none4 = std::array<std::uint8_t, 4>{};
    const auto none6 = std::array<std::uint8_t, 16>{};
    if (adapter.m_address != none4)
        add(AF_INET, adapter.m_address.data());
    if (adapter.m_ipv6Address != none6)
        add(AF_INET6, adapter.m_ipv6Address.data());
    return text;
}

} // namespace zk
