#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zk::test {

// A network namespace of the test's own, named after the test process so
// that parallel runs never meet, with loopback up and IPv6 off (so that its
// links stay quiet unless the test sends something) unless asked for. The
// destructor deletes it and everything in it; namespaces a crashed earlier
// run left behind are deleted when the first one of a process is made.
class CNetns
{
public:
    explicit CNetns(const std::string& role, bool ipv6 = false);
    ~CNetns();
    CNetns(const CNetns&) = delete;
    CNetns& operator=(const CNetns&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    const std::string& Name() const { return m_name; }

    // Runs `ip -n <name> args...`; false (and Error() says why) on failure.
    bool Ip(const std::vector<std::string>& args);

    // Runs a program inside the namespace: `ip netns exec <name> args...`.
    bool Exec(const std::vector<std::string>& args);

    // The command line that runs args inside the namespace.
    std::vector<std::string> ExecArgs(const std::vector<std::string>& args) const;

    // Runs fn on a thread that has entered the namespace. Sockets and
    // threads it creates belong to the namespace, even when used from
    // another thread later. False when the namespace could not be entered.
    bool Run(const std::function<void()>& fn) const;

private:
    bool Command(const std::vector<std::string>& args);

    std::string m_name;
    std::string m_error;
    bool m_created = false;
};

using MacAddress = std::array<std::uint8_t, 6>;

// The address families of a veth pair.
enum class CVethFamilies
{
    kIpv4,
    kDualStack,
    kIpv6,
};

// Two namespaces joined by a veth pair: the watched end "zkcap0" with
// 198.18.0.1/30 and the peer end "zkpeer0" with 198.18.0.2/30, both up,
// with fixed hardware addresses and the given MTU. With IPv6 they have
// 2001:2::1/64 and 2001:2::2/64 instead or as well, usable at once (no
// duplicate address detection) and without link-local addresses, so that
// the link stays quiet unless the test sends something.
class CVethPair
{
public:
    static constexpr std::array<std::uint8_t, 16> kWatchedAddress6{0x20, 0x01, 0, 2, 0, 0, 0, 0,
                                                                   0,    0,    0, 0, 0, 0, 0, 1};
    static constexpr std::array<std::uint8_t, 16> kPeerAddress6{0x20, 0x01, 0, 2, 0, 0, 0, 0,
                                                                0,    0,    0, 0, 0, 0, 0, 2};
    static constexpr const char* kWatchedName = "zkcap0";
    static constexpr const char* kPeerName = "zkpeer0";
    static constexpr std::array<std::uint8_t, 4> kWatchedAddress{198, 18, 0, 1};
    static constexpr std::array<std::uint8_t, 4> kPeerAddress{198, 18, 0, 2};
    static constexpr MacAddress kWatchedMac{0x02, 0x5a, 0x4b, 0x00, 0x00, 0x01};
    static constexpr MacAddress kPeerMac{0x02, 0x5a, 0x4b, 0x00, 0x00, 0x02};

    explicit CVethPair(unsigned mtu = 1500, CVethFamilies families = CVethFamilies::kIpv4);

    bool Ok() const { return m_error.empty() && m_watched.Ok() && m_peer.Ok(); }
    std::string Error() const;

    CNetns& Watched() { return m_watched; }
    CNetns& Peer() { return m_peer; }

private:
    CNetns m_watched;
    CNetns m_peer;
    std::string m_error;
};

// Dotted text of an IPv4 address.
std::string AddressText(const std::array<std::uint8_t, 4>& address);
// The text of an IPv6 address (RFC 5952), without brackets.
std::string AddressText(const std::array<std::uint8_t, 16>& address);

// A raw IPv4 socket of the TCP protocol made in the namespace: the kernel
// writes the IP header and fragments what exceeds the MTU. -1 when it
// cannot be made.
int RawTcpSocketIn(const CNetns& ns);

} // namespace zk::test
