#pragma once

#include "capture/decode_stats.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <list>
#include <unordered_map>

namespace zk {

// What the IPv4 and IPv6 fragment tables keep alike: the datagrams being
// put together, oldest first and found by key, the bytes they hold, and
// their end by age or by the table's limits. A datagram type D has m_key,
// m_firstArrivalMs and m_bytes, and says how many fragments it holds with
// FragmentCount().
template <class D, class Key, class Hash> class CFragmentDatagrams
{
public:
    using CList = std::list<D>;
    using iterator = typename CList::iterator;

    // The datagram the key names, started at nowMs when there is none yet.
    iterator FindOrStart(const Key& key, std::uint64_t nowMs)
    {
        auto found = m_index.find(key);
        if (found != m_index.end())
            return found->second;
        m_datagrams.push_back(D{});
        m_datagrams.back().m_key = key;
        m_datagrams.back().m_firstArrivalMs = nowMs;
        return m_index.emplace(key, std::prev(m_datagrams.end())).first->second;
    }

    // Drops every datagram whose first fragment arrived more than maxAgeMs
    // before nowMs. A clock that went back drops nothing.
    void Expire(std::uint64_t nowMs, std::uint64_t maxAgeMs, CDecodeStats& stats)
    {
        while (!m_datagrams.empty()) {
            const D& oldest = m_datagrams.front();
            if (nowMs < oldest.m_firstArrivalMs || nowMs - oldest.m_firstArrivalMs <= maxAgeMs)
                break;
            stats.m_fragmentsExpired += oldest.FragmentCount();
            Remove(m_datagrams.begin());
        }
    }

    // Drops the oldest datagrams while the table holds more than it may.
    void EnforceLimits(std::size_t maxBytes, std::size_t maxDatagrams, CDecodeStats& stats)
    {
        while (!m_datagrams.empty() && (m_bytes > maxBytes || m_datagrams.size() > maxDatagrams)) {
            stats.m_fragmentsEvicted += m_datagrams.front().FragmentCount();
            Remove(m_datagrams.begin());
        }
    }

    // Ends a datagram whose fragments have all come, counting whether it
    // could be put together (rebuilt) or would be too long; answers rebuilt.
    bool Complete(iterator datagram, bool rebuilt, CDecodeStats& stats)
    {
        if (rebuilt)
            ++stats.m_datagramsRebuilt;
        else
            ++stats.m_datagramsTooLong;
        Remove(datagram);
        return rebuilt;
    }

    void Remove(iterator datagram)
    {
        m_bytes -= datagram->m_bytes;
        m_index.erase(datagram->m_key);
        m_datagrams.erase(datagram);
    }

    // The datagram's bytes grow, and the table's with them; or all of them
    // go while the datagram stays.
    void AddBytes(iterator datagram, std::size_t bytes)
    {
        datagram->m_bytes += bytes;
        m_bytes += bytes;
    }
    void DropBytes(iterator datagram)
    {
        m_bytes -= datagram->m_bytes;
        datagram->m_bytes = 0;
    }

    std::size_t Bytes() const { return m_bytes; }
    std::size_t Count() const { return m_datagrams.size(); }
    std::size_t FragmentCount() const
    {
        std::size_t count = 0;
        for (const D& datagram : m_datagrams)
            count += datagram.FragmentCount();
        return count;
    }

private:
    // Oldest first: ageing and the limits both drop from the front.
    CList m_datagrams;
    std::unordered_map<Key, iterator, Hash> m_index;
    std::size_t m_bytes = 0;
};

// The last steps of both keys' hashes: the mixed fields are spread so that
// keys differing in few bits land far apart.
inline std::size_t FinishFragmentKeyHash(std::uint64_t h)
{
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<std::size_t>(h);
}

} // namespace zk
