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
// the received datagram; only segments ahead of it are copied, into its cache
// (CTcpIpReorderCache), which delivers them in one pass once the gap closes.
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
        auto deliver = [this, &stream](const std::uint8_t* data, std::size_t length) {
            static_cast<T*>(this)->StreamDataIn(stream, data, length);
        };
        std::uint32_t sequence = segment.m_sequence;
        const std::uint8_t* payload = segment.m_payload;
        std::size_t length = segment.m_payloadLength;
        // Each turn after the first follows a skipped gap, which took at
        // least one run out of the cache or delivered this segment, so the
        // loop ends.
        for (;;) {
            switch (stream.m_cache.Place(sequence, length).m_place) {
            case ETcpSegmentPlace::Ahead:
                if (this->CacheSegment(stream, sequence, payload, length))
                    return;
                SkipGap(stream, sequence, deliver);
                continue;
            case ETcpSegmentPlace::Old:
                return;
            case ETcpSegmentPlace::New:
                this->UpdateCache(
                    stream, [&] { stream.m_cache.Continue(sequence, payload, length, deliver); });
                return;
            }
        }
    }

private:
    // The stream's cache is full and a segment beyond the gap was refused.
    // The bytes of the gap will not come: the receiver already has them, so
    // its sender does not send them again, and waiting would stall the
    // stream, every later response on the connection included, until a new
    // SYN. The stream resumes instead at the earliest byte it holds, a
    // cached run's or the refused segment's, and the layer above hears of
    // the gap.
    template <class F> void SkipGap(CTcpIpStreamInfo& stream, std::uint32_t refused, F& deliver)
    {
        ++this->m_stats.m_gapsSkipped;
        static_cast<T*>(this)->OnStreamGap(stream.m_key);
        this->UpdateCache(stream, [&] { stream.m_cache.SkipGap(refused, deliver); });
    }
};

} // namespace zk
