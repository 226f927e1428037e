// The capture thread on a real packet socket, in network namespaces of the
// test's own joined by a veth pair.

#include "capture/zarumate_sock.h"
#include "platform/capture_socket.h"
#include "platform/text_convert.h"
#include "support/microblog_page.h"
#include "support/netns.h"
#include "support/packet_builder.h"
#include "support/test_env.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstring>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <memory>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::CNetns;
using test::CVethPair;
using test::RawTcpSocketIn;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kPort = 9; // discard: nobody answers
// How long the test waits for anything that should happen at once: only a
// hang takes this long, however busy the machine.
constexpr auto kPatience = 60s;
// A quiet run looks at its stop flag at least every 100 ms; twenty times
// that, so that only a run that stops looking fails.
constexpr auto kQuietStopLimit = 2s;
constexpr std::uint16_t kOtherEtherType = 0x88B5; // local experimental

// Records the capture thread's reports.
class CRecordingClient : public CZarumateSockClient
{
public:
    void OnSockStarted() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_started;
        m_changed.notify_all();
    }
    void OnSockStopped() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_stopped;
        m_stoppedAt = Clock::now();
        m_changed.notify_all();
    }
    void OnZarumateFound(const CZarumateDataPtr& data) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_found.push_back(data);
        m_changed.notify_all();
    }
    bool WaitForFound()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, kPatience, [&] { return !m_found.empty(); });
    }
    std::vector<CZarumateDataPtr> Found()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_found;
    }

    bool WaitForStarted(int count = 1)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, kPatience, [&] { return m_started >= count; });
    }
    bool WaitForStopped(int count = 1)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, kPatience, [&] { return m_stopped >= count; });
    }
    int Started()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_started;
    }
    int Stopped()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_stopped;
    }
    Clock::time_point StoppedAt()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_stoppedAt;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_started = 0;
    int m_stopped = 0;
    Clock::time_point m_stoppedAt;
    std::vector<CZarumateDataPtr> m_found;
};

// A payload that names itself, so the test finds it among other traffic.
Bytes Payload(const std::string& tag, std::size_t size)
{
    Bytes payload(size);
    for (std::size_t i = 0; i < size; ++i)
        payload[i] = static_cast<std::uint8_t>('a' + i % 26);
    std::memcpy(payload.data(), tag.data(), std::min(tag.size(), size));
    return payload;
}

bool Contains(const Bytes& datagram, const std::string& tag)
{
    return std::search(datagram.begin(), datagram.end(), tag.begin(), tag.end()) != datagram.end();
}

std::uint16_t Read16(const Bytes& data, std::size_t at)
{
    return static_cast<std::uint16_t>(data[at] << 8 | data[at + 1]);
}

// The payload goes after eight bytes of its own (where a UDP header would
// be), so a datagram is 28 bytes plus the payload.
constexpr std::size_t kLeadBytes = 8;

bool SendRaw(int fd, const std::array<std::uint8_t, 4>& to, const Bytes& payload)
{
    Bytes body(kLeadBytes, 0);
    body.insert(body.end(), payload.begin(), payload.end());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_addr, to.data(), 4);
    return sendto(fd, body.data(), body.size(), 0, reinterpret_cast<sockaddr*>(&address),
                  sizeof address) == static_cast<ssize_t>(body.size());
}

// A UDP socket made in a namespace, for traffic the capture must shed.
int UdpSocketIn(const CNetns& ns)
{
    int fd = -1;
    ns.Run([&] { fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
    return fd;
}

bool SendUdp(int fd, const std::array<std::uint8_t, 4>& to, const Bytes& payload)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPort);
    std::memcpy(&address.sin_addr, to.data(), 4);
    return sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&address),
                  sizeof address) == static_cast<ssize_t>(payload.size());
}

// A UDP datagram with a zero checksum (allowed over IPv4, RFC 768), or the
// same bytes under the TCP protocol number.
Bytes UdpDatagram(const std::array<std::uint8_t, 4>& from, const std::array<std::uint8_t, 4>& to,
                  const Bytes& payload, std::uint8_t protocol = test::kIpProtocolTcp)
{
    std::size_t length = 8 + payload.size();
    Bytes udp(length);
    udp[0] = 0x9c, udp[1] = 0x40; // port 40000
    udp[3] = kPort;
    udp[4] = static_cast<std::uint8_t>(length >> 8);
    udp[5] = static_cast<std::uint8_t>(length);
    std::copy(payload.begin(), payload.end(), udp.begin() + 8);
    test::CIpv4Fields ip;
    ip.source = from;
    ip.destination = to;
    ip.protocol = protocol;
    return test::BuildIpv4(ip, udp);
}

