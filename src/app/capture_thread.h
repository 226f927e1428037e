#pragma once

#include "capture/monitor_failure.h"

#include <string>
#include <vector>

namespace zk {

class CZarumateSockClient;

// What the main frame asks of the thread that watches the traffic: start and
// stop it, where it reports, which adapter it took and why it ended. The
// program's is the packet capture (CSockCaptureThread); tests hand the frame
// stand-ins that report what the test tells them.
class ICaptureThread
{
public:
    virtual ~ICaptureThread() = default;

    // The client hears of the start, the end and every person found, on the
    // capture's own thread.
    virtual void SetClient(CZarumateSockClient* client) = 0;
    // The adapter to watch; empty or missing lets the thread choose.
    virtual void SetAdapterName(const std::wstring& name) = 0;
    // The key log the browsers write, read again at every start.
    virtual void SetTlsKeyLogFile(const std::string& path) = 0;
    virtual bool Start() = 0;
    virtual void Wait(unsigned milliseconds) = 0;
    // Ends the run; the thread can be started again.
    virtual void SetStop(bool stop) = 0;
    // Ends the thread for good.
    virtual void SetTerminate(bool terminate) = 0;
    virtual bool IsTerminating() const = 0;

    // The adapters the last start found, and the index of the watched one.
    virtual const std::vector<std::wstring>& GetAdapterList() const = 0;
    virtual int GetAdapterIndex() const = 0;
    // Why the last run ended, and the system's words for it.
    virtual EMonitorFailure GetFailureCause() const = 0;
    virtual std::wstring GetFailureText() const = 0;
};

} // namespace zk
