#include "fetch/http_request.h"

#include "fetch/file_deleter.h"
#include "fetch/internet_exception.h"
#include "fetch/temp_file_name.h"
#include "fetch/tick_count.h"
#include "platform/temp_file.h"
#include "platform/text_code_page.h"
#include "platform/text_convert.h"

#include <atomic>
#include <boost/regex.hpp>
#include <chrono>
#include <cwctype>
#include <thread>

namespace zk {
namespace {

constexpr std::uint32_t kMsgCancelled = 2000;
constexpr std::uint32_t kMsgOpenSession = 40185;
constexpr std::uint32_t kMsgConnect = 40186;
constexpr std::uint32_t kMsgRead = 40187;
constexpr std::uint32_t kMsgReadTimeout = 40188;
constexpr std::uint32_t kMsgOpenRequest = 40191;
constexpr std::uint32_t kMsgSendRequest = 40192;
constexpr std::uint32_t kMsgQueryHeader = 40193;
constexpr std::uint32_t kMsgTempFile = 40048;
constexpr std::uint32_t kMsgNoStatus = 40271;
constexpr std::uint32_t kMsgBadStatus = 40272;

constexpr std::uint32_t kProgressEnd = 0xFFFFFFFFu;
constexpr std::size_t kStatusLength = 3;

std::atomic<std::uint16_t> g_testPort{0};

struct CCharsetCodePage
{
    const wchar_t* name;
    std::uint32_t codePage;
};

constexpr CCharsetCodePage kCharsets[] = {
    {L"utf-8", CP_UTF8},
    {L"utf-7", CP_UTF7},
    {L"shift_jis", CP_SHIFT_JIS},
    {L"euc-jp", CP_EUC_JP},
    {L"ISO-2022-JP", CP_ISO_2022_JP},
};

bool EqualsNoCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
            return false;
    return true;
}

bool IsSuccessStatus(const std::wstring& status)
{
    return status == L"200" || status == L"201" || status == L"202" || status == L"203";
}

bool IsRetryStatus(const std::wstring& status)
{
    return status == L"400" || status == L"404";
}

bool PassesUnencoded(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    for (const char* p = "#%&'()*+-./:=?_"; *p; ++p)
        if (c == static_cast<unsigned char>(*p))
            return true;
    return false;
}

// A regex engine failure counts as no match.
bool SearchFirstGroup(const std::wstring& text, const boost::wregex& pattern, std::wstring& group)
{
    try {
        boost::wsmatch match;
        if (!boost::regex_search(text, match, pattern))
            return false;
        group = match[1].str();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

std::uint32_t CodePageOfCharset(std::wstring_view charset)
{
    if (charset.empty())
        return 0;
    for (const CCharsetCodePage& entry : kCharsets)
        if (EqualsNoCase(charset, entry.name))
            return entry.codePage;
    return 0;
}

std::string PercentEncodeObjectName(std::string_view bytes)
{
    static const char kHex[] = "0123456789abcdef";
    std::string encoded;
    for (unsigned char c : bytes) {
        if (c == 0)
            break;
        if (PassesUnencoded(c)) {
            encoded += static_cast<char>(c);
        } else if (c == ' ') {
            encoded += '+';
        } else {
            // Always two digits: "%a" followed by a hex digit would read as
            // another byte.
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

void SetHttpPortForTesting(std::uint16_t port)
{
    g_testPort.store(port);
}

CHttpRequest::CHttpRequest(std::wstring charset) : m_charset(std::move(charset)) {}

CHttpRequest::~CHttpRequest()
{
    m_request.Close();
    m_connection.Close();
    m_session.Close();
}

void CHttpRequest::SetStepErr(std::uint32_t id, HRESULT hr)
{
    if (hr == E_ABORT)
        m_err.SetErr(kMsgCancelled, E_ABORT);
    else
        m_err.SetErr(id, hr);
}

bool CHttpRequest::Report(std::uint32_t progress, std::uint32_t expected, std::uint32_t statusCode)
{
    IBindStatusCallback* sink = m_statusCallback.GetSink();
    if (!sink)
        return true;
    HRESULT hr = sink->OnProgress(progress, expected, statusCode, L"");
    if (Succeeded(hr))
        return true;
    m_err.SetErr(kMsgCancelled, hr);
    return false;
}

std::uint32_t CHttpRequest::SendRequest(const CHttpTarget& target, IBindStatusCallback* sink)
{
    m_err.Clear();
    m_statusCallback.SetSink(sink);
    m_statusCallback.SetTimeLimit(m_callbackTimeLimit);
    m_statusCallback.SetExpected(kInitialExpected);

    // The form body, in ascending order of name, unescaped.
    std::string body;
    const wchar_t* verb = L"GET";
    if (!target.formData.empty()) {
        std::wstring form;
        for (const auto& [name, value] : target.formData) {
            if (!form.empty())
                form += L'&';
            form += name + L"=" + value;
        }
        WideToCodePage(CP_ACP, form, body);
        verb = L"POST";
    }
    std::wstring objectName = target.path + target.extra;

    std::wstring headers;
    if (!target.formData.empty()) {
        headers += L"Content-Type: application/x-www-form-urlencoded";
        if (!m_charset.empty())
            headers += L";charset=" + m_charset;
        headers += L"\r\n";
    }
    if (!target.referer.empty())
        headers += L"Referer: " + target.referer + L"\r\n";

    HRESULT hr = m_session.Open(m_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                INTERNET_FLAG_ASYNC);
    if (Failed(hr)) {
        SetStepErr(kMsgOpenSession, hr);
        return m_err.GetId();
    }
    try {
        m_session.SetStatusCallback(&m_statusCallback);
    } catch (const CInternetException& e) {
        m_err.SetErr(e.GetMessageId(), e.m_error);
        return m_err.GetId();
    }

    std::uint16_t port = g_testPort.load();
    if (port == 0)
        port = kHttpPort;
    try {
        hr = m_connection.Connect(&m_session, target.host.c_str(), port, nullptr, nullptr,
                                  INTERNET_SERVICE_HTTP, 0);
    } catch (const CInternetException& e) {
        hr = e.m_error;
    }
    if (Failed(hr)) {
        SetStepErr(kMsgConnect, hr);
        return m_err.GetId();
    }

    static const wchar_t* const kAcceptTypes[] = {L"*/*", nullptr};
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        try {
            hr = m_request.Open(&m_connection, verb, objectName.c_str(), nullptr, nullptr,
                                kAcceptTypes, kRequestFlags);
        } catch (const CInternetException& e) {
            hr = e.m_error;
        }
        if (Failed(hr)) {
            SetStepErr(kMsgOpenRequest, hr);
            return m_err.GetId();
        }

        try {
            if (!headers.empty())
                hr = m_request.AddHeaders(headers, HTTP_ADDREQ_FLAG_ADD);
            if (Succeeded(hr))
                hr = m_request.SendRequestEx();
            if (Succeeded(hr) && !body.empty())
                m_request.Write(body.data(), static_cast<std::uint32_t>(body.size()));
            if (Succeeded(hr))
                hr = m_request.EndRequest();
        } catch (const CInternetException& e) {
            hr = e.m_error;
        }
        if (Failed(hr)) {
            SetStepErr(kMsgSendRequest, hr);
            return m_err.GetId();
        }

        std::wstring status;
        try {
            status = m_request.QueryInfoText(HTTP_QUERY_STATUS_CODE);
        } catch (const CInternetException&) {
            m_err.SetErr(kMsgNoStatus);
            return m_err.GetId();
        }
        if (status.size() != kStatusLength) {
            m_err.SetErr(kMsgBadStatus, std::wstring_view(status));
            return m_err.GetId();
        }
        if (IsSuccessStatus(status))
            return 0;
        if (!IsRetryStatus(status) || attempt + 1 >= kMaxAttempts) {
            m_err.SetErr(kMsgBadStatus, std::wstring_view(status));
            return m_err.GetId();
        }

        // The server may know the path only in the page's own code page:
        // ask once more with the path percent-encoded in it.
        std::uint32_t codePage = CodePageOfCharset(m_charset);
        std::string bytes;
        if (!m_request.Close() || codePage == 0 || !WideToCodePage(codePage, objectName, bytes)) {
            m_err.SetErr(kMsgBadStatus, std::wstring_view(status));
            return m_err.GetId();
        }
        objectName = Utf8ToWide(PercentEncodeObjectName(bytes));
    }
    return m_err.GetId();
}

void CHttpRequest::GetSuggestedFileName(std::wstring& fileName)
{
    m_err.Clear();
    fileName.clear();
    std::wstring disposition;
    try {
        disposition = m_request.QueryInfoText(HTTP_QUERY_CONTENT_DISPOSITION);
    } catch (const CInternetException&) {
        disposition.clear();
    }
    static const boost::wregex kQuoted(L"filename\\s*=\\s*\"([^\";]*)\"");
    static const boost::wregex kPlain(L"filename\\s*=\\s*([^;]*)");
    if (!SearchFirstGroup(disposition, kQuoted, fileName))
        SearchFirstGroup(disposition, kPlain, fileName);
    if (fileName.empty())
        m_err.SetErr(kMsgQueryHeader);
}

void CHttpRequest::GetLastModified(SYSTEMTIME& time)
{
    m_err.Clear();
    time = SYSTEMTIME{};
    try {
        m_request.QueryInfo(HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, time);
    } catch (const CInternetException& e) {
        time = SYSTEMTIME{};
        m_err.SetErr(e.GetMessageId(), e.m_error);
    }
}

bool CHttpRequest::CheckFinalStatus()
{
    std::wstring status;
    try {
        status = m_request.QueryInfoText(HTTP_QUERY_STATUS_CODE);
    } catch (const CInternetException&) {
        m_err.SetErr(kMsgNoStatus);
        return false;
    }
    if (!IsSuccessStatus(status)) {
        m_err.SetErr(kMsgBadStatus, std::wstring_view(status));
        return false;
    }
    return true;
}

std::uint32_t CHttpRequest::ReadBodyToFile(std::wstring& outPath)
{
    m_err.Clear();
    std::wstring tempPath;
    if (std::uint32_t id = MakeTempFileName(tempPath)) {
        m_err.SetErr(id);
        return id;
    }
    // Whatever goes wrong from here, no partial file stays behind: its name
    // is not handed back, so nobody else could delete it.
    CFileDeleter partial(tempPath);

    std::uint32_t expected = 0;
    try {
        m_request.QueryInfo(HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, expected);
        m_statusCallback.SetExpected(expected);
    } catch (const CInternetException&) {
        expected = 0;
    }

    COutputFile file;
    if (Failed(file.Open(tempPath))) {
        m_err.SetErr(kMsgTempFile);
        return m_err.GetId();
    }
    if (!Report(m_statusCallback.GetReceived(), expected, BINDSTATUS_BEGINDOWNLOADDATA))
        return m_err.GetId();
    m_statusCallback.SetReceived(0);
    std::uint32_t lastData = TickCountMs();

    std::vector<char> buffer(kReadBufferSize);
    std::uint64_t written = 0;
    for (;;) {
        CInternetBuffers buffers;
        buffers.buffer = buffer.data();
        buffers.bufferLength = kReadBufferSize;
        HRESULT hr;
        try {
            hr = m_request.ReadEx(buffers, 0);
        } catch (const CInternetException& e) {
            hr = e.m_error;
        }
        if (Failed(hr)) {
            SetStepErr(kMsgRead, hr);
            return m_err.GetId();
        }

        if (buffers.bufferLength == 0) {
            bool ended = hr == S_OK;
            if (ended && (expected == 0 || expected == written)) {
                if (!CheckFinalStatus())
                    return m_err.GetId();
                if (!Report(kProgressEnd, expected, BINDSTATUS_ENDDOWNLOADDATA))
                    return m_err.GetId();
                if (Failed(hr = file.Close())) {
                    m_err.SetErr(kMsgTempFile, hr);
                    return m_err.GetId();
                }
                partial.Disarm();
                outPath = tempPath;
                return 0;
            }
            if (TickCountMs() - lastData >= m_readIdleLimit) {
                m_err.SetErr(kMsgReadTimeout, E_FAIL);
                return m_err.GetId();
            }
            if (ended) {
                // The body ended short and nothing more can come; keep
                // asking the sink while the idle limit runs out.
                if (!Report(m_statusCallback.GetReceived(), expected, BINDSTATUS_DOWNLOADINGDATA))
                    return m_err.GetId();
                std::this_thread::sleep_for(std::chrono::milliseconds(kReadRetryDelay));
            }
            continue;
        }

        lastData = TickCountMs();
        if (Failed(hr = file.Write(buffer.data(), buffers.bufferLength))) {
            // A body that cannot be stored whole must not pass as downloaded.
            m_err.SetErr(kMsgTempFile, hr);
            return m_err.GetId();
        }
        written += buffers.bufferLength;
        std::this_thread::yield();
        if (!Report(m_statusCallback.GetReceived(), expected, BINDSTATUS_DOWNLOADINGDATA))
            return m_err.GetId();
    }
}

} // namespace zk
