#include "fetch/http_request.h"

#include "fetch/file_deleter.h"
#include "fetch/internet_exception.h"
#include "fetch/temp_file_name.h"
#include "platform/temp_file.h"
#include "platform/text_code_page.h"
#include "platform/text_convert.h"

#include <algorithm>
#include <atomic>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/regex.hpp>

namespace zk {
namespace {

constexpr std::uint32_t kMsgCancelled = 2000;
constexpr std::uint32_t kMsgRead = 40187;
constexpr std::uint32_t kMsgReadTimeout = 40188;
constexpr std::uint32_t kMsgOpenRequest = 40191;
constexpr std::uint32_t kMsgSendRequest = 40192;
constexpr std::uint32_t kMsgQueryHeader = 40193;
constexpr std::uint32_t kMsgTempFile = 40048;
constexpr std::uint32_t kMsgNoStatus = 40271;
constexpr std::uint32_t kMsgBadStatus = 40272;
// The time limits that keep one host from holding the image worker.
constexpr std::uint32_t kMsgConnectTimeout = 40280;
constexpr std::uint32_t kMsgTooSlow = 40281;
constexpr std::uint32_t kMsgDeadline = 40282;

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
    for (const CCharsetCodePage& entry : kCharsets)
        if (!charset.empty() && boost::iequals(charset, std::wstring_view(entry.name)))
            return entry.codePage;
    return 0;
}

std::string PercentEncodeObjectName(std::string_view bytes)
{
    // Spaces pass the encoder and become "+" after it; no other space is
    // left by then.
    std::string encoded = PercentEncode(
        bytes.substr(0, bytes.find('\0')),
        [](unsigned char c) { return c != ' ' && !PassesUnencoded(c); }, true);
    std::replace(encoded.begin(), encoded.end(), ' ', '+');
    return encoded;
}

void SetHttpPortForTesting(std::uint16_t port)
{
    g_testPort.store(port);
}

CHttpRequest::CHttpRequest(std::wstring charset) : m_charset(std::move(charset)) {}

std::uint32_t CHttpRequest::SetStepErr(std::uint32_t id, HRESULT hr)
{
    if (hr == E_ABORT)
        m_err.SetErr(kMsgCancelled, E_ABORT);
    else
        m_err.SetErr(id, hr);
    return m_err.GetId();
}

std::uint32_t CHttpRequest::SetTimeLimitErr(std::uint32_t id, HRESULT hr)
{
    switch (m_request.TimeLimit()) {
    case CTimeLimit::Connect:
        id = kMsgConnectTimeout;
        break;
    case CTimeLimit::Slow:
        // A body with no byte for the floor's time is a read that timed
        // out; the read's own message says so.
        if (id != kMsgReadTimeout)
            id = kMsgTooSlow;
        break;
    case CTimeLimit::Deadline:
        id = kMsgDeadline;
        break;
    case CTimeLimit::None:
        break;
    }
    return SetStepErr(id, hr);
}

bool CHttpRequest::Report(std::uint32_t progress, std::uint32_t expected, std::uint32_t statusCode)
{
    HRESULT hr = m_sink ? m_sink->OnProgress(progress, expected, statusCode, L"") : S_OK;
    if (Succeeded(hr))
        return true;
    m_err.SetErr(kMsgCancelled, hr);
    return false;
}

// True for a success status. A 400 or 404 fails too, but says so in retry
// (when given) so that the caller may ask once more.
bool CHttpRequest::CheckStatus(bool* retry)
{
    std::wstring status;
    try {
        status = m_request.QueryInfoText(HTTP_QUERY_STATUS_CODE);
    } catch (const CInternetException&) {
        m_err.SetErr(kMsgNoStatus);
        return false;
    }
    if (status.size() == kStatusLength && IsSuccessStatus(status))
        return true;
    if (retry)
        *retry = IsRetryStatus(status);
    m_err.SetErr(kMsgBadStatus, std::wstring_view(status));
    return false;
}

std::uint32_t CHttpRequest::SendRequest(const CHttpTarget& target, IBindStatusCallback* sink)
{
    m_err.Clear();
    m_sink = sink;
    m_expected = kInitialExpected;

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

    std::uint16_t port = g_testPort.load();
    if (port == 0)
        port = kHttpPort;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        HRESULT hr = m_request.Open(m_agent, target.host, port, verb, objectName, m_limits);
        if (Failed(hr))
            return SetStepErr(kMsgOpenRequest, hr);
        hr = m_request.AddHeaders(headers);
        if (Succeeded(hr))
            hr = m_request.SendRequest(body, m_sink, m_expected);
        if (Failed(hr))
            return SetTimeLimitErr(kMsgSendRequest, hr);

        bool retry = false;
        if (CheckStatus(&retry))
            return 0;
        if (!retry || attempt + 1 >= kMaxAttempts)
            return m_err.GetId();

        // The server may know the path only in the page's own code page:
        // ask once more with the path percent-encoded in it.
        std::uint32_t codePage = CodePageOfCharset(m_charset);
        std::string bytes;
        if (codePage == 0 || !WideToCodePage(codePage, objectName, bytes))
            return m_err.GetId();
        m_err.Clear();
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

    // Without a length the body ends when the server says so (chunked) or
    // closes the connection; libcurl tells a body cut short from one that
    // is complete either way.
    std::uint32_t expected = 0;
    try {
        m_request.QueryInfo(HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, expected);
        m_expected = expected;
    } catch (const CInternetException&) {
        expected = 0;
    }

    COutputFile file;
    if (Failed(file.Open(tempPath))) {
        m_err.SetErr(kMsgTempFile);
        return m_err.GetId();
    }
    if (!Report(0, expected, BINDSTATUS_BEGINDOWNLOADDATA))
        return m_err.GetId();

    CBodyEnd end;
    HRESULT hr = m_request.ReadBody(file, m_expected, end);
    switch (end) {
    case CBodyEnd::Complete:
        break;
    case CBodyEnd::Refused:
        m_err.SetErr(kMsgCancelled, hr);
        return m_err.GetId();
    case CBodyEnd::WriteFailed:
        // A body that cannot be stored whole must not pass as downloaded.
        m_err.SetErr(kMsgTempFile, hr);
        return m_err.GetId();
    case CBodyEnd::TimedOut:
        if (m_request.TimeLimit() == CTimeLimit::Slow) {
            m_err.SetErr(kMsgReadTimeout, E_FAIL);
            return m_err.GetId();
        }
        return SetTimeLimitErr(kMsgReadTimeout, hr);
    case CBodyEnd::TooLarge:
    case CBodyEnd::Failed:
        return SetStepErr(kMsgRead, hr);
    }
    if (!CheckStatus() || !Report(kProgressEnd, expected, BINDSTATUS_ENDDOWNLOADDATA))
        return m_err.GetId();
    if (Failed(hr = file.Close())) {
        m_err.SetErr(kMsgTempFile, hr);
        return m_err.GetId();
    }
    partial.Disarm();
    outPath = tempPath;
    return 0;
}

} // namespace zk