// Sends a frame of any protocol to any hardware address from a namespace's
// interface, past the namespace's own IP stack.
bool SendFrame(const CNetns& ns, const std::string& interfaceName, const test::MacAddress& to,
               std::uint16_t etherType, const Bytes& packet)
{
    bool sent = false;
    ns.Run([&] {
        int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        sockaddr_ll address{};
        address.sll_family = AF_PACKET;
        address.sll_protocol = htons(etherType);
        address.sll_ifindex = static_cast<int>(if_nametoindex(interfaceName.c_str()));
        address.sll_halen = 6;
        std::memcpy(address.sll_addr, to.data(), 6);
        sent = sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&address),
                      sizeof address) == static_cast<ssize_t>(packet.size());
        close(fd);
    });
    return sent;
}

const Bytes* FindTagged(const std::vector<Bytes>& datagrams, const std::string& tag)
{
    for (const Bytes& datagram : datagrams) {
        if (Contains(datagram, tag))
            return &datagram;
    }
    return nullptr;
}

class CaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_ROOT();
        m_sock.SetClient(&m_client);
        m_sock.SetCaptureHelperPath(ZK_CAPTURE_PATH);
        m_sock.SetDatagramTap([this](const std::uint8_t* data, std::size_t length) {
            if (m_tapThrows)
                throw std::runtime_error("tap");
            std::unique_lock<std::mutex> guard(m_lock);
            m_datagrams.emplace_back(data, data + length);
            m_arrived.notify_all();
            // Holds the capture thread back, inside its block, while asked to.
            if (m_holding && Contains(m_datagrams.back(), kHoldTag)) {
                m_held = true;
                m_arrived.wait(guard, [&] { return !m_holding; });
            }
        });
    }

    void TearDown() override
    {
        Release();
        m_sock.SetTerminate(true);
        m_sock.Wait();
        for (int fd : m_sockets)
            close(fd);
    }

    // Makes the veth pair with this MTU.
    bool MakeNet(unsigned mtu = 1500, test::CVethFamilies families = test::CVethFamilies::kIpv4)
    {
        m_net = std::make_unique<CVethPair>(mtu, families);
        return m_net->Ok();
    }

    // Starts the capture thread inside a namespace: a thread inherits the
    // namespace of the thread that creates it.
    bool StartIn(const CNetns& ns, const std::wstring& adapter = L"zkcap0")
    {
        bool started = false;
        m_sock.SetAdapterName(adapter);
        ns.Run([&] { started = m_sock.Start(); });
        return started;
    }

    // The capture keeps TCP only, so the test's datagrams are IPv4 with the
    // TCP protocol number from a raw socket. The peer's TCP drops them
    // (their checksum is wrong), so nobody answers.
    int Raw(const CNetns& ns)
    {
        int fd = RawTcpSocketIn(ns);
        if (fd >= 0)
            m_sockets.push_back(fd);
        return fd;
    }

    int Udp(const CNetns& ns)
    {
        int fd = UdpSocketIn(ns);
        if (fd >= 0)
            m_sockets.push_back(fd);
        return fd;
    }

    // A UDP socket of the namespace that receives what is sent to its port.
    int UdpReceiver(const CNetns& ns)
    {
        int fd = Udp(ns);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(kPort);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return -1;
        return fd;
    }

    // Sends a datagram of its own from the peer and waits until the capture
    // has seen it. The capture reads its socket in order and hands each
    // datagram to the chain before it takes the next, so everything that
    // reached the watched end before has then been dealt with.
    bool SendMarkerAndWait(const std::string& tag)
    {
        int fd = Raw(m_net->Peer());
        return fd >= 0 && SendRaw(fd, CVethPair::kWatchedAddress, Payload(tag, 32)) &&
               WaitForDatagrams(
                   [&](const std::vector<Bytes>& seen) { return FindTagged(seen, tag); });
    }

    // Waits until the datagrams seen so far satisfy done.
    template <class F> bool WaitForDatagrams(F done)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_arrived.wait_for(guard, kPatience, [&] { return done(m_datagrams); });
    }

    std::vector<Bytes> Datagrams()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_datagrams;
    }

    // Lets a held capture thread go on.
    void Release()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_holding = false;
        m_arrived.notify_all();
    }

    void StopAndWait()
    {
        m_sock.SetStop(true);
        m_sock.Wait();
    }

    std::unique_ptr<CVethPair> m_net;
    std::vector<int> m_sockets;
    CRecordingClient m_client;
    CZarumateSock m_sock;
    std::atomic<bool> m_tapThrows{false};
    static constexpr const char* kHoldTag = "hold-here";
    bool m_holding = false; // under m_lock
    bool m_held = false;
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<Bytes> m_datagrams;
};

// Every datagram is IPv4 and exactly as long as its header says: nothing cut
// short by a small buffer, nothing of the link layer in front.
void ExpectWholeIpv4(const std::vector<Bytes>& datagrams)
{
    for (const Bytes& datagram : datagrams) {
        ASSERT_GE(datagram.size(), 20u);
        EXPECT_EQ(datagram[0] >> 4, 4);
        EXPECT_EQ(Read16(datagram, 2), datagram.size());
    }
}

