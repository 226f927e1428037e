#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

// A packet socket that delivers every IPv4 datagram one adapter sends or
// receives, network header first, one datagram per receive. Traffic the
// adapter only overhears for other hosts is not delivered: no promiscuous
// mode, only the machine's own traffic. While the adapter is down the
// socket simply has nothing to receive. Every operation returns 0 or an
// errno value. The socket is closed by the destructor.
class CCaptureSocket
{
public:
    CCaptureSocket() = default;
    CCaptureSocket(const CCaptureSocket&) = delete;
    CCaptureSocket& operator=(const CCaptureSocket&) = delete;
    ~CCaptureSocket() { Close(); }

    // Creates the socket. It needs CAP_NET_RAW, which is raised into the
    // calling thread's effective set only for this call and lowered again
    // after it. The socket receives nothing until Bind.
    int Open();

    // Starts receiving on the interface with this index.
    int Bind(int interfaceIndex);

    int SetNonBlocking();

    // Installs the kernel filter that keeps IPv4 datagrams and drops frames
    // meant for other hosts.
    int SetIpv4Filter();

    // Waits at most timeoutMs for a datagram; ready tells whether one came.
    int WaitForDatagram(int timeoutMs, bool& ready);

    // The size of the waiting datagram, without taking it. available is
    // false when nothing waits.
    int PeekDatagramSize(std::size_t& size, bool& available);

    // Takes the waiting datagram into buffer. A datagram that is not IPv4 or
    // was meant for another host (one that slipped in before the filter was
    // installed) is taken and dropped: received is then 0 and delivered
    // false. EMSGSIZE when the datagram did not fit: it is then lost.
    int ReceiveDatagram(std::uint8_t* buffer, std::size_t size, std::size_t& received,
                        bool& delivered);

    // Datagrams the kernel dropped because the socket's queue was full, in
    // total since Open.
    int ReadKernelDrops(std::uint64_t& drops);

    void Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    std::uint64_t m_kernelDrops = 0;
};

// Lowers the capture capability from the calling thread's effective set,
// for a binary that was given it as effective file capability: the program
// holds it only while it creates its socket.
void LowerCaptureCapability();

// True when the system has a name for this errno value.
bool IsKnownSystemError(int err);

} // namespace zk
