#include "platform/capture_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/capability.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zk {
namespace {

constexpr std::size_t kRingBytes = CCaptureSocket::kBlockBytes * CCaptureSocket::kBlockCount;
// The byte of the IPv4 header that names the protocol (RFC 791, 3.1), and
// the byte of the IPv6 header that names the first next header (RFC 8200, 3).
constexpr std::uint32_t kIpProtocolOffset = 9;
constexpr std::uint32_t kIpv6NextHeaderOffset = 6;
// The IPv6 extension headers a TCP segment may come behind: hop-by-hop
// options, routing, fragment, authentication and destination options
// (RFC 8200, 4; RFC 4302).
constexpr std::uint32_t kIpv6HopByHop = 0;
constexpr std::uint32_t kIpv6Routing = 43;
constexpr std::uint32_t kIpv6Fragment = 44;
constexpr std::uint32_t kIpv6Authentication = 51;
constexpr std::uint32_t kIpv6DestinationOptions = 60;

// Sets or clears CAP_NET_RAW in the calling thread's effective set. Raising
// fails quietly when the capability is not permitted: the socket call then
// reports the missing privilege itself.
void SetCaptureCapability(bool raise)
{
    cap_t caps = cap_get_proc();
    if (!caps)
        return;
    cap_value_t netRaw = CAP_NET_RAW;
    if (cap_set_flag(caps, CAP_EFFECTIVE, 1, &netRaw, raise ? CAP_SET : CAP_CLEAR) == 0)
        cap_set_proc(caps);
    cap_free(caps);
}

// Errors that only mean there is nothing to receive now. The kernel reports
// ENETDOWN once when the socket is bound to an interface that is down, or
// when the interface goes down or is removed; the socket receives again as
// soon as a down interface comes back up, so the capture waits instead of
// ending. A removed interface is told apart by CheckInterface.
bool IsNothingToReceive(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ENETDOWN;
}

// What the kernel filter and the check of each datagram keep: IPv4 and IPv6, and
// only frames the machine itself sends or is meant to receive (its own,
// broadcast and multicast), not those an adapter overhears for other hosts.
bool IsWanted(const sockaddr_ll& from)
{
    return (from.sll_protocol == htons(ETH_P_IP) || from.sll_protocol == htons(ETH_P_IPV6)) &&
           from.sll_pkttype != PACKET_OTHERHOST;
}

std::uint32_t BlockStatus(const tpacket_block_desc* block)
{
    return __atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE);
}

} // namespace

int CCaptureSocket::Open()
{
    Close();
    // Protocol 0 registers the socket nowhere until Bind names the
    // interface, so nothing queues up before the filter and the ring are set.
    SetCaptureCapability(true);
    int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int err = errno;
    SetCaptureCapability(false);
    if (fd < 0)
        return err;
    m_fd = fd;
    m_kernelDrops = 0;
    return 0;
}

int CCaptureSocket::SetTcpFilter()
{
    // Classic BPF over the socket buffer's own fields (its packet type and
    // protocol) and the IP header, where a datagram socket's packet starts.
    // Only TCP carries the pages; shedding the rest in the kernel (video
    // calls and QUIC over UDP, above all) keeps it out of the ring. Every
    // fragment of an IPv4 datagram carries its protocol field, so fragments
    // of TCP datagrams pass too. Classic BPF has no loops, so it cannot walk
    // an IPv6 header chain: IPv6 passes when its first next header is TCP or
    // an extension header (fragments included), and the datagram layer
    // decides the rest. Jumps count the instructions they pass over; each
    // is numbered.
    static sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_PKTTYPE)),  // 0
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OTHERHOST, 12, 0),                         // 1
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_PROTOCOL)), // 2
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 2),                                  // 3
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kIpProtocolOffset),                                // 4
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_TCP, 9, 8),                               // 5
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IPV6, 0, 7),                                // 6
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kIpv6NextHeaderOffset),                            // 7
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_TCP, 6, 0),                               // 8
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kIpv6HopByHop, 5, 0),                             // 9
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kIpv6Routing, 4, 0),                              // 10
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kIpv6Fragment, 3, 0),                             // 11
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kIpv6Authentication, 2, 0),                       // 12
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kIpv6DestinationOptions, 1, 0),                   // 13
        BPF_STMT(BPF_RET | BPF_K, 0),          // 14: drop
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF), // 15: keep the whole datagram
    };
    sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
    if (setsockopt(m_fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) != 0)
        return errno;
    return 0;
}

