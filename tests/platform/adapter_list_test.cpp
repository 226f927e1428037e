#include "platform/adapter_list.h"
#include "support/netns.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

namespace zk {
namespace {

using Kind = CInterfaceEntry::Kind;

CInterfaceEntry Link(const std::string& name, int index, unsigned hardwareLength = 6,
                     bool loopback = false)
{
    CInterfaceEntry entry;
    entry.m_kind = Kind::Link;
    entry.m_name = name;
    entry.m_interfaceIndex = index;
    entry.m_hardwareAddressLength = hardwareLength;
    entry.m_loopback = loopback;
    return entry;
}

CInterfaceEntry Address(const std::string& name, std::array<std::uint8_t, 4> address)
{
    CInterfaceEntry entry;
    entry.m_kind = Kind::Ipv4;
    entry.m_name = name;
    entry.m_address = address;
    return entry;
}

CInterfaceEntry Address6(const std::string& name, std::array<std::uint8_t, 16> address)
{
    CInterfaceEntry entry;
    entry.m_kind = Kind::Ipv6;
    entry.m_name = name;
    entry.m_ipv6Address = address;
    return entry;
}

constexpr std::array<std::uint8_t, 16> kGlobal{0x20, 0x01, 0, 2, 0, 0, 0, 0,
                                               0,    0,    0, 0, 0, 0, 0, 1};
constexpr std::array<std::uint8_t, 16> kUniqueLocal{0xFD, 0, 0, 0, 0, 0, 0, 0,
                                                    0,    0, 0, 0, 0, 0, 0, 7};
constexpr std::array<std::uint8_t, 16> kLinkLocal{0xFE, 0x80, 0, 0, 0, 0, 0, 0,
                                                  0,    0,    0, 0, 0, 0, 0, 1};
constexpr std::array<std::uint8_t, 16> kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

std::vector<std::string> Names(const std::vector<CNetworkAdapter>& adapters)
{
    std::vector<std::string> names;
    for (const CNetworkAdapter& adapter : adapters)
        names.push_back(adapter.m_name);
    return names;
}

TEST(AdapterSelection, LeavesOutLoopbackTunnelsAndInterfacesWithoutAddress)
{
    auto adapters = SelectNetworkAdapters({
        Link("lo", 1, 6, true),
        Link("eth0", 2),
        Link("tun0", 3, 0),
        Link("eth1", 4), // up, but no IPv4 address
        Address("lo", {127, 0, 0, 1}),
        Address("eth0", {198, 18, 0, 1}),
        Address("tun0", {198, 18, 1, 1}),
    });
    EXPECT_EQ(Names(adapters), std::vector<std::string>{"eth0"});
}

TEST(AdapterSelection, GroupsLabelledAddressesWithTheirInterfaceAndTakesTheFirst)
{
    auto adapters = SelectNetworkAdapters({
        Link("eth0", 2),
        Address("eth0", {198, 18, 0, 1}),
        Address("eth0:1", {198, 18, 0, 9}),
        Address("eth0:backup", {198, 18, 0, 10}),
    });
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].m_name, "eth0");
    EXPECT_EQ(adapters[0].m_interfaceIndex, 2);
    EXPECT_EQ(adapters[0].m_address, (std::array<std::uint8_t, 4>{198, 18, 0, 1}));
}

TEST(AdapterSelection, AnAddressListedOnlyUnderALabelStillCounts)
{
    auto adapters = SelectNetworkAdapters({Link("eth0", 2), Address("eth0:1", {198, 18, 0, 9})});
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].m_address, (std::array<std::uint8_t, 4>{198, 18, 0, 9}));
}

TEST(AdapterSelection, SkipsLinkLocalAddresses)
{
    auto adapters = SelectNetworkAdapters({
        Link("eth0", 2),
        Link("eth1", 3),
        Address("eth0", {169, 254, 7, 7}),
        Address("eth1", {169, 254, 8, 8}),
        Address("eth0", {198, 18, 0, 1}),
    });
    ASSERT_EQ(Names(adapters), std::vector<std::string>{"eth0"});
    EXPECT_EQ(adapters[0].m_address, (std::array<std::uint8_t, 4>{198, 18, 0, 1}));
}

