#pragma once

#include "capture/tcp_ip_sequence.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace zk {

// The bytes a limit on a reorder cache must count for a run: its payload and
// the bookkeeping that holds it.
struct CTcpIpCacheCost
{
    std::size_t m_bytes = 0; // payload and bookkeeping together
    std::size_t m_runs = 0;
};

// One direction's position in its byte stream and the runs of bytes that
// arrived ahead of it, without any packet around them. The runs are keyed by
// their place in the stream counted from where it started, a count that
// does not wrap, so the map keeps them in order of their distance from the
// next byte and the first entry is always the next one to deliver. Only
// bytes the cache does not hold yet are kept, so runs never overlap: the
// first copy of a byte to arrive is the one delivered, and delivering is one
// pass over the front of the map.
class CTcpIpReorderCache
{
public:
    // What each run costs beside its payload: the map node (tree links, key
    // and vector, 64 bytes) and the headers and rounding of its two
    // allocations. Hostile runs of one byte each need not touch, so without
    // this a limit on payload bytes alone bounds nothing.
    static constexpr std::size_t kRunOverheadBytes = 96;
    // The allocator hands out payloads in steps of this many bytes.
    static constexpr std::size_t kAllocationStep = 16;

    static constexpr std::size_t RunCost(std::size_t length)
    {
        return kRunOverheadBytes +
               (length + kAllocationStep - 1) / kAllocationStep * kAllocationStep;
    }

    // Starts over at next with nothing cached (a SYN, or a new stream).
    void Reset(std::uint32_t next);

    std::uint32_t Next() const { return m_next; }
    // The place in the stream of the next byte to deliver, counted from
    // Reset (skipped gaps included); while a piece is being delivered, the
    // place of its first byte.
    std::uint64_t Position() const { return m_position; }
    bool Empty() const { return m_runs.empty(); }
    std::size_t RunCount() const { return m_runs.size(); }
    std::size_t Bytes() const { return m_bytes; } // payload bytes cached
    std::size_t Cost() const { return m_cost; }   // what the limits count
    // Runs and stretches looked at so far: the work the cache did, for
    // tests and benchmarks to count.
    std::uint64_t Steps() const { return m_steps; }

    CTcpSegmentPlace Place(std::uint32_t sequence, std::size_t length) const
    {
        return PlaceTcpSegment(sequence, static_cast<std::uint32_t>(length), m_next);
    }

    // A run that continues the stream (Place said New): deliver(data, length)
    // takes its new tail, then every cached run the stream now reaches, in
    // one pass. Runs that became old on the way leave the cache unseen.
    template <class F>
    void Continue(std::uint32_t sequence, const std::uint8_t* data, std::size_t length, F&& deliver)
    {
        CTcpSegmentPlace place = Place(sequence, length);
        if (place.m_place != ETcpSegmentPlace::New)
            return;
        // Delivered before the cache moves on, so that the layer above sees
        // where in the stream the piece lies (Position).
        deliver(data + (length - place.m_newBytes), std::size_t(place.m_newBytes));
        Advance(place.m_newBytes);
        Drain(deliver);
    }

    // What keeping a run that lies ahead (Place said Ahead) would add: the
    // pieces of it the cache does not hold yet.
    CTcpIpCacheCost CostOf(std::uint32_t sequence, std::size_t length) const;

    // Keeps the pieces of a run ahead that the cache does not hold yet.
    void Cache(std::uint32_t sequence, const std::uint8_t* data, std::size_t length);

    // Gives up the bytes before the earliest one held, a cached run's or
    // the one at sequence (ahead, as a refused run is), and delivers what
    // the cache then holds in order.
    template <class F> void SkipGap(std::uint32_t sequence, F&& deliver)
    {
        std::uint64_t distance = TcpSequenceDistance(sequence, m_next);
        if (!m_runs.empty() && m_runs.begin()->first - m_position < distance)
            distance = m_runs.begin()->first - m_position;
        Advance(distance);
        Drain(deliver);
    }

    void Clear();

private:
    using CRuns = std::map<std::uint64_t, std::vector<std::uint8_t>>;

    void Advance(std::uint64_t count)
    {
        m_position += count;
        m_next += static_cast<std::uint32_t>(count);
    }

    // Delivers the runs at the front that the stream has reached. Each
    // leaves the map before deliver sees it.
    template <class F> void Drain(F&& deliver)
    {
        while (!m_runs.empty() && m_runs.begin()->first <= m_position) {
            ++m_steps;
            auto run = m_runs.extract(m_runs.begin());
            std::vector<std::uint8_t>& bytes = run.mapped();
            m_bytes -= bytes.size();
            m_cost -= RunCost(bytes.size());
            std::uint64_t end = run.key() + bytes.size();
            if (end <= m_position)
                continue; // a retransmission of bytes delivered before
            std::size_t skip = static_cast<std::size_t>(m_position - run.key());
            deliver(bytes.data() + skip, bytes.size() - skip);
            Advance(end - m_position);
        }
    }

    // Calls piece(start, end, after) for each stretch of [start, end) that
    // no run of runs holds, in order; after is the run that follows it.
    template <class Runs, class F>
    static void ForEachPiece(Runs& runs, std::uint64_t start, std::uint64_t end,
                             std::uint64_t& steps, F&& piece);

    std::uint32_t m_next = 0;     // the sequence number of the next byte to deliver
    std::uint64_t m_position = 0; // and its place in the stream, counted from Reset
    CRuns m_runs;                 // keyed by place in the stream
    std::size_t m_bytes = 0;
    std::size_t m_cost = 0;
    mutable std::uint64_t m_steps = 0;
};

} // namespace zk