TEST_F(CaptureTest, DeliversWhatThePeerSendsWholeIncludingLargeAndFragmentedDatagrams)
{
    ASSERT_TRUE(MakeNet(9000)) << m_net->Error();
    ASSERT_TRUE(StartIn(m_net->Watched()));
    ASSERT_TRUE(m_client.WaitForStarted());
    EXPECT_EQ(m_sock.GetAdapterList(), std::vector<std::wstring>{L"zkcap0"});

    int fd = Raw(m_net->Peer());
    ASSERT_GE(fd, 0);
    Bytes small = Payload("small-one", 100);
    Bytes large = Payload("large-one", 8000);  // one datagram, twice the first buffer
    Bytes split = Payload("split-one", 20000); // three fragments of up to 9000 bytes
    ASSERT_TRUE(SendRaw(fd, CVethPair::kWatchedAddress, small));
    ASSERT_TRUE(SendRaw(fd, CVethPair::kWatchedAddress, large));
    ASSERT_TRUE(SendRaw(fd, CVethPair::kWatchedAddress, split));

    // The fragments of the third datagram carry 20008 bytes after their
    // IP headers in all.
    auto fragmentBytes = [](const std::vector<Bytes>& datagrams) {
        std::size_t total = 0;
        for (const Bytes& d : datagrams) {
            if (d.size() >= 20 && (Read16(d, 6) & 0x3FFF) != 0)
                total += d.size() - 20;
        }
        return total;
    };
    ASSERT_TRUE(WaitForDatagrams([&](const std::vector<Bytes>& seen) {
        return FindTagged(seen, "small-one") && FindTagged(seen, "large-one") &&
               fragmentBytes(seen) == 8 + split.size();
    })) << Datagrams().size()
        << " datagrams";
    StopAndWait();

    std::vector<Bytes> seen = Datagrams();
    ExpectWholeIpv4(seen);
    const Bytes* smallSeen = FindTagged(seen, "small-one");
    ASSERT_EQ(smallSeen->size(), 28 + small.size());
    EXPECT_EQ(Bytes(smallSeen->begin() + 28, smallSeen->end()), small);
    const Bytes* largeSeen = FindTagged(seen, "large-one");
    ASSERT_EQ(largeSeen->size(), 28 + large.size());
    EXPECT_EQ(Bytes(largeSeen->begin() + 28, largeSeen->end()), large);

    // The fragments, put together by their offsets, are the whole
    // datagram; the last one has no more-fragments flag.
    Bytes rebuilt(8 + split.size());
    std::size_t covered = 0;
    bool sawLast = false;
    for (const Bytes& d : seen) {
        std::uint16_t field = Read16(d, 6);
        if ((field & 0x3FFF) == 0)
            continue;
        std::size_t offset = (field & 0x1FFF) * 8u;
        ASSERT_LE(offset + d.size() - 20, rebuilt.size());
        std::copy(d.begin() + 20, d.end(), rebuilt.begin() + static_cast<long>(offset));
        covered += d.size() - 20;
        sawLast = sawLast || (field & 0x2000) == 0;
    }
    EXPECT_EQ(covered, rebuilt.size());
    EXPECT_TRUE(sawLast);
    EXPECT_EQ(Bytes(rebuilt.begin() + 8, rebuilt.end()), split);

    // The chain got every one of them.
    EXPECT_EQ(m_sock.GetDecodeStats().m_packets, seen.size());
    EXPECT_EQ(m_sock.GetKernelDrops(), 0u);
    EXPECT_EQ(m_sock.GetErr().GetId(), 0u);
}

TEST_F(CaptureTest, DeliversWhatTheWatchedEndSends)
{
    ASSERT_TRUE(MakeNet(9000)) << m_net->Error();
    ASSERT_TRUE(StartIn(m_net->Watched()));
    ASSERT_TRUE(m_client.WaitForStarted());

    int fd = Raw(m_net->Watched());
    ASSERT_GE(fd, 0);
    Bytes small = Payload("outgoing-small", 300);
    Bytes large = Payload("outgoing-large", 6000);
    ASSERT_TRUE(SendRaw(fd, CVethPair::kPeerAddress, small));
    ASSERT_TRUE(SendRaw(fd, CVethPair::kPeerAddress, large));
    ASSERT_TRUE(WaitForDatagrams([](const std::vector<Bytes>& seen) {
        return FindTagged(seen, "outgoing-small") && FindTagged(seen, "outgoing-large");
    }));
    StopAndWait();

    std::vector<Bytes> seen = Datagrams();
    ExpectWholeIpv4(seen);
    for (const char* tag : {"outgoing-small", "outgoing-large"}) {
        const Bytes* datagram = FindTagged(seen, tag);
        EXPECT_TRUE(std::equal(CVethPair::kWatchedAddress.begin(), CVethPair::kWatchedAddress.end(),
                               datagram->begin() + 12))
            << tag;
    }
    EXPECT_EQ(FindTagged(seen, "outgoing-large")->size(), 28 + large.size());
}

