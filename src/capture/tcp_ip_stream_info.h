#pragma once

#include "capture/ip_address_pair.h"
#include "capture/tcp_ip_reorder_cache.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zk {

// The key of one direction of one TCP connection: a stream matches only when
// all fields are equal, so a connection's two directions are two streams, and
// an IPv6 stream never meets an IPv4 one, whatever its addresses.
struct CTcpIpStreamKey
{
    CIpAddress m_source{}; // an IPv4 address in the first four bytes
    CIpAddress m_destination{};
    std::uint16_t m_sourcePort = 0;
    std::uint16_t m_destinationPort = 0;
    EIpFamily m_family = EIpFamily::Ipv4;

    // The key of the connection's other direction.
    CTcpIpStreamKey Reversed() const
    {
        return {m_destination, m_source, m_destinationPort, m_sourcePort, m_family};
    }

    // Every packet compares keys, so the addresses are compared as words.
    bool operator==(const CTcpIpStreamKey& other) const
    {
        return ((Word(m_source, 0) ^ Word(other.m_source, 0)) |
                (Word(m_source, 8) ^ Word(other.m_source, 8)) |
                (Word(m_destination, 0) ^ Word(other.m_destination, 0)) |
                (Word(m_destination, 8) ^ Word(other.m_destination, 8))) == 0 &&
               Rest() == other.Rest();
    }

    static std::uint64_t Word(const CIpAddress& address, std::size_t at)
    {
        std::uint64_t word;
        std::memcpy(&word, address.data() + at, sizeof word);
        return word;
    }
    // The ports and the family in one word.
    std::uint64_t Rest() const
    {
        return std::uint64_t(m_sourcePort) << 24 | std::uint64_t(m_destinationPort) << 8 |
               static_cast<std::uint8_t>(m_family);
    }
};

// Mixes all the key's bytes into every bit of the result, so that the low
// bits alone (a power-of-two table takes those) still tell streams apart: one
// client's connections differ mostly in the source port. Each address word is
// multiplied by a constant of its own, so that swapping words, or source and
// destination, gives another hash.
struct CTcpIpStreamKeyHash
{
    std::size_t operator()(const CTcpIpStreamKey& key) const noexcept
    {
        using K = CTcpIpStreamKey;
        std::uint64_t h = K::Word(key.m_source, 0) * 0x9E3779B97F4A7C15ull ^
                          K::Word(key.m_source, 8) * 0xC2B2AE3D27D4EB4Full ^
                          K::Word(key.m_destination, 0) * 0x165667B19E3779F9ull ^
                          K::Word(key.m_destination, 8) * 0xD6E8FEB86659FD93ull ^
                          key.Rest() * 0xFF51AFD7ED558CCDull;
        h ^= h >> 31;
        h *= 0x94D049BB133111EBull;
        h ^= h >> 29;
        return static_cast<std::size_t>(h);
    }
};

// One direction of one connection as the HTTP layer sees it.
struct CTcpIpStreamInfo
{
    CTcpIpStreamKey m_key;
    // The next byte to deliver and the bytes that arrived ahead of it.
    CTcpIpReorderCache m_cache;
    std::uint64_t m_lastActiveMs = 0; // the chain's clock when a segment last came

    std::uint32_t NextSequence() const { return m_cache.Next(); }
    // Whether the bytes now delivered are the stream's first after its SYN:
    // nothing delivered or skipped before them.
    bool AtStreamStart() const { return m_cache.Position() == 0; }
};

} // namespace zk
