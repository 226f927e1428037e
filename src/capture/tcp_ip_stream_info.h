#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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

// One direction of one connection as the HTTP layer sees it.
struct CTcpIpStreamInfo
{
    CTcpIpStreamKey m_key;
    std::uint32_t m_nextSequence = 0;
};

} // namespace zk