TEST_F(CaptureTest, IgnoresFramesForOtherHostsAndOtherProtocols)
{
    ASSERT_TRUE(MakeNet()) << m_net->Error();
    ASSERT_TRUE(StartIn(m_net->Watched()));
    ASSERT_TRUE(m_client.WaitForStarted());

    const test::MacAddress someoneElse{0x02, 0x5a, 0x4b, 0x00, 0x00, 0x99};
    auto datagram = [](const std::string& tag) {
        return UdpDatagram(CVethPair::kPeerAddress, CVethPair::kWatchedAddress, Payload(tag, 64));
    };
    CNetns& peer = m_net->Peer();
    ASSERT_TRUE(SendFrame(peer, CVethPair::kPeerName, someoneElse, 0x0800, datagram("not-for-us")));
    ASSERT_TRUE(SendFrame(peer, CVethPair::kPeerName, CVethPair::kWatchedMac, kOtherEtherType,
                          datagram("not-ipv4")));
    // UDP is shed in the kernel (a video call, QUIC), framed by hand and
    // sent from a socket.
    ASSERT_TRUE(SendFrame(peer, CVethPair::kPeerName, CVethPair::kWatchedMac, 0x0800,
                          UdpDatagram(CVethPair::kPeerAddress, CVethPair::kWatchedAddress,
                                      Payload("not-tcp", 64), test::kIpProtocolUdp)));
    int udp = UdpSocketIn(peer);
    ASSERT_GE(udp, 0);
    m_sockets.push_back(udp);
    ASSERT_TRUE(SendUdp(udp, CVethPair::kWatchedAddress, Payload("udp-socket", 3000)));
    ASSERT_TRUE(
        SendFrame(peer, CVethPair::kPeerName, CVethPair::kWatchedMac, 0x0800, datagram("for-us")));
    // The link keeps the order, so once the last frame is seen the others
    // have been dealt with.
    ASSERT_TRUE(WaitForDatagrams(
        [](const std::vector<Bytes>& seen) { return FindTagged(seen, "for-us") != nullptr; }));
    StopAndWait();

    std::vector<Bytes> seen = Datagrams();
    EXPECT_EQ(FindTagged(seen, "not-for-us"), nullptr);
    EXPECT_EQ(FindTagged(seen, "not-ipv4"), nullptr);
    EXPECT_EQ(FindTagged(seen, "not-tcp"), nullptr);
    EXPECT_EQ(FindTagged(seen, "udp-socket"), nullptr);
    ExpectWholeIpv4(seen);
}

// The kernel filter keeps IPv6 whose first next header is TCP or an
// extension header, whatever follows it (the datagram layer decides), and
// sheds the rest of IPv6 as it does for IPv4.
TEST_F(CaptureTest, KeepsIpv6TcpAndExtensionHeadersAndShedsTheRest)
{
    ASSERT_TRUE(MakeNet(1500, test::CVethFamilies::kDualStack)) << m_net->Error();
    ASSERT_TRUE(StartIn(m_net->Watched()));
    ASSERT_TRUE(m_client.WaitForStarted());

    auto datagram = [](const std::string& tag, std::uint8_t next,
                       std::vector<test::CIpv6Extension> extensions = {}) {
        test::CIpv6Fields fields;
        fields.source = CVethPair::kPeerAddress6;
        fields.destination = CVethPair::kWatchedAddress6;
        fields.extensions = std::move(extensions);
        return test::BuildIpv6(fields, next, Payload(tag, 64));
    };
    constexpr std::uint8_t kTcp = test::kIpProtocolTcp;
    const std::vector<std::pair<std::string, Bytes>> kept{
        {"v6-tcp", datagram("v6-tcp", kTcp)},
        {"v6-hop", datagram("v6-hop", kTcp, {{test::kIpv6HopByHop, {}}})},
        {"v6-route", datagram("v6-route", kTcp, {{test::kIpv6Routing, Bytes(6, 0)}})},
        {"v6-frag", datagram("v6-frag", kTcp, {test::FragmentHeader(8, true, 1)})},
        {"v6-auth", datagram("v6-auth", kTcp, {{test::kIpv6Authentication, Bytes(10, 0)}})},
        {"v6-dest-udp",
         datagram("v6-dest-udp", test::kIpProtocolUdp, {{test::kIpv6DestinationOptions, {}}})},
    };
    const std::vector<std::pair<std::string, Bytes>> shed{
        {"v6-udp", datagram("v6-udp", test::kIpProtocolUdp)},
        {"v6-esp", datagram("v6-esp", test::kIpv6Esp)},
        {"v6-none", datagram("v6-none", test::kIpv6NoNextHeader)},
    };
    CNetns& peer = m_net->Peer();
    const test::MacAddress someoneElse{0x02, 0x5a, 0x4b, 0x00, 0x00, 0x99};
    ASSERT_TRUE(SendFrame(peer, CVethPair::kPeerName, someoneElse, 0x86DD,
                          datagram("v6-not-for-us", kTcp)));
    for (const auto& [tag, bytes] : shed)
        ASSERT_TRUE(SendFrame(peer, CVethPair::kPeerName, CVethPair::kWatchedMac, 0x86DD, bytes));
    for (const auto& [tag, bytes] : kept)
        ASSERT_TRUE(SendFrame(peer, CVethPair::kPeerName, CVethPair::kWatchedMac, 0x86DD, bytes));
    ASSERT_TRUE(WaitForDatagrams(
        [](const std::vector<Bytes>& seen) { return FindTagged(seen, "v6-dest-udp") != nullptr; }));
    StopAndWait();

    std::vector<Bytes> seen = Datagrams();
    for (const auto& [tag, bytes] : kept) {
        const Bytes* found = FindTagged(seen, tag);
        ASSERT_NE(found, nullptr) << tag;
        EXPECT_EQ(*found, bytes) << tag;
    }
    for (const auto& [tag, bytes] : shed)
        EXPECT_EQ(FindTagged(seen, tag), nullptr) << tag;
    EXPECT_EQ(FindTagged(seen, "v6-not-for-us"), nullptr);
}

