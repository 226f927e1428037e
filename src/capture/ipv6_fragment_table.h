#pragma once

#include "capture/decode_stats.h"
#include "capture/fragment_datagrams.h"
#include "capture/ip_address_pair.h"
#include "capture/ip_fragment_table.h"
#include "capture/ipv6_packet.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace zk {

// Fragments of one IPv6 datagram share source, destination and
// identification (RFC 8200, 4.5).
struct CIpv6FragmentKey
{
    CIpAddress m_source{};
    CIpAddress m_destination{};
    std::uint32_t m_identification = 0;

    bool operator==(const CIpv6FragmentKey&) const = default;
};

struct CIpv6FragmentKeyHash
{
    std::size_t operator()(const CIpv6FragmentKey& key) const noexcept;
};

// The IPv6 fragment table, in the shape of the IPv4 one and with its limits
// and timeout, each table for itself. Unlike IPv4, fragments of a datagram
// may not overlap (RFC 5722): one that does drops the whole datagram, and a
// tombstone in its place turns away the rest of its fragments, those still
// on their way included, until the reassembly timeout. An exact repeat of a
// fragment is not an overlap but a copy the network made (RFC 8200, 4.5),
// and is dropped alone.
class CIpv6FragmentTable
{
public:
    static constexpr std::uint64_t kMaxAgeMs = CIpFragmentTable::kMaxAgeMs;
    static constexpr std::size_t kMaxBytes = CIpFragmentTable::kMaxBytes;
    static constexpr std::size_t kMaxDatagrams = CIpFragmentTable::kMaxDatagrams;
    // The largest payload length field.
    static constexpr std::size_t kMaxPayloadLength = 0xFFFF;

    // Drops every datagram (tombstones included) whose first fragment
    // arrived more than kMaxAgeMs before nowMs.
    void Expire(std::uint64_t nowMs, CDecodeStats& stats);

    // Takes one fragment of data as the walk read it. True when it completed
    // its datagram: then rebuilt holds the datagram with the fragment header
    // taken out (the first fragment's headers before it, then the fragments'
    // payloads in order), and its fragments have left the table.
    bool Add(std::uint64_t nowMs, const CIpv6Datagram& fragment, const std::uint8_t* data,
             std::vector<std::uint8_t>& rebuilt, CDecodeStats& stats);

    std::size_t Bytes() const { return m_datagrams.Bytes(); }
    std::size_t DatagramCount() const { return m_datagrams.Count(); }
    std::size_t FragmentCount() const { return m_datagrams.FragmentCount(); }

private:
    // Payloads by offset: finding a fragment's neighbours is a search
    // whatever order the fragments come in.
    using CFragments = std::map<std::uint32_t, std::vector<std::uint8_t>>;

    static std::uint32_t End(const CFragments::value_type& fragment)
    {
        return fragment.first + static_cast<std::uint32_t>(fragment.second.size());
    }

    struct CDatagram
    {
        CIpv6FragmentKey m_key;
        std::uint64_t m_firstArrivalMs = 0;
        std::size_t m_bytes = 0;
        std::uint32_t m_covered = 0; // payload bytes of the fragments held
        bool m_tombstone = false;
        bool m_hasLast = false;
        std::uint32_t m_end = 0; // where the last fragment ends, once it came
        CFragments m_fragments;  // none overlapping
        // The headers before the fragment header, from the first fragment.
        std::vector<std::uint8_t> m_unfragmentable;
        std::size_t m_nextHeaderAt = 0;
        std::uint8_t m_nextHeader = 0;

        std::size_t FragmentCount() const { return m_fragments.size(); }
    };
    using CDatagrams = CFragmentDatagrams<CDatagram, CIpv6FragmentKey, CIpv6FragmentKeyHash>;

    enum class EPlace
    {
        Fits,
        Repeat,
        Overlaps,
    };

    static EPlace Place(const CDatagram& datagram, CFragments::const_iterator after,
                        std::uint32_t offset, const std::uint8_t* payload, std::size_t length);
    static bool Reassemble(const CDatagram& datagram, std::vector<std::uint8_t>& rebuilt);
    void Bury(CDatagrams::iterator datagram, CDecodeStats& stats);

    CDatagrams m_datagrams;
};

} // namespace zk
