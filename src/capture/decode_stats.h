#pragma once

#include "platform/content_decoder.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zk {

// Figures of the decoding chain, for the probe's statistics line. Each layer
// keeps its own fields up to date.
struct CDecodeStats
{
    std::uint64_t m_packets = 0;       // datagrams into the IP layer
    std::uint64_t m_bytes = 0;         // their bytes
    std::uint64_t m_streams = 0;       // streams held now
    std::uint64_t m_peakStreams = 0;   // most streams held at once
    std::uint64_t m_fragmentBytes = 0; // bytes held in the fragment table
    std::uint64_t m_segmentBytes = 0;  // bytes out-of-order caches cost, bookkeeping included
    std::uint64_t m_responseBytes = 0; // bytes held in response caches

    // Why the IP and TCP layers let go of data before it was complete: each
    // bound of theirs counts when it is hit.
    std::uint64_t m_datagramsRebuilt = 0; // fragmented datagrams put together
    std::uint64_t m_datagramsTooLong = 0; // fragments that add up beyond 65535 bytes
    std::uint64_t m_fragmentsExpired = 0; // fragments dropped for their age
    // Fragments not kept: an earlier copy of their offset is taken instead.
    std::uint64_t m_fragmentsRepeated = 0;
    std::uint64_t m_fragmentsEvicted = 0; // fragments dropped for the table's size
    std::uint64_t m_streamsExpired = 0;   // streams retired after being idle
    std::uint64_t m_streamsEvicted = 0;   // streams retired for the number of streams
    std::uint64_t m_cacheEvictions = 0;   // streams retired for the bytes all caches hold
    std::uint64_t m_segmentsRefused = 0;  // segments not cached: their stream's cache was full
    std::uint64_t m_gapsSkipped = 0;      // gaps a stream gave up after refusing a segment
    std::uint64_t m_ipv6Packets = 0;      // of m_packets, those of IPv6
    // IPv6 fragments dropped with their datagram because fragments of it
    // overlapped, and those turned away later by its tombstone.
    std::uint64_t m_fragmentsOverlapping = 0;

    // Responses whose body the page handler decoded, per content coding (a
    // body with stacked codings counts once for each), and the coded bodies
    // it gave up: corrupt or truncated streams and streams that wanted more
    // decoder memory than allowed, and codings it cannot undo.
    std::array<std::uint64_t, static_cast<std::size_t>(EContentCoding::Count)> m_codedResponses{};
    std::uint64_t m_codingsCorrupt = 0;
    std::uint64_t m_codingsUnknown = 0;
    // Coded responses lost to a bound before they were decided: their
    // decoders wanted more memory than allowed, or the response reached its
    // size limit or was dropped to make room in the response cache.
    std::uint64_t m_codingsCapped = 0;

    // Connections read as HTTP/2, the response streams found on them, and
    // the connections whose header state was lost (a gap, a header block
    // that failed to decode, a bound), after which they are not read. What
    // their header state holds counts among the buffered bytes.
    std::uint64_t m_http2Connections = 0;
    std::uint64_t m_http2Streams = 0;
    std::uint64_t m_http2HeaderStateLost = 0;
    std::uint64_t m_http2Bytes = 0;

    // TLS connections: every one whose client began with a ClientHello, those
    // whose server records opened with the key log's secrets, those given up
    // because their keys did not come in time, those given up because a
    // record did not authenticate (or was not TLS), and those not read:
    // other sites', and those whose ClientHello offered Encrypted Client
    // Hello under another name (counted in both).
    std::uint64_t m_tlsConnections = 0;
    std::uint64_t m_tlsDecrypted = 0;
    std::uint64_t m_tlsWithoutKeys = 0;
    std::uint64_t m_tlsFailed = 0;
    std::uint64_t m_tlsSkipped = 0;
    std::uint64_t m_tlsEch = 0;
    std::uint64_t m_tlsBytes = 0;        // unfinished records and handshake messages
    std::uint64_t m_tlsWaitingBytes = 0; // records waiting for their keys

    // Pages whose scraped id held a control character: nobody reported.
    std::uint64_t m_idsRefused = 0;

    std::uint64_t BufferedBytes() const
    {
        return m_fragmentBytes + m_segmentBytes + m_responseBytes + m_http2Bytes + m_tlsBytes +
               m_tlsWaitingBytes;
    }
};

} // namespace zk