TEST_F(CaptureTest, WatchesOnlyTheAdapterOfTheChosenName)
{
    ASSERT_TRUE(MakeNet()) << m_net->Error();
    CNetns& watched = m_net->Watched();
    CNetns& peer = m_net->Peer();
    // A second link between the two namespaces: zkaux0 198.18.2.1 to zkaux1.
    ASSERT_TRUE(watched.Ip(
        {"link", "add", "zkaux0", "type", "veth", "peer", "name", "zkaux1", "netns", peer.Name()}))
        << watched.Error();
    ASSERT_TRUE(watched.Ip({"addr", "add", "198.18.2.1/24", "dev", "zkaux0"})) << watched.Error();
    ASSERT_TRUE(peer.Ip({"addr", "add", "198.18.2.2/24", "dev", "zkaux1"})) << peer.Error();
    ASSERT_TRUE(watched.Ip({"link", "set", "zkaux0", "up"})) << watched.Error();
    ASSERT_TRUE(peer.Ip({"link", "set", "zkaux1", "up"})) << peer.Error();

    ASSERT_TRUE(StartIn(watched, L"zkaux0"));
    ASSERT_TRUE(m_client.WaitForStarted());
    EXPECT_EQ(m_sock.GetAdapterList(), (std::vector<std::wstring>{L"zkcap0", L"zkaux0"}));
    EXPECT_EQ(m_sock.GetAdapterCount(), 2);
    EXPECT_EQ(m_sock.GetAdapterIndex(), 1);

    int fd = Raw(peer);
    ASSERT_GE(fd, 0);
    int receiver = UdpReceiver(watched);
    ASSERT_GE(receiver, 0);
    ASSERT_TRUE(SendRaw(fd, CVethPair::kWatchedAddress, Payload("on-the-other-link", 64)));
    // A packet socket gets a frame before the IP stack does, and a link
    // keeps its order: once a UDP datagram sent after the first one has
    // arrived, a capture wrongly watching its link has queued that one ahead
    // of the second.
    int udp = Udp(peer);
    ASSERT_GE(udp, 0);
    ASSERT_TRUE(SendUdp(udp, CVethPair::kWatchedAddress, Payload("sync", 16)));
    pollfd arrived{receiver, POLLIN, 0};
    ASSERT_EQ(poll(&arrived, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())), 1);
    ASSERT_TRUE(SendRaw(fd, {198, 18, 2, 1}, Payload("on-the-chosen-link", 64)));
    ASSERT_TRUE(WaitForDatagrams([](const std::vector<Bytes>& seen) {
        return FindTagged(seen, "on-the-chosen-link") != nullptr;
    }));
    StopAndWait();
    EXPECT_EQ(FindTagged(Datagrams(), "on-the-other-link"), nullptr);
}

TEST_F(CaptureTest, TakesTheFirstAdapterWhenNoneHasTheExactName)
{
    ASSERT_TRUE(MakeNet()) << m_net->Error();
    CNetns& watched = m_net->Watched();
    ASSERT_TRUE(watched.Ip({"link", "add", "zkaux0", "type", "veth", "peer", "name", "zkaux1"}));
    ASSERT_TRUE(watched.Ip({"addr", "add", "198.18.2.1/24", "dev", "zkaux0"}));

    int run = 0;
    for (const std::wstring& name :
         {std::wstring(), std::wstring(L"ZKAUX0"), std::wstring(L"zk")}) {
        ++run;
        ASSERT_TRUE(StartIn(watched, name));
        ASSERT_TRUE(m_client.WaitForStarted(run));
        EXPECT_EQ(m_sock.GetAdapterIndex(), 0) << "name '" << WideToUtf8(name) << "'";
        EXPECT_EQ(m_sock.GetAdapterCount(), 2);
        StopAndWait();
    }
}

