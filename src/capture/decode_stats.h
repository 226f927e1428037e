#pragma once

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
    std::uint64_t m_segmentBytes = 0;  // bytes held in out-of-order caches
    std::uint64_t m_responseBytes = 0; // bytes held in response caches

    std::uint64_t BufferedBytes() const
    {
        return m_fragmentBytes + m_segmentBytes + m_responseBytes;
    }
};

} // namespace zk
