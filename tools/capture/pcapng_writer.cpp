#include "pcapng_writer.h"

#include "platform/pcapng_format.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <time.h>

namespace zk {

using namespace pcapng;

void CPcapngWriter::Append(const void* data, std::size_t length)
{
    if (m_arena.capacity() == 0)
        m_arena.reserve(kArenaBytes);
    if (m_pieces.empty() || m_pieces.back().data)
        m_pieces.push_back({nullptr, m_arena.size(), 0});
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_arena.insert(m_arena.end(), bytes, bytes + length);
    m_pieces.back().length += length;
}

void CPcapngWriter::AppendPadding(std::size_t length)
{
    static const std::uint8_t zeros[4] = {};
    Append(zeros, Padded(length) - length);
}

void CPcapngWriter::AppendOption(std::uint16_t code, const void* data, std::size_t length)
{
    Append16(code);
    Append16(static_cast<std::uint16_t>(length));
    Append(data, length);
    AppendPadding(length);
}

void CPcapngWriter::Reference(const std::uint8_t* data, std::size_t length)
{
    m_pieces.push_back({data, 0, length});
}

void CPcapngWriter::AddHeader(const std::string& interfaceName)
{
    // Section Header: no options, section length unknown (-1).
    Append32(kSectionHeader);
    Append32(28);
    Append32(kByteOrderMagic);
    Append16(kMajorVersion);
    Append16(kMinorVersion);
    Append64(~std::uint64_t{0});
    Append32(28);

    // Interface Description: raw IP, no snap length, the adapter's name,
    // nanosecond times.
    std::size_t nameBytes = Padded(interfaceName.size());
    auto length = static_cast<std::uint32_t>(kBlockFrameBytes + 8 + 4 + nameBytes + 4 + 4 + 4);
    Append32(kInterfaceDescription);
    Append32(length);
    Append16(kLinkTypeRawIp);
    Append16(0);
    Append32(0);
    AppendOption(kOptionInterfaceName, interfaceName.data(), interfaceName.size());
    const std::uint8_t nanoseconds = 9;
    AppendOption(kOptionTimeResolution, &nanoseconds, 1);
    Append32(0); // end of options
    Append32(length);
}

void CPcapngWriter::AddDatagram(std::uint64_t timeNs, const std::uint8_t* data, std::size_t length)
{
    auto total =
        static_cast<std::uint32_t>(kBlockFrameBytes + kEnhancedPacketFields + Padded(length));
    // The fixed fields in one piece: this runs for every datagram.
    const std::uint32_t fields[] = {kEnhancedPacket,
                                    total,
                                    0, // the one interface
                                    static_cast<std::uint32_t>(timeNs >> 32),
                                    static_cast<std::uint32_t>(timeNs),
                                    static_cast<std::uint32_t>(length),
                                    static_cast<std::uint32_t>(length)};
    Append(fields, sizeof fields);
    if (length <= kCopyBytes)
        Append(data, length);
    else
        Reference(data, length);
    AppendPadding(length);
    Append32(total);
}

void CPcapngWriter::AddDrops(std::uint64_t timeNs, std::uint64_t drops)
{
    // Interface Statistics: time, isb_ifdrop, end of options.
    constexpr std::uint32_t total = kBlockFrameBytes + 12 + 4 + 8 + 4;
    Append32(kInterfaceStatistics);
    Append32(total);
    Append32(0);
    Append32(static_cast<std::uint32_t>(timeNs >> 32));
    Append32(static_cast<std::uint32_t>(timeNs));
    AppendOption(kOptionInterfaceDrops, &drops, sizeof drops);
    Append32(0);
    Append32(total);
}

std::size_t CPcapngWriter::PendingBytes() const
{
    std::size_t bytes = 0;
    for (const CPiece& piece : m_pieces)
        bytes += piece.length;
    return bytes;
}

ssize_t CPcapngWriter::Put(const iovec* vectors, int count)
{
    if (m_splice) {
        ssize_t put = vmsplice(m_fd, vectors, static_cast<unsigned long>(count), 0);
        // Not a pipe: written as any other file from here on.
        if (put >= 0 || (errno != EBADF && errno != EINVAL))
            return put;
        m_splice = false;
    }
    return writev(m_fd, vectors, count);
}

int CPcapngWriter::WaitUntilTaken()
{
    // The pipe has no wake-up for having been emptied, so the writer looks.
    // A reader that has gone takes nothing more: that ends the wait too.
    const timespec pause{0, kTakenPollNs};
    for (;;) {
        int left = 0;
        if (ioctl(m_fd, FIONREAD, &left) != 0)
            return errno;
        if (left == 0)
            return 0;
        pollfd output{m_fd, 0, 0};
        if (poll(&output, 1, 0) > 0 && (output.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return EPIPE;
        nanosleep(&pause, nullptr);
    }
}

int CPcapngWriter::Flush()
{
    std::vector<iovec> vectors;
    vectors.reserve(m_pieces.size());
    for (const CPiece& piece : m_pieces) {
        const std::uint8_t* data = piece.data ? piece.data : m_arena.data() + piece.offset;
        vectors.push_back({const_cast<std::uint8_t*>(data), piece.length});
    }
    m_pieces.clear();

    // A blocking pipe takes a writev whole unless it is larger than the
    // pipe; the rest of a short write goes in the next call.
    std::size_t at = 0;
    while (at < vectors.size()) {
        int count = static_cast<int>(std::min<std::size_t>(vectors.size() - at, IOV_MAX));
        ssize_t written = Put(vectors.data() + at, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            m_arena.clear();
            return err;
        }
        auto left = static_cast<std::size_t>(written);
        while (at < vectors.size() && left >= vectors[at].iov_len)
            left -= vectors[at++].iov_len;
        if (left > 0) {
            vectors[at].iov_base = static_cast<std::uint8_t*>(vectors[at].iov_base) + left;
            vectors[at].iov_len -= left;
        }
    }
    int err = m_splice && !vectors.empty() ? WaitUntilTaken() : 0;
    m_arena.clear();
    return err;
}

} // namespace zk