TEST_F(CaptureTest, WaitsOnAnAdapterThatIsDownUntilItComesUp)
{
    ASSERT_TRUE(MakeNet()) << m_net->Error();
    CNetns& watched = m_net->Watched();
    ASSERT_TRUE(watched.Ip({"link", "set", CVethPair::kWatchedName, "down"})) << watched.Error();
    ASSERT_TRUE(StartIn(watched));
    ASSERT_TRUE(m_client.WaitForStarted());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(m_client.Stopped(), 0) << WideToUtf8(m_sock.GetErr().GetText());

    ASSERT_TRUE(watched.Ip({"link", "set", CVethPair::kWatchedName, "up"})) << watched.Error();
    int fd = Raw(m_net->Peer());
    ASSERT_GE(fd, 0);
    // The link needs a moment to carry traffic again; keep sending until a
    // datagram comes through.
    bool seen = false;
    for (auto deadline = Clock::now() + kPatience; !seen && Clock::now() < deadline;) {
        SendRaw(fd, CVethPair::kWatchedAddress, Payload("after-up", 32));
        std::unique_lock<std::mutex> guard(m_lock);
        seen =
            m_arrived.wait_for(guard, 100ms, [&] { return FindTagged(m_datagrams, "after-up"); });
    }
    EXPECT_TRUE(seen);
    StopAndWait();
    EXPECT_EQ(m_sock.GetErr().GetId(), 0u);
}

// An adapter that is removed (unplugged, its driver unloaded) ends the run
// with the system's text, so that the user can choose again; whether it was
// up or already down when it went.
TEST_F(CaptureTest, EndsWithTheSystemsTextWhenTheAdapterIsRemoved)
{
    for (bool downFirst : {false, true}) {
        SCOPED_TRACE(downFirst ? "down first" : "while up");
        int run = downFirst ? 2 : 1;
        ASSERT_TRUE(MakeNet()) << m_net->Error();
        CNetns& watched = m_net->Watched();
        ASSERT_TRUE(StartIn(watched));
        ASSERT_TRUE(m_client.WaitForStarted(run));
        if (downFirst) {
            ASSERT_TRUE(watched.Ip({"link", "set", CVethPair::kWatchedName, "down"}));
            std::this_thread::sleep_for(300ms);
            ASSERT_EQ(m_client.Stopped(), run - 1);
        }
        ASSERT_TRUE(watched.Ip({"link", "del", CVethPair::kWatchedName})) << watched.Error();
        ASSERT_TRUE(m_client.WaitForStopped(run));
        m_sock.Wait();
        EXPECT_EQ(m_sock.GetErr().GetId(), 4008u);
        EXPECT_EQ(m_sock.GetFailureCause(), EMonitorFailure::AdapterMissing);
        std::wstring text = m_sock.GetErr().GetText();
        std::wstring expected = CZarumateSock::GetSocketErrorText(ENODEV);
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), expected.size())), expected)
            << WideToUtf8(text);
    }
}

// A burst larger than the ring while the capture thread is held back: what
// did not fit is counted, not lost silently, and capture goes on.
TEST_F(CaptureTest, CountsWhatABurstBeyondTheRingLosesAndGoesOn)
{
    ASSERT_TRUE(MakeNet(9000)) << m_net->Error();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_holding = true;
    }
    ASSERT_TRUE(StartIn(m_net->Watched()));
    ASSERT_TRUE(m_client.WaitForStarted());
    // Sent from the watched end, so that no queue of the peer's can drop a
    // datagram before the capture sees it.
    int fd = Raw(m_net->Watched());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendRaw(fd, CVethPair::kPeerAddress, Payload(kHoldTag, 100)));
    {
        std::unique_lock<std::mutex> guard(m_lock);
        ASSERT_TRUE(m_arrived.wait_for(guard, kPatience, [&] { return m_held; }));
    }
    constexpr std::size_t kBurstBytes = 8900;
    const std::size_t burst =
        3 * CCaptureSocket::kBlockBytes * CCaptureSocket::kBlockCount / kBurstBytes / 2;
    Bytes payload = Payload("burst", kBurstBytes);
    std::size_t sent = 0;
    for (std::size_t i = 0; i < burst; ++i)
        sent += SendRaw(fd, CVethPair::kPeerAddress, payload) ? 1 : 0;
    EXPECT_EQ(sent, burst);
    Release();

    // Capture goes on: what the peer sends now is seen. Right after such a
    // burst a single datagram has gone missing on the way on a loaded
    // machine, so the peer sends until one arrives; a capture that stopped
    // for good sees none of them.
    int peer = Raw(m_net->Peer());
    ASSERT_GE(peer, 0);
    // Only what arrives from now on is looked at: going through the whole
    // burst again at every arrival would hold the capture thread back.
    std::size_t checked = Datagrams().size();
    auto afterBurstSeen = [&] {
        for (; checked < m_datagrams.size(); ++checked) {
            if (Contains(m_datagrams[checked], "after-burst"))
                return true;
        }
        return false;
    };
    bool goesOn = false;
    std::size_t markersSent = 0;
    for (auto deadline = Clock::now() + kPatience; !goesOn && Clock::now() < deadline;) {
        markersSent += SendRaw(peer, CVethPair::kWatchedAddress, Payload("after-burst", 100));
        std::unique_lock<std::mutex> guard(m_lock);
        goesOn = m_arrived.wait_for(guard, 200ms, afterBurstSeen);
    }
    ASSERT_TRUE(goesOn) << Datagrams().size() << " seen, " << m_sock.GetKernelDrops() << " dropped";
    std::size_t seen = 0;
    std::size_t markersSeen = 0;
    auto count = [&] {
        seen = 0;
        markersSeen = 0;
        for (const Bytes& datagram : Datagrams()) {
            bool marker = Contains(datagram, "after-burst");
            markersSeen += marker ? 1 : 0;
            seen += Contains(datagram, "burst") && !marker ? 1 : 0;
        }
        return seen + markersSeen + m_sock.GetKernelDrops() == sent + markersSent;
    };
    // The count of a marker dropped while the ring was still full comes
    // with the helper's next report, which may follow the last marker by a
    // block; a capture stopped at once would never hear of it.
    for (auto deadline = Clock::now() + kPatience; !count() && Clock::now() < deadline;)
        std::this_thread::sleep_for(50ms);
    StopAndWait();
    count();
    // Every datagram is either seen or counted as dropped, the markers too.
    EXPECT_GT(m_sock.GetKernelDrops(), 0u);
    EXPECT_EQ(seen + markersSeen + m_sock.GetKernelDrops(), sent + markersSent);
    EXPECT_EQ(m_sock.GetErr().GetId(), 0u);
}

