#include "support/netns.h"

#include "support/child_process.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace zk::test {
namespace {

constexpr const char* kPrefix = "zkns";
constexpr const char* kNetnsFolder = "/run/netns";

std::string JoinArgs(const std::vector<std::string>& args)
{
    std::string line;
    for (const std::string& arg : args)
        line += (line.empty() ? "" : " ") + arg;
    return line;
}

// Deletes namespaces of this naming whose process no longer runs.
void DeleteStaleNamespaces()
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(kNetnsFolder, ignored)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(kPrefix, 0) != 0)
            continue;
        long pid = std::strtol(name.c_str() + std::strlen(kPrefix), nullptr, 10);
        if (pid <= 0 || pid == getpid() || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        RunProcess({"ip", "netns", "delete", name});
    }
}

std::string MacText(const MacAddress& mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

} // namespace

std::string AddressText(const std::array<std::uint8_t, 4>& address)
{
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
           std::to_string(address[2]) + "." + std::to_string(address[3]);
}

std::string AddressText(const std::array<std::uint8_t, 16>& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, address.data(), text, sizeof text);
    return text;
}

CNetns::CNetns(const std::string& role, bool ipv6)
{
    static std::once_flag sweep;
    std::call_once(sweep, DeleteStaleNamespaces);
    static std::atomic<unsigned> counter{0};
    m_name = kPrefix + std::to_string(getpid()) + "-" + std::to_string(counter++) + role;
    if (!Command({"ip", "netns", "add", m_name}))
        return;
    m_created = true;
    std::string disable = ipv6 ? "0" : "1";
    if (Exec({"sysctl", "-q", "-w", "net.ipv6.conf.all.disable_ipv6=" + disable,
              "net.ipv6.conf.default.disable_ipv6=" + disable}))
        Ip({"link", "set", "lo", "up"});
}

CNetns::~CNetns()
{
    if (m_created)
        RunProcess({"ip", "netns", "delete", m_name});
}

bool CNetns::Command(const std::vector<std::string>& args)
{
    CProcessResult result = RunProcess(args);
    if (result.exitCode == 0)
        return true;
    if (m_error.empty())
        m_error =
            JoinArgs(args) + " failed (" + std::to_string(result.exitCode) + "): " + result.err;
    return false;
}

bool CNetns::Ip(const std::vector<std::string>& args)
{
    std::vector<std::string> line{"ip", "-n", m_name};
    line.insert(line.end(), args.begin(), args.end());
    return Command(line);
}

bool CNetns::Exec(const std::vector<std::string>& args)
{
    return Command(ExecArgs(args));
}

std::vector<std::string> CNetns::ExecArgs(const std::vector<std::string>& args) const
{
    std::vector<std::string> line{"ip", "netns", "exec", m_name};
    line.insert(line.end(), args.begin(), args.end());
    return line;
}

bool CNetns::Run(const std::function<void()>& fn) const
{
    bool entered = false;
    std::thread runner([&] {
        int fd = open((std::string(kNetnsFolder) + "/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        entered = setns(fd, CLONE_NEWNET) == 0;
        close(fd);
        if (entered)
            fn();
    });
    runner.join();
    return entered;
}

CVethPair::CVethPair(unsigned mtu, CVethFamilies families)
    : m_watched("w", families != CVethFamilies::kIpv4),
      m_peer("p", families != CVethFamilies::kIpv4)
{
    if (!m_watched.Ok() || !m_peer.Ok())
        return;
    std::string mtuText = std::to_string(mtu);
    // Both ends are made inside their namespaces, so nothing ever appears in
    // the machine's own.
    CProcessResult made = RunProcess({"ip",
                                      "-n",
                                      m_watched.Name(),
                                      "link",
                                      "add",
                                      kWatchedName,
                                      "address",
                                      MacText(kWatchedMac),
                                      "mtu",
                                      mtuText,
                                      "type",
                                      "veth",
                                      "peer",
                                      "name",
                                      kPeerName,
                                      "netns",
                                      m_peer.Name(),
                                      "address",
                                      MacText(kPeerMac),
                                      "mtu",
                                      mtuText});
    if (made.exitCode != 0) {
        m_error = "cannot make the veth pair: " + made.err;
        return;
    }
    bool ipv4 = families != CVethFamilies::kIpv6;
    bool ipv6 = families != CVethFamilies::kIpv4;
    bool ok = true;
    if (ipv4)
        ok = m_watched.Ip(
                 {"addr", "add", AddressText(kWatchedAddress) + "/30", "dev", kWatchedName}) &&
             m_peer.Ip({"addr", "add", AddressText(kPeerAddress) + "/30", "dev", kPeerName});
    if (ok && ipv6)
        ok = m_watched.Ip({"link", "set", kWatchedName, "addrgenmode", "none"}) &&
             m_peer.Ip({"link", "set", kPeerName, "addrgenmode", "none"}) &&
             m_watched.Ip({"addr", "add", AddressText(kWatchedAddress6) + "/64", "dev",
                           kWatchedName, "nodad"}) &&
             m_peer.Ip(
                 {"addr", "add", AddressText(kPeerAddress6) + "/64", "dev", kPeerName, "nodad"});
    ok = ok && m_watched.Ip({"link", "set", kWatchedName, "up"}) &&
         m_peer.Ip({"link", "set", kPeerName, "up"});
    (void)ok;
}

std::string CVethPair::Error() const
{
    if (!m_error.empty())
        return m_error;
    return m_watched.Ok() ? m_peer.Error() : m_watched.Error();
}

int RawTcpSocketIn(const CNetns& ns)
{
    int fd = -1;
    ns.Run([&] { fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_TCP); });
    int fragment = IP_PMTUDISC_DONT;
    if (fd >= 0)
        setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &fragment, sizeof fragment);
    return fd;
}

} // namespace zk::test
