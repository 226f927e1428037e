#include "platform/capture_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/capability.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zk {
namespace {

// The socket queue the kernel keeps for us. The capture thread runs at idle
// priority, so a burst must wait in the queue until it gets the processor;
// the kernel caps the request at net.core.rmem_max.
constexpr int kReceiveQueueBytes = 4 * 1024 * 1024;

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
// when the interface goes down; the socket receives again as soon as the
// interface comes back up, so the capture waits instead of ending.
bool IsNothingToReceive(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ENETDOWN;
}

// What the kernel filter and the check after each receive keep: IPv4, and
// only frames the machine itself sends or is meant to receive (its own,
// broadcast and multicast), not those an adapter overhears for other hosts.
bool IsWanted(const sockaddr_ll& from)
{
    return from.sll_protocol == htons(ETH_P_IP) && from.sll_pkttype != PACKET_OTHERHOST;
}

} // namespace

int CCaptureSocket::Open()
{
    Close();
    // Protocol 0 registers the socket nowhere until Bind names the
    // interface, so no other adapter's traffic can queue up in between.
    SetCaptureCapability(true);
    int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int err = errno;
    SetCaptureCapability(false);
    if (fd < 0)
        return err;
    m_fd = fd;
    m_kernelDrops = 0;
    setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &kReceiveQueueBytes, sizeof kReceiveQueueBytes);
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

int CCaptureSocket::SetIpv4Filter()
{
    // Classic BPF over the socket buffer's own fields (its packet type and
    // protocol), since a datagram socket's packet starts at the IP header.
    static sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OTHERHOST, 2, 0),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_PROTOCOL)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, 0),          // drop
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF), // keep the whole datagram
    };
    sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
    if (setsockopt(m_fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) != 0)
        return errno;
    return 0;
}

int CCaptureSocket::WaitForDatagram(int timeoutMs, bool& ready)
{
    ready = false;
    pollfd waiting{m_fd, POLLIN, 0};
    int result = poll(&waiting, 1, timeoutMs);
    if (result < 0)
        return errno == EINTR ? 0 : errno;
    if (result > 0 && (waiting.revents & POLLERR)) {
        // Reading the pending error also clears it.
        int err = 0;
        socklen_t length = sizeof err;
        if (getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0)
            return errno;
        if (err != 0 && !IsNothingToReceive(err))
            return err;
        if (!(waiting.revents & POLLIN))
            return 0;
    }
    if (result > 0 && (waiting.revents & POLLNVAL))
        return EBADF;
    ready = result > 0;
    return 0;
}

int CCaptureSocket::PeekDatagramSize(std::size_t& size, bool& available)
{
    size = 0;
    available = false;
    std::uint8_t probe;
    ssize_t length = recv(m_fd, &probe, sizeof probe, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (length < 0) {
        if (IsNothingToReceive(errno))
            return 0;
        return errno;
    }
    size = static_cast<std::size_t>(length);
    available = true;
    return 0;
}

int CCaptureSocket::ReceiveDatagram(std::uint8_t* buffer, std::size_t size, std::size_t& received,
                                    bool& delivered)
{
    received = 0;
    delivered = false;
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    ssize_t length = recvfrom(m_fd, buffer, size, MSG_TRUNC | MSG_DONTWAIT,
                              reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (length < 0) {
        if (IsNothingToReceive(errno))
            return 0;
        return errno;
    }
    // The caller sizes the buffer from a peek, so this does not happen; if it
    // did, the datagram is lost and is never passed on cut short.
    if (static_cast<std::size_t>(length) > size)
        return EMSGSIZE;
    if (!IsWanted(from))
        return 0;
    received = static_cast<std::size_t>(length);
    delivered = true;
    return 0;
}

int CCaptureSocket::ReadKernelDrops(std::uint64_t& drops)
{
    // Reading the statistics resets them, so they are summed here.
    tpacket_stats stats{};
    socklen_t length = sizeof stats;
    if (getsockopt(m_fd, SOL_PACKET, PACKET_STATISTICS, &stats, &length) != 0)
        return errno;
    m_kernelDrops += stats.tp_drops;
    drops = m_kernelDrops;
    return 0;
}

void CCaptureSocket::Close()
{
    if (m_fd >= 0)
        close(m_fd); // a failed close is of no consequence to a receiving socket
    m_fd = -1;
}

void LowerCaptureCapability()
{
    SetCaptureCapability(false);
}

bool IsKnownSystemError(int err)
{
    return strerrorname_np(err) != nullptr;
}

} // namespace zk
