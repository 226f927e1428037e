#pragma once

#include "app/capture_thread.h"
#include "capture/zarumate_sock.h"

namespace zk {

// The program's capture thread as the main frame sees it.
class CSockCaptureThread : public ICaptureThread
{
public:
    void SetClient(CZarumateSockClient* client) override { m_sock.SetClient(client); }
    void SetAdapterName(const std::wstring& name) override { m_sock.SetAdapterName(name); }
    void SetTlsKeyLogFile(const std::string& path) override { m_sock.SetTlsKeyLogFile(path); }
    bool Start() override { return m_sock.Start(); }
    void Wait(unsigned milliseconds) override { m_sock.Wait(milliseconds); }
    void SetStop(bool stop) override { m_sock.SetStop(stop); }
    void SetTerminate(bool terminate) override { m_sock.SetTerminate(terminate); }
    bool IsTerminating() const override { return m_sock.IsTerminating(); }
    const std::vector<std::wstring>& GetAdapterList() const override
    {
        return m_sock.GetAdapterList();
    }
    int GetAdapterIndex() const override { return m_sock.GetAdapterIndex(); }
    EMonitorFailure GetFailureCause() const override { return m_sock.GetFailureCause(); }
    std::wstring GetFailureText() const override { return m_sock.GetErr().GetText(); }

    CZarumateSock& GetSock() { return m_sock; }

private:
    CZarumateSock m_sock;
};

} // namespace zk
