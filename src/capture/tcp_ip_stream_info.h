#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

namespace zk {

// The key of one direction of one TCP connection: a stream matches only when
// all four fields are equal, so a connection's two directions are two streams.
struct CTcpIpStreamKey
{
    std::array<std::uint8_t, 4> m_source{};
    std::array<std::uint8_t, 4> m_destination{};
    std::uint16_t m_sourcePort = 0;
    std::uint16_t m_destinationPort = 0;

    // Every packet compares keys, so the addresses are compared as words.
    bool operator==(const CTcpIpStreamKey& other) const
    {
        return std::bit_cast<std::uint32_t>(m_source) ==
                   std::bit_cast<std::uint32_t>(other.m_source) &&
               std::bit_cast<std::uint32_t>(m_destination) ==
                   std::bit_cast<std::uint32_t>(other.m_destination) &&
               m_sourcePort == other.m_sourcePort && m_destinationPort == other.m_destinationPort;
    }

    // The key of the connection's other direction.
    CTcpIpStreamKey Reversed() const
    {
        CTcpIpStreamKey reversed;
        reversed.m_source = m_destination;
        reversed.m_destination = m_source;
        reversed.m_sourcePort = m_destinationPort;
        reversed.m_destinationPort = m_sourcePort;
        return reversed;
    }
};

// Mixes all twelve bytes into every bit of the result, so that the low bits
// alone (a power-of-two table takes those) still tell streams apart: one
// client's connections differ mostly in the source port.
struct CTcpIpStreamKeyHash
{
    std::size_t operator()(const CTcpIpStreamKey& key) const noexcept
    {
        std::uint64_t addresses = std::uint64_t(std::bit_cast<std::uint32_t>(key.m_source)) << 32 |
                                  std::bit_cast<std::uint32_t>(key.m_destination);
        std::uint64_t ports = std::uint64_t(key.m_sourcePort) << 16 | key.m_destinationPort;
        std::uint64_t h = (addresses ^ ports * 0x9E3779B97F4A7C15ull) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
        h *= 0x94D049BB133111EBull;
        h ^= h >> 29;
        return static_cast<std::size_t>(h);
    }
};

// The payload of a segment that arrived ahead of its stream, kept until the
// gap before it is filled or it has become old.
struct CTcpIpCachedSegment
{
    std::uint32_t m_sequence = 0;
    std::vector<std::uint8_t> m_payload;
};

// One direction of one connection as the HTTP layer sees it.
struct CTcpIpStreamInfo
{
    CTcpIpStreamKey m_key;
    std::uint32_t m_nextSequence = 0;  // of the next byte to deliver
    std::uint32_t m_firstSequence = 0; // of the first byte after the SYN

    // Segments ahead of m_nextSequence, in arrival order.
    std::list<CTcpIpCachedSegment> m_cache;
    std::size_t m_cacheBytes = 0;     // their payload bytes
    std::uint64_t m_lastActiveMs = 0; // the chain's clock when a segment last came
};

} // namespace zk
