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
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<std::size_t>(h);
}

std::size_t CIpFragmentTable::FragmentCount() const
{
    std::size_t count = 0;
    for (const CDatagram& datagram : m_datagrams)
        count += datagram.m_fragments.size();
    return count;
}

void CIpFragmentTable::Expire(std::uint64_t nowMs, CDecodeStats& stats)
{
    while (!m_datagrams.empty()) {
        const CDatagram& oldest = m_datagrams.front();
        if (nowMs < oldest.m_firstArrivalMs || nowMs - oldest.m_firstArrivalMs <= kMaxAgeMs)
            break;
        stats.m_fragmentsExpired += oldest.m_fragments.size();
        Remove(m_datagrams.begin());
    }
    stats.m_fragmentBytes = m_bytes;
}

bool CIpFragmentTable::Add(std::uint64_t nowMs, const CIpHeader& header, const std::uint8_t* data,
                           CIpPacket& rebuilt, CDecodeStats& stats)
{
    CIpFragmentKey key{header.m_source, header.m_destination, header.m_protocol,
                       header.m_identification};
    auto found = m_index.find(key);
    if (found == m_index.end()) {
        m_datagrams.push_back(CDatagram{key, nowMs, 0, false, {}});
        found = m_index.emplace(key, std::prev(m_datagrams.end())).first;
    }
    CDatagramList::iterator datagram = found->second;

    auto& fragments = datagram->m_fragments;
    auto [same, after] = std::equal_range(fragments.begin(), fragments.end(),
                                          header.m_fragmentOffset, COffsetLess());
    if (IsRedundant(same, after, header)) {
        ++stats.m_fragmentsRepeated;
        stats.m_fragmentBytes = m_bytes;
        return false;
    }

    auto fragment = std::make_shared<CIpPacket>();
    fragment->m_header = header;
    fragment->m_bytes.assign(data, data + header.m_totalLength);
    // Inserting after every fragment of the same offset keeps arrival order
    // among equals, so the earlier copy of a duplicate is the one taken.
    fragments.insert(after, fragment);
    datagram->m_bytes += header.m_totalLength;
    m_bytes += header.m_totalLength;
    if (!(header.m_flags & kIpFlagMoreFragments))
        datagram->m_hasLast = true;

    bool complete = false;
    // Without a last fragment no walk can end, so it is not tried.
    if (datagram->m_hasLast) {
        switch (Reassemble(*datagram, rebuilt)) {
        case EReassembly::Incomplete:
            break;
        case EReassembly::Complete:
            complete = true;
            ++stats.m_datagramsRebuilt;
            Remove(datagram);
            break;
        case EReassembly::TooLong:
            // It can never be rebuilt, and waiting would only hold memory.
            ++stats.m_datagramsTooLong;
            Remove(datagram);
            break;
        }
    }
    EnforceLimits(stats);
    stats.m_fragmentBytes = m_bytes;
    return complete;
}

// The walk takes the fragments of one offset in arrival order, as long as
// each adds nothing (no payload) and has more fragments to follow: the
// first that carries payload moves the covered count past the offset, and
// the first without more fragments completes the datagram. Any later
// fragment of that offset is skipped, so it is not even kept: a flood of
// repeated fragments over a hole costs a search each, not a walk over all
// the repeats before it. Of the empty fragments only the first is kept, as
// the rest add nothing either; the first may still give the rebuilt header.
bool CIpFragmentTable::IsRedundant(CFragments::const_iterator same,
                                   CFragments::const_iterator after, const CIpHeader& header)
{
    for (auto at = same; at != after; ++at) {
        const CIpHeader& earlier = (*at)->m_header;
        if (earlier.PayloadLength() > 0 || !(earlier.m_flags & kIpFlagMoreFragments))
            return true;
        if (header.PayloadLength() == 0 && (header.m_flags & kIpFlagMoreFragments))
            return true;
    }
    return false;
}

CIpFragmentTable::EReassembly CIpFragmentTable::Reassemble(const CDatagram& datagram,
                                                           CIpPacket& rebuilt)
{
    // The covered count is wider than 16 bits so that a datagram too long
    // for its total length field is seen as such rather than wrapping round.
    std::uint32_t covered = 0;
    std::vector<const CIpPacket*> taken;
    bool complete = false;
    for (const CIpPacketPtr& fragment : datagram.m_fragments) {
        std::uint32_t offset = fragment->m_header.m_fragmentOffset;
        if (offset > covered)
            return EReassembly::Incomplete; // a hole
        if (offset < covered)
            continue; // repeats or overlaps what is covered: skipped whole
        taken.push_back(fragment.get());
        covered += static_cast<std::uint32_t>(fragment->m_header.PayloadLength());
        if (!(fragment->m_header.m_flags & kIpFlagMoreFragments)) {
            complete = true;
            break;
        }
    }
    if (!complete)
        return EReassembly::Incomplete;

    const CIpPacket& first = *taken.front();
    std::size_t headerLength = first.m_header.m_headerLength;
    if (headerLength + covered > kMaxDatagramLength)
        return EReassembly::TooLong;

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
    return EReassembly::Complete;
}

void CIpFragmentTable::Remove(CDatagramList::iterator datagram)
{
    m_bytes -= datagram->m_bytes;
    m_index.erase(datagram->m_key);
    m_datagrams.erase(datagram);
}

void CIpFragmentTable::EnforceLimits(CDecodeStats& stats)
{
    while (!m_datagrams.empty() && (m_bytes > kMaxBytes || m_datagrams.size() > kMaxDatagrams)) {
        stats.m_fragmentsEvicted += m_datagrams.front().m_fragments.size();
        Remove(m_datagrams.begin());
    }
}

} // namespace zk