int CCaptureSocket::SetUpRing()
{
    int version = TPACKET_V3;
    if (setsockopt(m_fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
        return errno;
    tpacket_req3 request{};
    request.tp_block_size = kBlockBytes;
    request.tp_block_nr = kBlockCount;
    request.tp_frame_size = kFrameBytes;
    request.tp_frame_nr = kBlockBytes / kFrameBytes * kBlockCount;
    request.tp_retire_blk_tov = kBlockTimeoutMs;
    if (setsockopt(m_fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0)
        return errno;
    void* ring = mmap(nullptr, kRingBytes, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (ring == MAP_FAILED)
        return errno;
    m_ring = static_cast<std::uint8_t*>(ring);
    m_current = 0;
    m_block = nullptr;
    return 0;
}

int CCaptureSocket::Bind(int interfaceIndex)
{
    // ETH_P_ALL, not ETH_P_IP: the kernel hands the frames the machine sends
    // only to sockets of every protocol.
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = interfaceIndex;
    if (bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return errno;
    return 0;
}

int CCaptureSocket::SetNonBlocking()
{
    int flags = fcntl(m_fd, F_GETFL);
    if (flags < 0 || fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return errno;
    return 0;
}

int CCaptureSocket::CheckInterface() const
{
    // When its interface is removed the kernel unbinds the socket, which
    // then names no interface (index -1); an interface made again under the
    // same name is a new one with a new index.
    sockaddr_ll bound{};
    socklen_t length = sizeof bound;
    if (getsockname(m_fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return errno;
    return bound.sll_ifindex > 0 ? 0 : ENODEV;
}

int CCaptureSocket::WaitForBlock(int timeoutMs, bool& ready)
{
    ready = false;
    if (!m_ring)
        return EBADF;
    auto take = [&] {
        auto* block = reinterpret_cast<tpacket_block_desc*>(m_ring + m_current * kBlockBytes);
        if (!(BlockStatus(block) & TP_STATUS_USER))
            return false;
        m_block = block;
        m_datagramsLeft = block->hdr.bh1.num_pkts;
        m_nextDatagram =
            reinterpret_cast<const std::uint8_t*>(block) + block->hdr.bh1.offset_to_first_pkt;
        return true;
    };
    if (m_block || take()) {
        ready = true;
        return 0;
    }
    pollfd waiting{m_fd, POLLIN, 0};
    int result = poll(&waiting, 1, timeoutMs);
    if (result < 0)
        return errno == EINTR ? 0 : errno;
    if (result > 0 && (waiting.revents & POLLNVAL))
        return EBADF;
    if (result > 0 && (waiting.revents & POLLERR)) {
        // Reading the pending error also clears it.
        int err = 0;
        socklen_t length = sizeof err;
        if (getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0)
            return errno;
        if (err != 0 && !IsNothingToReceive(err))
            return err;
    }
    if (take()) {
        ready = true;
        return 0;
    }
    // Nothing came: the adapter is quiet, down, or gone. A removed adapter
    // reports ENETDOWN only when it was up, so it is looked for here.
    return CheckInterface();
}

bool CCaptureSocket::NextDatagram(const std::uint8_t*& data, std::size_t& length)
{
    while (m_block && m_datagramsLeft > 0) {
        const auto* header = reinterpret_cast<const tpacket3_hdr*>(m_nextDatagram);
        const auto* from = reinterpret_cast<const sockaddr_ll*>(
            m_nextDatagram + TPACKET_ALIGN(sizeof(tpacket3_hdr)));
        --m_datagramsLeft;
        m_nextDatagram += header->tp_next_offset;
        // The blocks are large enough that no datagram is cut short; one
        // that was would be passed on as something it is not.
        if (!IsWanted(*from) || header->tp_snaplen != header->tp_len)
            continue;
        data = reinterpret_cast<const std::uint8_t*>(header) + header->tp_net;
        length = header->tp_snaplen;
        return true;
    }
    return false;
}

void CCaptureSocket::ReleaseBlock()
{
    if (!m_block)
        return;
    __atomic_store_n(&m_block->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    m_block = nullptr;
    m_datagramsLeft = 0;
    m_current = (m_current + 1) % kBlockCount;
}

int CCaptureSocket::ReadKernelDrops(std::uint64_t& drops)
{
    // With a ring the kernel answers in the third version's layout.
    tpacket_stats_v3 stats{};
    socklen_t length = sizeof stats;
    if (getsockopt(m_fd, SOL_PACKET, PACKET_STATISTICS, &stats, &length) != 0)
        return errno;
    m_kernelDrops += stats.tp_drops;
    drops = m_kernelDrops;
    return 0;
}

void CCaptureSocket::Close()
{
    if (m_ring)
        munmap(m_ring, kRingBytes);
    m_ring = nullptr;
    m_block = nullptr;
    m_datagramsLeft = 0;
    if (m_fd >= 0)
        close(m_fd); // a failed close is of no consequence to a receiving socket
    m_fd = -1;
}

bool IsKnownSystemError(int err)
{
    return strerrorname_np(err) != nullptr;
}

} // namespace zk
