#pragma once

#include "capture/tcp_ip_stream_info.h"

#include <cstddef>
#include <cstdint>

namespace zk {

// One stream of one HTTP/2 connection: the connection by the key of its
// server's direction, and the stream's identifier on it.
struct CHttp2StreamKey
{
    CTcpIpStreamKey m_connection;
    std::uint32_t m_streamId = 0;

    bool operator==(const CHttp2StreamKey& other) const
    {
        return m_streamId == other.m_streamId && m_connection == other.m_connection;
    }
};

struct CHttp2StreamKeyHash
{
    std::size_t operator()(const CHttp2StreamKey& key) const noexcept
    {
        // The connection's hash has every bit mixed already; the stream's
        // identifier (odd and small, mostly) is spread over the word.
        return CTcpIpStreamKeyHash()(key.m_connection) ^
               static_cast<std::size_t>(key.m_streamId * 0x9E3779B97F4A7C15ull);
    }
};

} // namespace zk
