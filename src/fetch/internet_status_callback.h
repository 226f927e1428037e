#pragma once

#include "platform/browser_cache.h"
#include "platform/result_code.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace zk {

// Notifications of the internet handles, by number.
constexpr std::uint32_t INTERNET_STATUS_RESOLVING_NAME = 10;
constexpr std::uint32_t INTERNET_STATUS_NAME_RESOLVED = 11;
constexpr std::uint32_t INTERNET_STATUS_CONNECTING_TO_SERVER = 20;
constexpr std::uint32_t INTERNET_STATUS_CONNECTED_TO_SERVER = 21;
constexpr std::uint32_t INTERNET_STATUS_SENDING_REQUEST = 30;
constexpr std::uint32_t INTERNET_STATUS_REQUEST_SENT = 31;
constexpr std::uint32_t INTERNET_STATUS_RECEIVING_RESPONSE = 40;
constexpr std::uint32_t INTERNET_STATUS_RESPONSE_RECEIVED = 41;
constexpr std::uint32_t INTERNET_STATUS_CTL_RESPONSE_RECEIVED = 50;
constexpr std::uint32_t INTERNET_STATUS_PREFETCH = 51;
constexpr std::uint32_t INTERNET_STATUS_HANDLE_CREATED = 60;
constexpr std::uint32_t INTERNET_STATUS_HANDLE_CLOSING = 70;
constexpr std::uint32_t INTERNET_STATUS_DETECTING_PROXY = 80;
constexpr std::uint32_t INTERNET_STATUS_REQUEST_COMPLETE = 100;
constexpr std::uint32_t INTERNET_STATUS_REDIRECT = 110;
constexpr std::uint32_t INTERNET_STATUS_INTERMEDIATE_RESPONSE = 120;
constexpr std::uint32_t INTERNET_STATUS_STATE_CHANGE = 200;

// The wait status codes the handles report their waits with.
constexpr std::uint32_t kWaitStatusNone = 0;
constexpr std::uint32_t kWaitStatusRequest = 2;
constexpr std::uint32_t kWaitStatusRead = 5;

// libcurl works only while it is driven. A session drives its transfers for
// at most the given time, or less when something happened; the status
// callback's waits call it instead of sleeping.
class CInternetPump
{
public:
    virtual void Pump(std::uint32_t milliseconds) = 0;

protected:
    ~CInternetPump() = default;
};

// Turns the handles' notifications into blocking waits. The base class only
// notes created handles and completions; its wait returns at once.
class CInternetStatusCallback
{
public:
    CInternetStatusCallback() = default;
    CInternetStatusCallback(const CInternetStatusCallback&) = delete;
    CInternetStatusCallback& operator=(const CInternetStatusCallback&) = delete;
    virtual ~CInternetStatusCallback() = default;

    virtual void Reset();
    // Waits until the operation has completed; returns 0, or the failure
    // that ended the wait.
    virtual HRESULT Wait(std::uint32_t statusCode, bool reportProgress);
    // One period of a wait: reports progress once, then waits up to one
    // period. S_OK when completed, S_FALSE when the period passed first.
    virtual HRESULT WaitPeriod(std::uint32_t statusCode, bool reportProgress);
    virtual void OnStatus(void* handle, void* context, std::uint32_t status,
                          const void* information, std::uint32_t informationLength);

