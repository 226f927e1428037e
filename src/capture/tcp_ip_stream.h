#pragma once

#include "capture/tcp_ip_manager.h"
#include "capture/tcp_ip_stream_info.h"

namespace zk {

// Ordered byte streams, one per direction, out to T::StreamDataIn.
// (Placeholder: delivers nothing yet.)
template <class T> class CTcpIpStream : public CTcpIpManager<T>
{
public:
    void TcpStreamSegmentIn(const CIpHeader&, const std::uint8_t*, std::size_t) {}
};

} // namespace zk
