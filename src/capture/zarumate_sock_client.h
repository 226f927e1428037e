#pragma once

#include "friends/zarumate_data.h"

namespace zk {

// Receives the capture thread's reports. Every call runs on the capture
// thread and must only hand the report over.
class CZarumateSockClient
{
public:
    virtual ~CZarumateSockClient() = default;
    virtual void OnSockStarted() {}
    virtual void OnSockStopped() {}
    virtual void OnZarumateFound(const CZarumateDataPtr& data) = 0;
};

} // namespace zk
