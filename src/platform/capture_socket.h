#pragma once

#include <cstddef>
#include <cstdint>

struct tpacket_block_desc;

namespace zk {

// A packet socket that delivers every IPv4 and IPv6 TCP datagram one adapter
// sends or receives, network header first, through a receive ring the kernel shares
// with the process (TPACKET_V3): the kernel fills blocks of datagrams, the
// caller reads them where they lie and hands each block back when done.
// Traffic the adapter only overhears for other hosts is not delivered: no
// promiscuous mode, only the machine's own traffic. While the adapter is
// down the socket simply has nothing to receive; once the adapter is gone
// (removed, or its driver unloaded) waiting fails with ENODEV. Every
// operation returns 0 or an errno value. The destructor closes the socket
// and unmaps the ring.
class CCaptureSocket
{
public:
    // The ring holds a burst of 54 ms at 10 Gbit/s (64 MiB at 1.25 GB/s):
    // time for the capture to get the processor back on a busy machine.
    // Its reader is the capture helper, which hands each block to the
    // program through a pipe and gives it back once the program has read
    // it, so the ring waits on two processes, each on the processor only in
    // its turn; with a quarter of this, on a busy machine, bulk transfers
    // overran it often enough to lose one page in ten. Blocks of 1 MiB hold a
    // datagram of any size with its headers (offloads hand over up to
    // 64 KiB at once), so none is cut short.
    static constexpr std::size_t kBlockBytes = 1024 * 1024;
    static constexpr std::size_t kBlockCount = 64;
    // The frame size only enters the kernel's check of the ring's shape; a
    // TPACKET_V3 datagram takes the room it needs within its block.
    static constexpr std::size_t kFrameBytes = 128 * 1024;
    // A block is handed over when full or after this long, so that on a
    // quiet adapter datagrams still arrive within a few milliseconds and a
    // stop request is seen well within 100 ms.
    static constexpr unsigned kBlockTimeoutMs = 8;

    CCaptureSocket() = default;
    CCaptureSocket(const CCaptureSocket&) = delete;
    CCaptureSocket& operator=(const CCaptureSocket&) = delete;
    ~CCaptureSocket() { Close(); }

    // Creates the socket. It needs CAP_NET_RAW, which is raised into the
    // calling thread's effective set only for this call and lowered again
    // after it. The socket receives nothing until Bind.
    int Open();

    // Installs the kernel filter that keeps IPv4 TCP datagrams (fragments
    // included) and IPv6 datagrams whose first next header is TCP or an
    // extension header, and drops frames meant for other hosts. Before Bind.
    int SetTcpFilter();

    // Sets up and maps the receive ring. Before Bind, so that no datagram
    // is queued outside the ring.
    int SetUpRing();

    // Starts receiving on the interface with this index.
    int Bind(int interfaceIndex);

    int SetNonBlocking();

    // Waits at most timeoutMs for the kernel to hand over the next block;
    // ready tells whether one came. A block already in hand is ready at once.
    int WaitForBlock(int timeoutMs, bool& ready);

    // The next datagram of the block in hand, where it lies in the ring; it
    // stays valid until ReleaseBlock. False when the block has no more.
    bool NextDatagram(const std::uint8_t*& data, std::size_t& length);

    // Gives the block in hand back to the kernel.
    void ReleaseBlock();

    // Datagrams the kernel dropped because the ring was full, in total since
    // Open. The kernel resets its count with each reading, so the socket
    // keeps the sum.
    int ReadKernelDrops(std::uint64_t& drops);

    void Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    // ENODEV once the bound interface no longer exists.
    int CheckInterface() const;

    int m_fd = -1;
    std::uint64_t m_kernelDrops = 0;
    std::uint8_t* m_ring = nullptr;
    std::size_t m_current = 0;                    // the block to read next
    tpacket_block_desc* m_block = nullptr;        // the block in hand, if any
    std::uint32_t m_datagramsLeft = 0;            // in the block in hand
    const std::uint8_t* m_nextDatagram = nullptr; // its header, in the block in hand
};

// True when the system has a name for this errno value.
bool IsKnownSystemError(int err);

} // namespace zk
