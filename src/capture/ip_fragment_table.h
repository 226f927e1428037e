#pragma once

#include "capture/decode_stats.h"
#include "capture/fragment_datagrams.h"
#include "capture/ip_packet.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace zk {

// Fragments belong to one datagram when source, destination, protocol and
// identification all match (RFC 791, 3.2): two hosts may well use the same
// identification at the same time.
struct CIpFragmentKey
{
    std::array<std::uint8_t, 4> m_source{};
    std::array<std::uint8_t, 4> m_destination{};
    std::uint8_t m_protocol = 0;
    std::uint16_t m_identification = 0;

    bool operator==(const CIpFragmentKey&) const = default;
};

struct CIpFragmentKeyHash
{
    std::size_t operator()(const CIpFragmentKey& key) const noexcept;
};

// The fragment table: fragments wait here until their datagram can be put
// together again. Fragments of one datagram are kept by offset, so that each
// costs a search whatever order they come in, and the datagram remembers how
// far the walk from offset 0 has come, so that only a fragment landing there
// moves it on.
class CIpFragmentTable
{
public:
    // RFC 791 suggests a reassembly timer of 15 seconds upwards, and hosts
    // commonly wait 30. A sender puts out all fragments of a datagram at
    // once, so a datagram still incomplete after that has lost a fragment.
    static constexpr std::uint64_t kMaxAgeMs = 30'000;
    // Fragmentation is rare on today's paths and the traffic the program
    // reads is TCP, which avoids it; these hold 32 datagrams of the largest
    // size in progress, far more than a desktop sees at once.
    static constexpr std::size_t kMaxBytes = 2 * 1024 * 1024;
    static constexpr std::size_t kMaxDatagrams = 256;
    // The largest datagram an IPv4 total length can describe.
    static constexpr std::size_t kMaxDatagramLength = 0xFFFF;

    // Drops every datagram whose first fragment arrived more than kMaxAgeMs
    // before nowMs.
    void Expire(std::uint64_t nowMs, CDecodeStats& stats);

    // Keeps a copy of one fragment, unless the rebuilt datagram could never
    // take it (a later copy of an offset already held). True when it completed its datagram: then
    // the rebuilt datagram is in rebuilt and its fragments have left the
    // table.
    bool Add(std::uint64_t nowMs, const CIpHeader& header, const std::uint8_t* data,
             CIpPacket& rebuilt, CDecodeStats& stats);

    std::size_t Bytes() const { return m_datagrams.Bytes(); }
    std::size_t DatagramCount() const { return m_datagrams.Count(); }
    std::size_t FragmentCount() const { return m_datagrams.FragmentCount(); }
    // Fragments looked at so far: the work the table did, for tests and
    // benchmarks to count.
    std::uint64_t Steps() const { return m_steps; }

private:
    // The fragments of one offset that the walk may take: the first empty
    // one with more to follow (it adds nothing but may give the rebuilt
    // header), then the first that carries payload or ends the datagram.
    // Later copies are never taken, so they are not kept.
    struct COffset
    {
        CIpPacketPtr m_empty;
        CIpPacketPtr m_fragment;
    };

    using CFragments = std::map<std::uint16_t, COffset>;

    struct CDatagram
    {
        CIpFragmentKey m_key;
        std::uint64_t m_firstArrivalMs = 0;
        std::size_t m_bytes = 0;
        std::size_t m_fragmentCount = 0;
        // How far the walk from offset 0 has come: wider than 16 bits so
        // that a datagram too long for its total length field is seen as
        // such rather than wrapping round.
        std::uint32_t m_covered = 0;
        CFragments m_fragments;

        std::size_t FragmentCount() const { return m_fragmentCount; }
    };
    using CDatagrams = CFragmentDatagrams<CDatagram, CIpFragmentKey, CIpFragmentKeyHash>;

    // Moves the walk on from the offset it reached, at, as far as the
    // fragments reach; true once it has taken the last fragment.
    bool Walk(CDatagram& datagram, CFragments::iterator at);
    // False when the datagram would be too long for its total length field.
    static bool Reassemble(const CDatagram& datagram, CIpPacket& rebuilt);

    CDatagrams m_datagrams;
    std::uint64_t m_steps = 0;
};

} // namespace zk
