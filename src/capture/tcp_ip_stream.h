#pragma once

#include "capture/tcp_ip_manager.h"
#include "capture/tcp_ip_packet.h"
#include "capture/tcp_ip_sequence.h"
#include "capture/tcp_ip_stream_info.h"

#include <cstddef>
#include <cstdint>

namespace zk {

// Ordered byte streams, one per direction of a connection: every run of new
// in-order bytes goes to T::StreamDataIn exactly once, whatever order the
// segments arrive in. A segment that continues its stream is delivered from
// the received datagram; only segments ahead of it are copied, into its cache.
template <class T> class CTcpIpStream : public CTcpIpManager<T>
{
public:
    // The layer above hides this to forget what it holds for a stream that
    // the table retired (idle, or dropped for a bound). A SYN that restarts
    // a stream is not a retirement.
    void OnStreamRetired(const CTcpIpStreamKey&) {}

    // The stream gave up bytes it was waiting for (see SkipGap): whatever the
    // layer above holds for it lacks them. The layer above hides this; by
    // default it hears it as a retirement, which makes it forget the
    // response in progress and look for the next one in what follows.
    void OnStreamGap(const CTcpIpStreamKey& key) { static_cast<T*>(this)->OnStreamRetired(key); }

    // A segment with payload for a stream of the table.
    void StreamSegmentIn(CTcpIpStreamInfo& stream, const CTcpIpPacket& segment)
    {
        // Each turn after the first follows a skipped gap, which took at
        // least one segment out of the cache or delivered this one, so the
        // loop ends.
        for (;;) {
            switch (DeliverNewBytes(stream, segment.m_sequence, segment.m_payload,
                                    segment.m_payloadLength)) {
            case ETcpSegmentPlace::Ahead:
                if (this->CacheSegment(stream, segment.m_sequence, segment.m_payload,
                                       segment.m_payloadLength))
                    return;
                SkipGap(stream, segment.m_sequence);
                continue;
            case ETcpSegmentPlace::Old:
                return;
            case ETcpSegmentPlace::New:
                DrainCache(stream);
                return;
            }
        }
    }

private:
    ETcpSegmentPlace DeliverNewBytes(CTcpIpStreamInfo& stream, std::uint32_t sequence,
                                     const std::uint8_t* data, std::size_t length)
    {
        CTcpSegmentPlace place =
            PlaceTcpSegment(sequence, static_cast<std::uint32_t>(length), stream.m_nextSequence);
        if (place.m_place == ETcpSegmentPlace::New) {
            std::size_t skip = length - place.m_newBytes;
            static_cast<T*>(this)->StreamDataIn(stream, data + skip, place.m_newBytes);
            stream.m_nextSequence += place.m_newBytes;
        }
        return place.m_place;
    }

    // The stream's cache is full and a segment beyond the gap was refused.
    // The bytes of the gap will not come: the receiver already has them, so
    // its sender does not send them again, and waiting would stall the
    // stream, every later response on the connection included, until a new
    // SYN. The stream resumes instead at the earliest byte it holds, a
    // cached segment's or the refused one's, and the layer above hears of
    // the gap. Everything cached lies ahead of the next byte, so the
    // earliest is the one at the shortest distance ahead (modulo 2^32).
    void SkipGap(CTcpIpStreamInfo& stream, std::uint32_t refused)
    {
        std::uint32_t next = stream.m_nextSequence;
        std::uint32_t resume = refused;
        for (const CTcpIpCachedSegment& cached : stream.m_cache) {
            if (cached.m_sequence - next < resume - next)
                resume = cached.m_sequence;
        }
        ++this->m_stats.m_gapsSkipped;
        static_cast<T*>(this)->OnStreamGap(stream.m_key);
        stream.m_nextSequence = resume;
        if (resume != refused)
            DrainCache(stream);
    }

    // Walks the cache from the front: what has become old leaves it, what now
    // continues the stream is delivered and leaves it, what lies ahead stays.
    // A walk that delivered something may have closed the gap before an
    // entry it passed, so it is repeated until one delivers nothing.
    void DrainCache(CTcpIpStreamInfo& stream)
    {
        bool delivered = true;
        while (delivered && !stream.m_cache.empty()) {
            delivered = false;
            for (auto it = stream.m_cache.begin(); it != stream.m_cache.end();) {
                ETcpSegmentPlace place = DeliverNewBytes(
                    stream, it->m_sequence, it->m_payload.data(), it->m_payload.size());
                if (place == ETcpSegmentPlace::Ahead) {
                    ++it;
                    continue;
                }
                delivered = delivered || place == ETcpSegmentPlace::New;
                it = this->UncacheSegment(stream, it);
            }
        }
    }
};

} // namespace zk
