#include "fetch/internet_status_callback.h"

#include "fetch/tick_count.h"
#include "platform/text_convert.h"

#include <chrono>
#include <cstring>
#include <curl/curl.h>
#include <thread>

namespace zk {
namespace {

std::uint32_t ReadCount(const void* information, std::uint32_t length)
{
    std::uint32_t count = 0;
    if (information && length >= sizeof count)
        std::memcpy(&count, information, sizeof count);
    return count;
}

} // namespace

void CInternetStatusCallback::Reset()
{
    m_completed.store(false);
    m_handle.store(nullptr);
}

HRESULT CInternetStatusCallback::Wait(std::uint32_t, bool)
{
    return S_OK;
}

HRESULT CInternetStatusCallback::WaitPeriod(std::uint32_t, bool)
{
    return S_OK;
}

void CInternetStatusCallback::PumpFor(std::uint32_t milliseconds)
{
    if (m_pump)
        m_pump->Pump(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void CInternetStatusCallback::OnStatus(void* handle, void* context, std::uint32_t status,
                                       const void* information, std::uint32_t length)
{
    switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
        OnHandleCreated(handle, context, information, length);
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
        OnRequestComplete(handle, context, information, length);
        break;
    default:
        break;
    }
}

void CInternetStatusCallback::OnCtlResponseReceived(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnConnectedToServer(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnConnectingToServer(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnPrefetch(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnDetectingProxy(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnHandleClosing(void*, void*, const void*, std::uint32_t) {}

void CInternetStatusCallback::OnHandleCreated(void*, void*, const void* information,
                                              std::uint32_t length)
{
    // Every handle of a session reports through its session, so the new
    // handle needs no context of its own here.
    void* created = nullptr;
    if (information && length >= sizeof created)
        std::memcpy(&created, information, sizeof created);
    m_handle.store(created);
    m_completed.store(true);
}

void CInternetStatusCallback::OnIntermediateResponse(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnNameResolved(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnReceivingResponse(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnRedirect(void*, void*, const void*, std::uint32_t) {}

void CInternetStatusCallback::OnRequestComplete(void*, void*, const void*, std::uint32_t)
{
    m_completed.store(true);
}

void CInternetStatusCallback::OnRequestSent(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnResolvingName(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnResponseReceived(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnSendingRequest(void*, void*, const void*, std::uint32_t) {}
void CInternetStatusCallback::OnStateChange(void*, void*, const void*, std::uint32_t) {}

void CInternetStatusCallbackBS::Reset()
{
    CInternetStatusCallback::Reset();
    m_lastNotification.store(TickCountMs());
}

HRESULT CInternetStatusCallbackBS::WaitPeriod(std::uint32_t statusCode, bool reportProgress)
{
    if (reportProgress && m_sink) {
        HRESULT hr = m_sink->OnProgress(m_received.load(), m_expected, statusCode, L"");
        if (Failed(hr))
            return hr;
    }
    std::uint32_t start = TickCountMs();
    while (!m_completed.load()) {
        std::uint32_t elapsed = TickCountMs() - start;
        if (elapsed >= kPollPeriod)
            break;
        PumpFor(kPollPeriod - elapsed);
    }
    return m_completed.load() ? S_OK : S_FALSE;
}

HRESULT CInternetStatusCallbackBS::Wait(std::uint32_t statusCode, bool reportProgress)
{
    for (;;) {
        HRESULT hr = WaitPeriod(statusCode, reportProgress);
        if (hr != S_FALSE)
            return hr;
        // One stalled server must not hold the single worker for ever: a
        // wait that has heard nothing for the time limit fails as a time-out
        // of the operation it waits for.
        if (TickCountMs() - m_lastNotification.load() >= m_timeLimit)
            return HresultFromCurl(CURLE_OPERATION_TIMEDOUT);
    }
}

void CInternetStatusCallbackBS::OnStatus(void* handle, void* context, std::uint32_t status,
                                         const void* information, std::uint32_t length)
{
    m_lastNotification.store(TickCountMs());
    switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
        OnResolvingName(handle, context, information, length);
        break;
    case INTERNET_STATUS_NAME_RESOLVED:
        OnNameResolved(handle, context, information, length);
        break;
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
        OnConnectingToServer(handle, context, information, length);
        break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
        OnConnectedToServer(handle, context, information, length);
        break;
    case INTERNET_STATUS_SENDING_REQUEST:
        OnSendingRequest(handle, context, information, length);
        break;
    case INTERNET_STATUS_REQUEST_SENT:
        OnRequestSent(handle, context, information, length);
        break;
    case INTERNET_STATUS_RECEIVING_RESPONSE:
        OnReceivingResponse(handle, context, information, length);
        break;
    case INTERNET_STATUS_RESPONSE_RECEIVED:
        OnResponseReceived(handle, context, information, length);
        break;
    case INTERNET_STATUS_CTL_RESPONSE_RECEIVED:
        OnCtlResponseReceived(handle, context, information, length);
        break;
    case INTERNET_STATUS_PREFETCH:
        OnPrefetch(handle, context, information, length);
        break;
    case INTERNET_STATUS_HANDLE_CREATED:
        OnHandleCreated(handle, context, information, length);
        break;
    case INTERNET_STATUS_HANDLE_CLOSING:
        OnHandleClosing(handle, context, information, length);
        break;
    case INTERNET_STATUS_DETECTING_PROXY:
        OnDetectingProxy(handle, context, information, length);
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
        OnRequestComplete(handle, context, information, length);
        break;
    case INTERNET_STATUS_REDIRECT:
        OnRedirect(handle, context, information, length);
        break;
    case INTERNET_STATUS_INTERMEDIATE_RESPONSE:
        OnIntermediateResponse(handle, context, information, length);
        break;
    case INTERNET_STATUS_STATE_CHANGE:
        OnStateChange(handle, context, information, length);
        break;
    default:
        break;
    }
}

void CInternetStatusCallbackBS::OnResponseReceived(void*, void*, const void* information,
                                                   std::uint32_t length)
{
    m_received.fetch_add(ReadCount(information, length));
}

void CInternetStatusCallbackBS::OnRedirect(void*, void*, const void* information,
                                           std::uint32_t length)
{
    if (!information)
        m_redirects.emplace_back();
    else
        m_redirects.push_back(Utf8ToWide(static_cast<const char*>(information), length));
}

} // namespace zk