// A global or unique-local IPv6 address makes an adapter as an IPv4 one
// does; a link-local one alone does not, nor loopback's.
TEST(AdapterSelection, OffersAdaptersWithAGlobalOrUniqueLocalIpv6Address)
{
    auto adapters = SelectNetworkAdapters({
        Link("lo", 1, 6, true),
        Link("eth0", 2),
        Link("eth1", 3),
        Link("eth2", 4),
        Link("eth3", 5),
        Address6("lo", kLoopback6),
        Address6("eth0", kLinkLocal),
        Address6("eth0", kGlobal),
        Address6("eth1", kLinkLocal),
        Address6("eth2", kUniqueLocal),
        Address6("eth3", kLinkLocal),
        Address("eth3", {198, 18, 0, 1}),
    });
    ASSERT_EQ(Names(adapters), (std::vector<std::string>{"eth0", "eth2", "eth3"}));
    EXPECT_EQ(adapters[0].m_ipv6Address, kGlobal);
    EXPECT_EQ(adapters[0].m_address, (std::array<std::uint8_t, 4>{}));
    EXPECT_EQ(adapters[1].m_ipv6Address, kUniqueLocal);
    EXPECT_EQ(adapters[2].m_ipv6Address, (std::array<std::uint8_t, 16>{}));
    EXPECT_EQ(adapters[2].m_address, (std::array<std::uint8_t, 4>{198, 18, 0, 1}));
}

TEST(AdapterSelection, ComesInInterfaceIndexOrderWhateverTheAddressOrder)
{
    auto adapters = SelectNetworkAdapters({
        Address("wlan0", {198, 18, 2, 1}),
        Address("eth0", {198, 18, 0, 1}),
        Address("br0", {198, 18, 1, 1}),
        Link("wlan0", 7),
        Link("eth0", 2),
        Link("br0", 5),
    });
    EXPECT_EQ(Names(adapters), (std::vector<std::string>{"eth0", "br0", "wlan0"}));
}

TEST(AdapterSelection, AnAddressWithoutItsInterfaceIsIgnored)
{
    EXPECT_TRUE(SelectNetworkAdapters({Address("gone0", {198, 18, 0, 1})}).empty());
}

// The system's own list, in a namespace of the test's: the veth end is
// listed; loopback, a tunnel (no hardware address) and a second label of
// the veth end's are not, nor a second veth end without an IPv4 address.
TEST(AdapterListing, ListsOnlyUsableAdaptersOfTheNamespace)
{
    ZK_REQUIRE_ROOT();
    test::CVethPair net;
    ASSERT_TRUE(net.Ok()) << net.Error();
    test::CNetns& ns = net.Watched();
    ASSERT_TRUE(ns.Ip({"tuntap", "add", "dev", "zktun0", "mode", "tun"})) << ns.Error();
    ASSERT_TRUE(ns.Ip({"addr", "add", "198.18.1.1/24", "dev", "zktun0"})) << ns.Error();
    ASSERT_TRUE(ns.Ip({"link", "set", "zktun0", "up"})) << ns.Error();
    ASSERT_TRUE(ns.Ip({"addr", "add", "198.18.0.3/30", "dev", "zkcap0", "label", "zkcap0:1"}))
        << ns.Error();
    ASSERT_TRUE(ns.Ip({"link", "add", "zkaux0", "type", "veth", "peer", "name", "zkaux1"}))
        << ns.Error();
    ASSERT_TRUE(ns.Ip({"addr", "add", "198.18.2.1/24", "dev", "zkaux0"})) << ns.Error();

    std::vector<CNetworkAdapter> adapters;
    int err = -1;
    ASSERT_TRUE(ns.Run([&] { err = ListNetworkAdapters(adapters); }));
    ASSERT_EQ(err, 0);
    ASSERT_EQ(Names(adapters), (std::vector<std::string>{"zkcap0", "zkaux0"}));
    EXPECT_EQ(adapters[0].m_address, test::CVethPair::kWatchedAddress);
    EXPECT_LT(adapters[0].m_interfaceIndex, adapters[1].m_interfaceIndex);
}

// An adapter with IPv6 addresses only is listed by its global address; one
// with a link-local address alone is not.
TEST(AdapterListing, ListsAnAdapterWithOnlyIpv6Addresses)
{
    ZK_REQUIRE_ROOT();
    test::CVethPair net(1500, test::CVethFamilies::kIpv6);
    ASSERT_TRUE(net.Ok()) << net.Error();
    test::CNetns& ns = net.Watched();
    ASSERT_TRUE(ns.Ip({"link", "add", "zkaux0", "type", "veth", "peer", "name", "zkaux1"}))
        << ns.Error();
    ASSERT_TRUE(ns.Ip({"addr", "add", "fe80::7/64", "dev", "zkaux0", "nodad"})) << ns.Error();

    std::vector<CNetworkAdapter> adapters;
    int err = -1;
    ASSERT_TRUE(ns.Run([&] { err = ListNetworkAdapters(adapters); }));
    ASSERT_EQ(err, 0);
    ASSERT_EQ(Names(adapters), std::vector<std::string>{"zkcap0"});
    EXPECT_EQ(adapters[0].m_ipv6Address, test::CVethPair::kWatchedAddress6);
    EXPECT_EQ(adapters[0].m_address, (std::array<std::uint8_t, 4>{}));
}

} // namespace
} // namespace zk