// The whole road of a sighting over a real connection: the peer serves a
// large microblog page, which its kernel hands over in segments of up to
// 64 KB (segmentation offload), and the person is reported once.
TEST_F(CaptureTest, ReportsTheOwnerOfAPageServedOverARealConnection)
{
    ASSERT_TRUE(MakeNet()) << m_net->Error();
    ASSERT_TRUE(StartIn(m_net->Watched()));
    ASSERT_TRUE(m_client.WaitForStarted());

    int listener = -1;
    m_net->Peer().Run([&] { listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); });
    ASSERT_GE(listener, 0);
    m_sockets.push_back(listener);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    std::memcpy(&address.sin_addr, CVethPair::kPeerAddress.data(), 4);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);

    test::CMicroblogPage page;
    page.size = 150000;
    const std::string response = test::BuildResponse(test::BuildMicroblogPage(page), false);
    std::thread server([&] {
        int connection = accept(listener, nullptr, nullptr);
        if (connection < 0)
            return;
        char request[2048];
        if (recv(connection, request, sizeof request, 0) > 0) {
            for (std::size_t at = 0; at < response.size();) {
                ssize_t sent = send(connection, response.data() + at, response.size() - at, 0);
                if (sent <= 0)
                    break;
                at += static_cast<std::size_t>(sent);
            }
        }
        close(connection);
    });

    int client = -1;
    m_net->Watched().Run([&] { client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); });
    ASSERT_GE(client, 0);
    m_sockets.push_back(client);
    bool connected = connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    std::string request = "GET /someid/ HTTP/1.1\r\nHost: " + test::MicroblogHost() + "\r\n\r\n";
    bool asked = connected && send(client, request.data(), request.size(), 0) ==
                                  static_cast<ssize_t>(request.size());
    std::size_t received = 0;
    char buffer[65536];
    for (ssize_t n; asked && (n = recv(client, buffer, sizeof buffer, 0)) > 0;)
        received += static_cast<std::size_t>(n);
    server.join();
    ASSERT_TRUE(asked);
    ASSERT_EQ(received, response.size());

    ASSERT_TRUE(m_client.WaitForFound());
    // Every segment of the page has been dealt with once the capture has
    // seen a datagram sent after it; a second report would have come by then.
    ASSERT_TRUE(SendMarkerAndWait("after-the-page"));
    StopAndWait();
    std::vector<CZarumateDataPtr> found = m_client.Found();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->m_id, L"someid");
    EXPECT_EQ(found[0]->m_name, L"ざるこ");
    EXPECT_EQ(m_sock.GetKernelDrops(), 0u);
    // How large the offloaded segments came, for the record (36 KB here).
    std::size_t largest = 0;
    for (const Bytes& datagram : Datagrams())
        largest = std::max(largest, datagram.size());
    RecordProperty("largest_datagram", static_cast<int>(largest));
}

TEST(CaptureFailure, CausesAreTheRightTheAdapterOrNothingToWatch)
{
    EXPECT_EQ(CZarumateSock::ClassifyFailure(4002, EPERM), EMonitorFailure::Permission);
    EXPECT_EQ(CZarumateSock::ClassifyFailure(4005, EACCES), EMonitorFailure::Permission);
    EXPECT_EQ(CZarumateSock::ClassifyFailure(4005, ENODEV), EMonitorFailure::AdapterMissing);
    EXPECT_EQ(CZarumateSock::ClassifyFailure(4008, ENETDOWN), EMonitorFailure::AdapterMissing);
    EXPECT_EQ(CZarumateSock::ClassifyFailure(4004, 0), EMonitorFailure::NoAdapter);
    EXPECT_EQ(CZarumateSock::ClassifyFailure(4002, EAFNOSUPPORT), EMonitorFailure::Other);
    EXPECT_EQ(CZarumateSock::ClassifyFailure(4008, ENOMEM), EMonitorFailure::Other);
}

