#include "capture/ip_fragment_table.h"

#include <algorithm>

namespace zk {

std::size_t CIpFragmentKeyHash::operator()(const CIpFragmentKey& key) const noexcept
{
    std::uint64_t a = 0;
    for (std::uint8_t b : key.m_source)
        a = a << 8 | b;
    for (std::uint8_t b : key.m_destination)
        a = a << 8 | b;
    std::uint64_t h =
        a ^ (std::uint64_t(key.m_protocol) << 16 | key.m_identification) * 0x9E3779B97F4A7C15ull;
    return FinishFragmentKeyHash(h);
}

void CIpFragmentTable::Expire(std::uint64_t nowMs, CDecodeStats& stats)
{
    m_datagrams.Expire(nowMs, kMaxAgeMs, stats);
    stats.m_fragmentBytes = m_datagrams.Bytes();
}

bool CIpFragmentTable::Add(std::uint64_t nowMs, const CIpHeader& header, const std::uint8_t* data,
                           CIpPacket& rebuilt, CDecodeStats& stats)
{
    CIpFragmentKey key{header.m_source, header.m_destination, header.m_protocol,
                       header.m_identification};
    CDatagrams::iterator datagram = m_datagrams.FindOrStart(key, nowMs);

    ++m_steps;
    // Fragments mostly come in order, and one after the last needs no search.
    auto& fragments = datagram->m_fragments;
    std::uint16_t offset = header.m_fragmentOffset;
    auto place = fragments.empty() || fragments.rbegin()->first < offset
                     ? fragments.end()
                     : fragments.lower_bound(offset);
    if (place == fragments.end() || place->first != offset)
        place = fragments.emplace_hint(place, offset, COffset{});
    COffset& at = place->second;
    bool empty = header.PayloadLength() == 0 && (header.m_flags & kIpFlagMoreFragments);
    CIpPacketPtr& slot = empty ? at.m_empty : at.m_fragment;
    // Nothing after a fragment with payload is taken at its offset, and of
    // the empty ones only the first.
    if (at.m_fragment || slot) {
        ++stats.m_fragmentsRepeated;
        stats.m_fragmentBytes = m_datagrams.Bytes();
        return false;
    }
    slot = std::make_shared<CIpPacket>();
    slot->m_header = header;
    slot->m_bytes.assign(data, data + header.m_totalLength);
    ++datagram->m_fragmentCount;
    m_datagrams.AddBytes(datagram, header.m_totalLength);

    bool complete = false;
    // Only a fragment where the walk stopped can move it on.
    // One too long can never be rebuilt, and waiting would only hold memory.
    if (offset == datagram->m_covered && Walk(*datagram, place))
        complete = m_datagrams.Complete(datagram, Reassemble(*datagram, rebuilt), stats);
    m_datagrams.EnforceLimits(kMaxBytes, kMaxDatagrams, stats);
    stats.m_fragmentBytes = m_datagrams.Bytes();
    return complete;
}

// The walk goes from offset 0 through the fragments in order of offset: at
// the offset it has reached it takes the empty fragment and then the one with
// payload, which moves it past that offset, and the first fragment without
// more to follow completes the datagram. Fragments at offsets it passes
// over (repeats or overlaps of what is covered) are skipped whole, so the
// first copy of a byte wins. Each step takes or passes an offset for good, so a
// datagram's walks together take each fragment once, whatever the order.
bool CIpFragmentTable::Walk(CDatagram& datagram, CFragments::iterator at)
{
    for (;;) {
        if (!at->second.m_fragment)
            return false; // only an empty fragment: a hole
        const CIpHeader& header = at->second.m_fragment->m_header;
        datagram.m_covered += static_cast<std::uint32_t>(header.PayloadLength());
        if (!(header.m_flags & kIpFlagMoreFragments))
            return true;
        // Offsets the walk passes over now are never looked at again.
        do {
            ++at;
            ++m_steps;
        } while (at != datagram.m_fragments.end() && at->first < datagram.m_covered);
        if (at == datagram.m_fragments.end() || at->first != datagram.m_covered)
            return false; // a hole
    }
}

bool CIpFragmentTable::Reassemble(const CDatagram& datagram, CIpPacket& rebuilt)
{
    // The walk again, over the fragments in order, once.
    std::uint32_t covered = 0;
    std::vector<const CIpPacket*> taken;
    for (const auto& [offset, fragments] : datagram.m_fragments) {
        if (offset != covered)
            continue; // repeats or overlaps what is covered: skipped whole
        if (fragments.m_empty)
            taken.push_back(fragments.m_empty.get());
        taken.push_back(fragments.m_fragment.get());
        covered += static_cast<std::uint32_t>(fragments.m_fragment->m_header.PayloadLength());
        if (!(fragments.m_fragment->m_header.m_flags & kIpFlagMoreFragments))
            break;
    }

    const CIpPacket& first = *taken.front();
    std::size_t headerLength = first.m_header.m_headerLength;
    if (headerLength + covered > kMaxDatagramLength)
        return false;
    CIpHeader& header = rebuilt.m_header;
    header = first.m_header;
    header.m_totalLength = static_cast<std::uint16_t>(headerLength + covered);
    header.m_flags = static_cast<std::uint8_t>(header.m_flags & ~kIpFlagMoreFragments);
    header.m_fragmentOffset = 0;

    std::vector<std::uint8_t>& bytes = rebuilt.m_bytes;
    bytes.clear();
    bytes.reserve(header.m_totalLength);
    bytes.insert(bytes.end(), first.m_bytes.begin(),
                 first.m_bytes.begin() + static_cast<std::ptrdiff_t>(headerLength));
    // The fixed header is written again from the fields; the checksum is
    // copied unchanged and the reserved flag is not carried.
    bytes[0] = static_cast<std::uint8_t>(header.m_version * 16 + headerLength / 4);
    bytes[1] = header.m_typeOfService;
    bytes[2] = static_cast<std::uint8_t>(header.m_totalLength >> 8);
    bytes[3] = static_cast<std::uint8_t>(header.m_totalLength);
    bytes[4] = static_cast<std::uint8_t>(header.m_identification >> 8);
    bytes[5] = static_cast<std::uint8_t>(header.m_identification);
    bytes[6] = (header.m_flags & kIpFlagDontFragment) ? 64 : 0;
    bytes[7] = 0;
    bytes[8] = header.m_timeToLive;
    bytes[9] = header.m_protocol;
    bytes[10] = static_cast<std::uint8_t>(header.m_headerChecksum >> 8);
    bytes[11] = static_cast<std::uint8_t>(header.m_headerChecksum);
    std::copy(header.m_source.begin(), header.m_source.end(), bytes.begin() + 12);
    std::copy(header.m_destination.begin(), header.m_destination.end(), bytes.begin() + 16);
    for (const CIpPacket* fragment : taken) {
        auto payload = fragment->m_bytes.begin() + fragment->m_header.m_headerLength;
        bytes.insert(bytes.end(), payload,
                     payload + static_cast<std::ptrdiff_t>(fragment->m_header.PayloadLength()));
    }
    return true;
}

} // namespace zk
