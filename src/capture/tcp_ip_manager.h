#pragma once

#include "capture/decode_limits.h"
#include "capture/ip_manager.h"
#include "capture/tcp_ip_packet.h"
#include "capture/tcp_ip_stream_info.h"
#include "capture/tcp_ip_stream_map.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <list>

namespace zk {

// TCP segments in, from the datagram layer of either family; keeps the stream table. Only streams
// whose SYN was seen are followed; each segment for one of them goes on to
// T::StreamSegmentIn. The table is bounded: streams idle too long, the least
// recently active beyond the number of streams, and the one that has waited
// longest for a gap beyond what all caches may hold are retired, and
// T::OnStreamRetired hears of each.
template <class T> class CTcpIpManager : public CIpManager<T>
{
public:
    // The bounds of the stream table; CDecodeLimits gives the reasons.
    static constexpr std::uint64_t kStreamIdleMs = CDecodeLimits<T>::kStreamIdleMs;
    static constexpr std::size_t kMaxStreams = CDecodeLimits<T>::kMaxStreams;
    static constexpr std::size_t kMaxStreamCacheBytes = CDecodeLimits<T>::kMaxStreamCacheBytes;
    static constexpr std::size_t kMaxStreamCacheSegments =
        CDecodeLimits<T>::kMaxStreamCacheSegments;
    static constexpr std::size_t kMaxCacheBytes = CDecodeLimits<T>::kMaxCacheBytes;

    CTcpIpManager() : m_index(kMaxStreams) {}
    CTcpIpManager(const CTcpIpManager&) = delete;
    CTcpIpManager& operator=(const CTcpIpManager&) = delete;

    // A whole TCP segment of tcpLength bytes at datagram + tcpOffset, as
    // the datagram layer of either family found it.
    void TcpSegmentIn(const CIpAddressPair& ip, const std::uint8_t* datagram, std::size_t tcpOffset,
                      std::size_t tcpLength)
    {
        ExpireIdleStreams();
        CTcpIpPacket segment;
        if (!ParseTcpIpPacket(ip, datagram + tcpOffset, tcpLength, segment))
            return;
        CTcpIpStreamKey key = segment.Key();
        // A SYN (with or without ACK) opens the stream, or restarts it when
        // the ports are used again; bytes it may carry are not delivered.
        if (segment.m_flags & kTcpFlagSyn) {
            OpenStream(key, segment.m_sequence + 1);
            return;
        }
        auto* found = m_index.Find(key);
        if (!found)
            return;
        Touch(*found);
        CStream& stream = **found;
        // Pure acknowledgements, FIN and RST without data.
        if (segment.m_payloadLength == 0)
            return;
        static_cast<T*>(this)->StreamSegmentIn(stream, segment);
    }

    std::size_t StreamCount() const { return m_streams.size(); }

    const CTcpIpStreamInfo* FindStream(const CTcpIpStreamKey& key) const
    {
        auto* found = m_index.Find(key);
        return found ? &**found : nullptr;
    }

protected:
    // Keeps the bytes of a run ahead of the stream that its cache does not
    // hold yet; false when they would take the stream's cache beyond its
    // limits, and the run is refused. The limits count what the cache costs
    // (payload and bookkeeping), not only the bytes it holds.
    bool CacheSegment(CTcpIpStreamInfo& info, std::uint32_t sequence, const std::uint8_t* payload,
                      std::size_t length)
    {
        CStream& stream = static_cast<CStream&>(info);
        CTcpIpCacheCost cost = stream.m_cache.CostOf(sequence, length);
        if (stream.m_cache.RunCount() + cost.m_runs > kMaxStreamCacheSegments ||
            stream.m_cache.Cost() + cost.m_bytes > kMaxStreamCacheBytes) {
            ++this->m_stats.m_segmentsRefused;
            return false;
        }
        stream.m_cache.Cache(sequence, payload, length);
        this->m_stats.m_segmentBytes += cost.m_bytes;
        if (!stream.m_holdsCache)
            Hold(stream);
        // Under pressure the stream that has waited longest for its gap
        // gives its cache up first: being active is no merit when the
        // segments only pile up behind the same hole.
        while (this->m_stats.m_segmentBytes > kMaxCacheBytes) {
            auto oldest = std::prev(m_cacheHolders.end());
            if (*oldest == &stream) {
                if (oldest == m_cacheHolders.begin())
                    break;
                --oldest;
            }
            Retire(*m_index.Find((*oldest)->m_key), this->m_stats.m_cacheEvictions);
        }
        return true;
    }

    // Runs change(), which may deliver from the stream's cache, and keeps the
    // table's account of it: the bytes all caches hold, and which streams
    // hold some. A stream that moved on but still holds runs waits behind a
    // new gap, so it counts as waiting from now.
    template <class F> void UpdateCache(CTcpIpStreamInfo& info, F&& change)
    {
        CStream& stream = static_cast<CStream&>(info);
        std::size_t cost = stream.m_cache.Cost();
        std::uint32_t next = stream.m_cache.Next();
        change();
        this->m_stats.m_segmentBytes -= cost - stream.m_cache.Cost();
        if (stream.m_cache.Empty())
            Unlink(stream);
        else if (stream.m_holdsCache && stream.m_cache.Next() != next)
            m_cacheHolders.splice(m_cacheHolders.begin(), m_cacheHolders, stream.m_cacheLink);
    }

private:
    struct CStream : CTcpIpStreamInfo
    {
        bool m_holdsCache = false;
        typename std::list<CStream*>::iterator m_cacheLink; // valid while m_holdsCache
    };
    using CStreamList = std::list<CStream>;

    void OpenStream(const CTcpIpStreamKey& key, std::uint32_t next)
    {
        if (auto* found = m_index.Find(key)) {
            CStream& stream = **found;
            ClearCache(stream);
            stream.m_cache.Reset(next);
            Touch(*found);
            return;
        }
        while (m_streams.size() >= kMaxStreams)
            Retire(std::prev(m_streams.end()), this->m_stats.m_streamsEvicted);
        m_streams.emplace_front();
        CStream& stream = m_streams.front();
        stream.m_key = key;
        stream.m_cache.Reset(next);
        stream.m_lastActiveMs = this->Now();
        m_index.Insert(key, m_streams.begin());
        this->m_stats.m_streams = m_streams.size();
        if (this->m_stats.m_peakStreams < m_streams.size())
            this->m_stats.m_peakStreams = m_streams.size();
    }

    // Streams are kept in order of activity, so only the least recently
    // active ones need looking at: the cost does not grow with the table.
    void ExpireIdleStreams()
    {
        std::uint64_t now = this->Now();
        while (!m_streams.empty()) {
            const CStream& oldest = m_streams.back();
            if (now < oldest.m_lastActiveMs || now - oldest.m_lastActiveMs <= kStreamIdleMs)
                break;
            Retire(std::prev(m_streams.end()), this->m_stats.m_streamsExpired);
        }
    }

    void Touch(typename CStreamList::iterator stream)
    {
        stream->m_lastActiveMs = this->Now();
        m_streams.splice(m_streams.begin(), m_streams, stream);
    }

    // The stream has just begun to wait for a gap.
    void Hold(CStream& stream)
    {
        m_cacheHolders.push_front(&stream);
        stream.m_cacheLink = m_cacheHolders.begin();
        stream.m_holdsCache = true;
    }

    void Retire(typename CStreamList::iterator stream, std::uint64_t& reason)
    {
        CTcpIpStreamKey key = stream->m_key;
        ClearCache(*stream);
        m_index.Erase(key);
        m_streams.erase(stream);
        this->m_stats.m_streams = m_streams.size();
        ++reason;
        static_cast<T*>(this)->OnStreamRetired(key);
    }

    void ClearCache(CStream& stream)
    {
        this->m_stats.m_segmentBytes -= stream.m_cache.Cost();
        stream.m_cache.Clear();
        Unlink(stream);
    }

    void Unlink(CStream& stream)
    {
        if (!stream.m_holdsCache)
            return;
        m_cacheHolders.erase(stream.m_cacheLink);
        stream.m_holdsCache = false;
    }

    // Most recently active first.
    CStreamList m_streams;
    CTcpIpStreamMap<typename CStreamList::iterator> m_index;
    // The streams whose cache holds runs, the one that began waiting for
    // its gap most recently first.
    std::list<CStream*> m_cacheHolders;
};

} // namespace zk
