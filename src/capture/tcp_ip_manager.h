#pragma once

#include "capture/ip_manager.h"

namespace zk {

// TCP segments in, from the IP layer. (Placeholder: passes datagrams on.)
template <class T> class CTcpIpManager : public CIpManager<T>
{
public:
    void TcpSegmentIn(const CIpHeader& ip, const std::uint8_t* datagram, std::size_t length)
    {
        static_cast<T*>(this)->TcpStreamSegmentIn(ip, datagram, length);
    }
};

} // namespace zk
