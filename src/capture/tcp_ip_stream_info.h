#pragma once

#include <array>
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

    bool operator==(const CTcpIpStreamKey&) const = default;
};

struct CTcpIpStreamKeyHash
{
    std::size_t operator()(const CTcpIpStreamKey& key) const noexcept
    {
        std::uint64_t a = 0;
        for (std::uint8_t b : key.m_source)
            a = a << 8 | b;
        for (std::uint8_t b : key.m_destination)
            a = a << 8 | b;
        std::uint64_t h = a ^ (std::uint64_t(key.m_sourcePort) << 16 | key.m_destinationPort) *
                                  0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
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
    std::uint32_t m_nextSequence = 0; // of the next byte to deliver

    // Segments ahead of m_nextSequence, in arrival order.
    std::list<CTcpIpCachedSegment> m_cache;
    std::size_t m_cacheBytes = 0;     // their payload bytes
    std::uint64_t m_lastActiveMs = 0; // the chain's clock when a segment last came
};

} // namespace zk
