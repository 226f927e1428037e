#include "capture/ipv6_fragment_table.h"

#include <algorithm>
#include <cstring>

namespace zk {

namespace {

// The fragment offset counts 8-octet units, so every fragment but the last
// carries a multiple of 8 bytes (RFC 8200, 4.5).
constexpr std::size_t kFragmentUnit = 8;

std::uint64_t Word(const CIpAddress& address, std::size_t at)
{
    std::uint64_t word;
    std::memcpy(&word, address.data() + at, sizeof word);
    return word;
}

} // namespace

std::size_t CIpv6FragmentKeyHash::operator()(const CIpv6FragmentKey& key) const noexcept
{
    std::uint64_t h = Word(key.m_source, 0) * 0x9E3779B97F4A7C15ull ^
                      Word(key.m_source, 8) * 0xC2B2AE3D27D4EB4Full ^
                      Word(key.m_destination, 0) * 0x165667B19E3779F9ull ^
                      Word(key.m_destination, 8) * 0xD6E8FEB86659FD93ull ^
                      key.m_identification * 0xFF51AFD7ED558CCDull;
    return FinishFragmentKeyHash(h);
}

void CIpv6FragmentTable::Expire(std::uint64_t nowMs, CDecodeStats& stats)
{
    m_datagrams.Expire(nowMs, kMaxAgeMs, stats);
}

bool CIpv6FragmentTable::Add(std::uint64_t nowMs, const CIpv6Datagram& fragment,
                             const std::uint8_t* data, std::vector<std::uint8_t>& rebuilt,
                             CDecodeStats& stats)
{
    std::size_t length = fragment.FragmentPayloadLength();
    const std::uint8_t* payload = data + fragment.FragmentPayloadOffset();
    // A fragment with more to follow that is not a whole number of units
    // cannot be placed (the receiver answers it with an error, RFC 8200
    // 4.5); an empty one adds nothing, and as a first fragment it would lack
    // the TCP header that must come with it (RFC 7112).
    if (fragment.m_moreFragments && (length % kFragmentUnit != 0 || length == 0))
        return false;

    CIpv6FragmentKey key{fragment.m_addresses.m_source, fragment.m_addresses.m_destination,
                         fragment.m_identification};
    CDatagrams::iterator datagram = m_datagrams.FindOrStart(key, nowMs);
    if (datagram->m_tombstone) {
        ++stats.m_fragmentsOverlapping;
        return false;
    }

    std::uint32_t offset = fragment.m_fragmentOffset;
    std::uint32_t end = offset + static_cast<std::uint32_t>(length);
    if (end > kMaxPayloadLength) {
        // It can never be rebuilt, and waiting would only hold memory.
        ++stats.m_datagramsTooLong;
        m_datagrams.Remove(datagram);
        return false;
    }
    auto& fragments = datagram->m_fragments;
    // Fragments that disagree on where the datagram ends are as ambiguous
    // as overlapping ones.
    bool conflicts = datagram->m_hasLast &&
                     (fragment.m_moreFragments ? end > datagram->m_end : end != datagram->m_end);
    if (!fragment.m_moreFragments && !fragments.empty() && End(*fragments.rbegin()) > end)
        conflicts = true;
    // Fragments mostly come in order, and one after the last needs no search.
    auto after = fragments.empty() || fragments.rbegin()->first < offset
                     ? fragments.end()
                     : fragments.upper_bound(offset);
    EPlace place = conflicts ? EPlace::Overlaps : Place(*datagram, after, offset, payload, length);
    if (place == EPlace::Repeat) {
        ++stats.m_fragmentsRepeated;
        return false;
    }
    if (place == EPlace::Overlaps) {
        Bury(datagram, stats);
        m_datagrams.EnforceLimits(kMaxBytes, kMaxDatagrams, stats);
        return false;
    }

    fragments.emplace_hint(after, offset, std::vector<std::uint8_t>(payload, payload + length));
    std::size_t added = length;
    if (offset == 0) {
        datagram->m_unfragmentable.assign(data, data + fragment.m_upperOffset);
        datagram->m_nextHeaderAt = fragment.m_nextHeaderAt;
        datagram->m_nextHeader = fragment.m_fragmentNextHeader;
        added += fragment.m_upperOffset;
    }
    m_datagrams.AddBytes(datagram, added);
    datagram->m_covered += length;
    if (!fragment.m_moreFragments) {
        datagram->m_hasLast = true;
        datagram->m_end = end;
    }

    bool complete = false;
    // No two fragments overlap and none reaches past the end, so the
    // datagram is whole once they cover as many bytes as it has.
    if (datagram->m_hasLast && datagram->m_covered == datagram->m_end)
        complete = m_datagrams.Complete(datagram, Reassemble(*datagram, rebuilt), stats);
    m_datagrams.EnforceLimits(kMaxBytes, kMaxDatagrams, stats);
    return complete;
}

// A fragment fits between its neighbours when it neither begins before the
// one in front of it ends nor ends after the one behind it begins. One of
// the same offset, length and bytes as the one in front is a repeat.
CIpv6FragmentTable::EPlace
CIpv6FragmentTable::Place(const CDatagram& datagram, CFragments::const_iterator after,
                          std::uint32_t offset, const std::uint8_t* payload, std::size_t length)
{
    std::uint32_t end = offset + static_cast<std::uint32_t>(length);
    if (after != datagram.m_fragments.begin()) {
        const auto& before = *std::prev(after);
        if (before.first == offset && before.second.size() == length &&
            std::equal(before.second.begin(), before.second.end(), payload))
            return EPlace::Repeat;
        if (End(before) > offset)
            return EPlace::Overlaps;
    }
    if (after != datagram.m_fragments.end() && after->first < end)
        return EPlace::Overlaps;
    return EPlace::Fits;
}

bool CIpv6FragmentTable::Reassemble(const CDatagram& datagram, std::vector<std::uint8_t>& rebuilt)
{
    std::size_t payloadLength =
        datagram.m_unfragmentable.size() - kIpv6HeaderLength + datagram.m_end;
    if (payloadLength > kMaxPayloadLength)
        return false;
    rebuilt.clear();
    rebuilt.reserve(kIpv6HeaderLength + payloadLength);
    rebuilt = datagram.m_unfragmentable;
    // The header before the fragment header now names what followed it.
    rebuilt[datagram.m_nextHeaderAt] = datagram.m_nextHeader;
    rebuilt[4] = static_cast<std::uint8_t>(payloadLength >> 8);
    rebuilt[5] = static_cast<std::uint8_t>(payloadLength);
    for (const auto& [offset, payload] : datagram.m_fragments)
        rebuilt.insert(rebuilt.end(), payload.begin(), payload.end());
    return true;
}

// The datagram's fragments go, and it stays as a tombstone until it ages
// out: its remaining fragments would otherwise start a new datagram that a
// retransmitted set could complete with the wrong bytes.
void CIpv6FragmentTable::Bury(CDatagrams::iterator datagram, CDecodeStats& stats)
{
    stats.m_fragmentsOverlapping += datagram->m_fragments.size() + 1;
    m_datagrams.DropBytes(datagram);
    datagram->m_covered = 0;
    datagram->m_tombstone = true;
    datagram->m_fragments.clear();
    datagram->m_unfragmentable.clear();
    datagram->m_unfragmentable.shrink_to_fit();
}

} // namespace zk
