#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zk {

// Reads a pcapng stream of raw IP datagrams as it arrives, in pieces of any
// size: each complete block is handled the moment its last byte comes, and
// only an unfinished block is kept back. Datagrams are handed on where they
// lie, valid during the call. A stream that is not pcapng, or whose blocks
// do not fit together, stops the reader for good: after such a stream
// nothing it says can be trusted.
class CPcapngReader
{
public:
    class CHandler
    {
    public:
        virtual ~CHandler() = default;
        // An interface of link type raw IP was described: datagrams follow.
        virtual void OnInterface() = 0;
        virtual void OnDatagram(const std::uint8_t* data, std::size_t length) = 0;
        // The datagrams the capture lost, in total since it started.
        virtual void OnDrops(std::uint64_t drops) = 0;
    };

    // The next bytes of the stream, whose blocks go to the handler. False
    // once the stream has turned out not to be what the reader takes.
    bool Feed(const std::uint8_t* data, std::size_t length, CHandler& handler);

    // Back to the start of a stream.
    void Reset() { *this = CPcapngReader(); }

    bool Failed() const { return m_failed; }
    // True while part of a block is held back.
    bool HasPartialBlock() const { return !m_pending.empty(); }

private:
    // How many bytes the block at data takes (known: true), or, while
    // fewer than have are needed to tell, how many it takes to tell; 0 when
    // the block cannot be one.
    std::size_t Needed(const std::uint8_t* data, std::size_t have, bool& known) const;
    // Handles the complete blocks at the start of data; returns how many
    // bytes they took, or fails the reader.
    std::size_t TakeBlocks(const std::uint8_t* data, std::size_t length);
    bool TakeBlock(const std::uint8_t* block, std::size_t length);
    bool TakeSectionHeader(const std::uint8_t* block, std::size_t length);
    bool TakeInterface(const std::uint8_t* block, std::size_t length);
    bool TakePacket(const std::uint8_t* block, std::size_t length);
    void TakeStatistics(const std::uint8_t* block, std::size_t length);
    std::uint16_t Get16(const std::uint8_t* at) const;
    std::uint32_t Get32(const std::uint8_t* at) const;
    std::uint64_t Get64(const std::uint8_t* at) const;

    CHandler* m_handler = nullptr; // during Feed
    std::vector<std::uint8_t> m_pending;
    bool m_inSection = false;
    bool m_swapped = false; // written in the other byte order
    std::uint32_t m_interfaces = 0;
    bool m_failed = false;
};

} // namespace zk
