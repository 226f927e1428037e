#pragma once

#include "fetch/internet_handle.h"
#include "fetch/internet_status_callback.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zk {

// Access types of a session.
constexpr std::uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0; // the system's proxy settings
constexpr std::uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr std::uint32_t INTERNET_OPEN_TYPE_PROXY = 3;

// Session flag: calls complete later and are waited for on the status
// callback.
constexpr std::uint32_t INTERNET_FLAG_ASYNC = 0x10000000;

class CInternetFile;

// One internet session: a libcurl multi handle that drives the transfers of
// its requests, and the status callback their notifications go to. All of
// its work runs on the thread that calls it: the callback's waits drive the
// transfers through Pump, and libcurl's callbacks report from inside Pump.
class CInternetSession : public CInternetHandle, public CInternetPump
{
public:
    CInternetSession() = default;
    ~CInternetSession() override;

    // A null agent stands for the program's own file name without folder
    // or extension. E_FAIL when the session cannot be made.
    HRESULT Open(const wchar_t* agent, std::uint32_t accessType, const wchar_t* proxy,
                 const wchar_t* proxyBypass, std::uint32_t flags);
    // Sends the notifications of every handle of the session to the
    // callback (none for null). Throws CInternetException when the session
    // is not open.
    void SetStatusCallback(CInternetStatusCallback* callback);
    bool Close() override;

    void Pump(std::uint32_t milliseconds) override;

    // The status routine: hands one notification of a handle of this
    // session to its callback.
    void Notify(void* handle, std::uint32_t status, const void* information, std::uint32_t length);

    CInternetStatusCallback* GetStatusCallback() const { return m_callback; }
    bool IsAsync() const { return (m_flags & INTERNET_FLAG_ASYNC) != 0; }
    std::uint32_t GetFlags() const { return m_flags; }
    const std::string& GetAgent() const { return m_agent; }
    std::uint32_t GetAccessType() const { return m_accessType; }
    const std::string& GetProxy() const { return m_proxy; }
    const std::string& GetProxyBypass() const { return m_proxyBypass; }

    // The transfers that Pump drives; called by the files.
    bool Attach(CInternetFile* file);
    void Detach(CInternetFile* file);

private:
    void CollectFinished();

    std::uint32_t m_flags = 0;
    CInternetStatusCallback* m_callback = nullptr; // not owned
    std::string m_agent;
    std::uint32_t m_accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string m_proxy;
    std::string m_proxyBypass;
    std::vector<CInternetFile*> m_files;
};

// The program's own file name without folder or extension.
std::wstring GetProgramBaseName();

} // namespace zk