TEST_F(CaptureTest, EndsAtOnceWithoutAnyAdapter)
{
    CNetns lonely("l"); // loopback only
    ASSERT_TRUE(lonely.Ok()) << lonely.Error();
    ASSERT_TRUE(StartIn(lonely));
    ASSERT_TRUE(m_client.WaitForStopped());
    m_sock.Wait();
    EXPECT_EQ(m_client.Started(), 0);
    EXPECT_EQ(m_sock.GetErr().GetId(), 4004u);
    EXPECT_EQ(m_sock.GetErr().GetText(), L"ネットワークアドレスが1つもありません");
    EXPECT_EQ(m_sock.GetFailureCause(), EMonitorFailure::NoAdapter);
    EXPECT_EQ(m_sock.GetAdapterCount(), 0);
    EXPECT_TRUE(m_sock.GetAdapterList().empty());
}

TEST_F(CaptureTest, AStopRequestEndsAQuietRunPromptlyAndCleanly)
{
    ASSERT_TRUE(MakeNet()) << m_net->Error();
    ASSERT_TRUE(StartIn(m_net->Watched()));
    ASSERT_TRUE(m_client.WaitForStarted());
    std::this_thread::sleep_for(250ms); // well inside a wait for traffic

    EXPECT_TRUE(m_sock.Start()); // still running: starts nothing
    auto asked = Clock::now();
    m_sock.SetStop(true);
    ASSERT_TRUE(m_client.WaitForStopped());
    EXPECT_LT(m_client.StoppedAt() - asked, kQuietStopLimit);
    m_sock.Wait();
    EXPECT_EQ(m_client.Started(), 1);
    EXPECT_EQ(m_client.Stopped(), 1);
    EXPECT_EQ(m_sock.GetErr().GetId(), 0u);
    EXPECT_TRUE(m_sock.GetErr().GetText().empty());

    m_sock.SetTerminate(true);
    EXPECT_FALSE(m_sock.Start());
}

TEST_F(CaptureTest, AnExceptionOutOfTheRunEndsTheThreadWithoutTheStopReport)
{
    ASSERT_TRUE(MakeNet()) << m_net->Error();
    m_tapThrows = true;
    ASSERT_TRUE(StartIn(m_net->Watched()));
    ASSERT_TRUE(m_client.WaitForStarted());
    int fd = Raw(m_net->Peer());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendRaw(fd, CVethPair::kWatchedAddress, Payload("boom", 16)));

    auto deadline = Clock::now() + kPatience;
    while (!m_sock.IsFinished() && Clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(m_sock.GetExitCode(), -1);
    m_sock.Wait();
    EXPECT_EQ(m_client.Stopped(), 0);
}

// Without privileges (as nobody, with no capabilities) the socket cannot be
// made. The run goes in a child process, which can drop root for good.
TEST(CaptureWithoutPrivileges, FailsToCreateTheSocketWithTheSystemsText)
{
    ZK_REQUIRE_ROOT();
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        std::setlocale(LC_ALL, "C");
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0)
            _exit(3);
        CRecordingClient client;
        CZarumateSock sock;
        sock.SetClient(&client);
        sock.SetCaptureHelperPath(ZK_CAPTURE_PATH);
        sock.Run();
        std::string report =
            std::to_string(sock.GetErr().GetId()) + " " + std::to_string(client.Started()) + " " +
            std::to_string(client.Stopped()) + " " + WideToUtf8(sock.GetErr().GetText());
        ssize_t written = write(channel[1], report.data(), report.size());
        _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 4);
    }
    close(channel[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<std::size_t>(n));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(report, "4002 0 1 ソケットの作成に失敗しました - Operation not permitted");
}

TEST(SocketErrorText, SpecialCodesHaveTheirOwnTextsAndTheRestTheSystems)
{
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(CZarumateSock::GetSocketErrorText(ENOMEM), L"メモリーが足りません");
    EXPECT_EQ(CZarumateSock::GetSocketErrorText(EINVAL), L"パラメータが不正です");
    EXPECT_EQ(CZarumateSock::GetSocketErrorText(EINTR), L"中断されました");
    EXPECT_EQ(CZarumateSock::GetSocketErrorText(ETIMEDOUT), L"タイムアウトしました");
    EXPECT_EQ(CZarumateSock::GetSocketErrorText(EINPROGRESS), L"ペンディング中");
    EXPECT_EQ(CZarumateSock::GetSocketErrorText(ENETDOWN), L"Network is down");
    EXPECT_EQ(CZarumateSock::GetSocketErrorText(EPERM), L"Operation not permitted");
    EXPECT_EQ(CZarumateSock::GetSocketErrorText(4321), L"不明な WinSock エラー: 4321");
}

} // namespace
} // namespace zk
