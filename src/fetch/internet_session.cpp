#include "fetch/internet_session.h"

#include "fetch/internet_exception.h"
#include "fetch/internet_file.h"
#include "platform/text_convert.h"

#include <algorithm>
#include <chrono>
#include <curl/curl.h>
#include <filesystem>
#include <mutex>
#include <thread>

namespace zk {
namespace {

std::once_flag g_curlInit;

void InitCurl()
{
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURLM* Multi(void* handle)
{
    return static_cast<CURLM*>(handle);
}

std::string Narrow(const wchar_t* text)
{
    return text ? WideToUtf8(text) : std::string();
}

} // namespace

std::wstring GetProgramBaseName()
{
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return Utf8ToWide(program.stem().string());
}

CInternetSession::~CInternetSession()
{
    Close();
}

HRESULT CInternetSession::Open(const wchar_t* agent, std::uint32_t accessType, const wchar_t* proxy,
                               const wchar_t* proxyBypass, std::uint32_t flags)
{
    if (!Close())
        return E_FAIL;
    InitCurl();
    m_agent = agent ? WideToUtf8(agent) : WideToUtf8(GetProgramBaseName());
    m_accessType = accessType;
    m_proxy = Narrow(proxy);
    m_proxyBypass = Narrow(proxyBypass);
    m_flags = flags;
    CURLM* multi = curl_multi_init();
    if (!multi)
        return E_FAIL;
    m_handle = multi;
    return S_OK;
}

void CInternetSession::SetStatusCallback(CInternetStatusCallback* callback)
{
    if (!m_handle)
        throw CInternetException(nullptr, INTERNET_OP_SET_OPTION, E_INVALIDARG);
    if (m_callback && m_callback != callback)
        m_callback->SetPump(nullptr);
    m_callback = callback;
    if (m_callback)
        m_callback->SetPump(this);
}

bool CInternetSession::Close()
{
    if (m_callback)
        m_callback->Reset();
    if (m_handle) {
        // Transfers still running are taken off the multi handle first, as
        // libcurl requires; their files release their own easy handles.
        for (CInternetFile* file : m_files)
            curl_multi_remove_handle(Multi(m_handle), file->GetHandle());
        m_files.clear();
        curl_multi_cleanup(Multi(m_handle));
        m_handle = nullptr;
    }
    if (m_callback) {
        m_callback->SetPump(nullptr);
        m_callback = nullptr;
    }
    return true;
}

bool CInternetSession::Attach(CInternetFile* file)
{
    if (!m_handle || !file || !file->GetHandle())
        return false;
    if (std::find(m_files.begin(), m_files.end(), file) != m_files.end())
        return true;
    if (curl_multi_add_handle(Multi(m_handle), file->GetHandle()) != CURLM_OK)
        return false;
    m_files.push_back(file);
    return true;
}

void CInternetSession::Detach(CInternetFile* file)
{
    auto found = std::find(m_files.begin(), m_files.end(), file);
    if (found == m_files.end())
        return;
    if (m_handle)
        curl_multi_remove_handle(Multi(m_handle), file->GetHandle());
    m_files.erase(found);
}

void CInternetSession::Notify(void* handle, std::uint32_t status, const void* information,
                              std::uint32_t length)
{
    if (m_callback)
        m_callback->OnStatus(handle, this, status, information, length);
}

void CInternetSession::CollectFinished()
{
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(Multi(m_handle), &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        char* owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        long osErrno = 0;
        curl_easy_getinfo(message->easy_handle, CURLINFO_OS_ERRNO, &osErrno);
        if (auto* file = reinterpret_cast<CInternetFile*>(owner))
            file->OnTransferDone(message->data.result, osErrno);
    }
}

void CInternetSession::Pump(std::uint32_t milliseconds)
{
    if (!m_handle || m_files.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    int running = 0;
    for (CInternetFile* file : m_files)
        file->BeforePump();
    curl_multi_perform(Multi(m_handle), &running);
    CollectFinished();
    if (running == 0 || milliseconds == 0)
        return;
    curl_multi_poll(Multi(m_handle), nullptr, 0, static_cast<int>(milliseconds), nullptr);
    for (CInternetFile* file : m_files)
        file->BeforePump();
    curl_multi_perform(Multi(m_handle), &running);
    CollectFinished();
}

} // namespace zk
