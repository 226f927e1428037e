#pragma once

#include <array>
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

// One direction of one connection as the HTTP layer sees it.
struct CTcpIpStreamInfo
{
    CTcpIpStreamKey m_key;
    std::uint32_t m_nextSequence = 0;
};

} // namespace zk