    virtual void OnCtlResponseReceived(void* handle, void* context, const void* information,
                                       std::uint32_t length);
    virtual void OnConnectedToServer(void* handle, void* context, const void* information,
                                     std::uint32_t length);
    virtual void OnConnectingToServer(void* handle, void* context, const void* information,
                                      std::uint32_t length);
    virtual void OnPrefetch(void* handle, void* context, const void* information,
                            std::uint32_t length);
    virtual void OnDetectingProxy(void* handle, void* context, const void* information,
                                  std::uint32_t length);
    virtual void OnHandleClosing(void* handle, void* context, const void* information,
                                 std::uint32_t length);
    // The information is the new handle.
    virtual void OnHandleCreated(void* handle, void* context, const void* information,
                                 std::uint32_t length);
    virtual void OnIntermediateResponse(void* handle, void* context, const void* information,
                                        std::uint32_t length);
    virtual void OnNameResolved(void* handle, void* context, const void* information,
                                std::uint32_t length);
    virtual void OnReceivingResponse(void* handle, void* context, const void* information,
                                     std::uint32_t length);
    // The information is the target URL, UTF-8.
    virtual void OnRedirect(void* handle, void* context, const void* information,
                            std::uint32_t length);
    virtual void OnRequestComplete(void* handle, void* context, const void* information,
                                   std::uint32_t length);
    virtual void OnRequestSent(void* handle, void* context, const void* information,
                               std::uint32_t length);
    virtual void OnResolvingName(void* handle, void* context, const void* information,
                                 std::uint32_t length);
    // The information is the 32-bit count of bytes received.
    virtual void OnResponseReceived(void* handle, void* context, const void* information,
                                    std::uint32_t length);
    virtual void OnSendingRequest(void* handle, void* context, const void* information,
                                  std::uint32_t length);
    virtual void OnStateChange(void* handle, void* context, const void* information,
                               std::uint32_t length);

    void SetPump(CInternetPump* pump) { m_pump = pump; }
    void* GetHandle() const { return m_handle.load(); }
    bool IsCompleted() const { return m_completed.load(); }

protected:
    // Lets the transfers run for up to the given time, or sleeps without a pump.
    void PumpFor(std::uint32_t milliseconds);

    std::atomic<void*> m_handle{nullptr};
    std::atomic<bool> m_completed{false};
    CInternetPump* m_pump = nullptr; // the session that drives the transfers; not owned
};

// The status callback of the HTTP request: its waits keep a progress sink
// informed at least once a second, end when the sink refuses, and give up
// when nothing has been heard for the time limit.
class CInternetStatusCallbackBS : public CInternetStatusCallback
{
public:
    static constexpr std::uint32_t kDefaultTimeLimit = 180000;
    static constexpr std::uint32_t kPollPeriod = 1000;

    void Reset() override;
    HRESULT Wait(std::uint32_t statusCode, bool reportProgress) override;
    HRESULT WaitPeriod(std::uint32_t statusCode, bool reportProgress) override;
    void OnStatus(void* handle, void* context, std::uint32_t status, const void* information,
                  std::uint32_t informationLength) override;
    void OnResponseReceived(void* handle, void* context, const void* information,
                            std::uint32_t length) override;
    void OnRedirect(void* handle, void* context, const void* information,
                    std::uint32_t length) override;

    void SetSink(IBindStatusCallback* sink) { m_sink = sink; }
    IBindStatusCallback* GetSink() const { return m_sink; }
    void SetTimeLimit(std::uint32_t milliseconds) { m_timeLimit = milliseconds; }
    std::uint32_t GetTimeLimit() const { return m_timeLimit; }
    void SetExpected(std::uint32_t expected) { m_expected = expected; }
    std::uint32_t GetExpected() const { return m_expected; }
    void SetReceived(std::uint32_t received) { m_received = received; }
    std::uint32_t GetReceived() const { return m_received.load(); }
    std::uint32_t GetLastNotification() const { return m_lastNotification.load(); }
    const std::vector<std::wstring>& GetRedirects() const { return m_redirects; }

private:
    IBindStatusCallback* m_sink = nullptr; // not owned
    std::atomic<std::uint32_t> m_lastNotification{0};
    std::atomic<std::uint32_t> m_received{0};
    std::uint32_t m_expected = 0;
    std::uint32_t m_timeLimit = kDefaultTimeLimit;
    std::vector<std::wstring> m_redirects;
};

} // namespace zk
