#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct iovec;

namespace zk {

// Writes a pcapng stream of raw IP datagrams to a file descriptor: a Section
// Header and one Interface Description, then Enhanced Packet Blocks and
// Interface Statistics Blocks as they come. The blocks of one ring block are
// gathered and go out in one call, with small datagrams copied beside their
// headers and large ones written from where they lie, so that the reader
// never sees half a block unless the pipe is full. Into a pipe they go with
// vmsplice, which hands the pipe the pages where the bytes lie instead of a
// copy of them: the reader's read is then the only copy of a datagram on
// its way from the ring. Anything else (a file, a terminal) gets a writev.
class CPcapngWriter
{
public:
    // Datagrams up to this size are copied; larger ones are referenced.
    // With 1 MiB ring blocks that keeps a block's pieces well inside IOV_MAX.
    static constexpr std::size_t kCopyBytes = 4096;

    // Room for what one full ring block gathers, so that it is allocated once.
    static constexpr std::size_t kArenaBytes = 2 * 1024 * 1024;

    explicit CPcapngWriter(int fd) : m_fd(fd) {}

    // The Section Header and the Interface Description of the adapter:
    // link type raw IP, times in nanoseconds.
    void AddHeader(const std::string& interfaceName);

    // One datagram, at this time (nanoseconds since 1970).
    void AddDatagram(std::uint64_t timeNs, const std::uint8_t* data, std::size_t length);

    // The datagrams the kernel dropped in total since the start.
    void AddDrops(std::uint64_t timeNs, std::uint64_t drops);

    // How long the writer sleeps between its looks whether the reader has
    // taken everything spliced into the pipe: a reader on the processor
    // copies a whole ring block in about this time.
    static constexpr long kTakenPollNs = 100 * 1000;

    // Writes everything gathered since the last Flush; 0 or an errno value
    // (EPIPE once the reader has gone). Whatever was referenced may be
    // released or changed after it: bytes spliced into a pipe are read from
    // where they lie, so Flush returns only once the reader has taken them.
    int Flush();

    std::size_t PendingBytes() const;

private:
    struct CPiece
    {
        const std::uint8_t* data; // null: m_arena from offset
        std::size_t offset;
        std::size_t length;
    };

    void Append(const void* data, std::size_t length);
    void Append32(std::uint32_t value) { Append(&value, sizeof value); }
    void Append16(std::uint16_t value) { Append(&value, sizeof value); }
    void Append64(std::uint64_t value) { Append(&value, sizeof value); }
    void AppendPadding(std::size_t length);
    void AppendOption(std::uint16_t code, const void* data, std::size_t length);
    void Reference(const std::uint8_t* data, std::size_t length);
    // One call's worth of the pieces, spliced or written; as writev.
    ssize_t Put(const iovec* vectors, int count);
    // Waits until the pipe holds nothing more of what was spliced.
    int WaitUntilTaken();

    int m_fd;
    bool m_splice = true; // until the descriptor turns out not to be a pipe
    std::vector<std::uint8_t> m_arena;
    std::vector<CPiece> m_pieces;
};

} // namespace zk
