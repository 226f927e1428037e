#include "fetch/internet_file.h"

#include "fetch/internet_exception.h"
#include "platform/temp_file.h"
#include "platform/text_convert.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <type_traits>

// The handle types as the header declares them, not as untyped pointers.
#define CURL_STRICTER
#include <curl/curl.h>

static_assert(std::is_same_v<CURL, Curl_easy> && std::is_same_v<CURLM, Curl_multi>,
              "libcurl was included before without its typed handles");

namespace zk {
namespace {

// The sink is asked at least this often while a wait goes on, so that a
// cancelled task ends within about a second.
constexpr long kPollPeriodMs = 1000;
constexpr std::uint16_t kFirstSystemTimeYear = 1601;
constexpr int kMillisecondsPerSecond = 1000;
constexpr curl_off_t kMicrosecondsPerMillisecond = 1000;
constexpr curl_off_t kTimerSlackMs = 100;

std::once_flag g_curlInit;

bool IsControlOrSpace(unsigned char c)
{
    return c <= 0x20 || c == 0x7F;
}

// libcurl measures the speed floor's time in whole seconds; a part of one
// counts whole.
long WholeSeconds(std::uint32_t milliseconds)
{
    return static_cast<long>((milliseconds + kMillisecondsPerSecond - 1) / kMillisecondsPerSecond);
}

const char* HeaderNameOf(std::uint32_t level)
{
    switch (level) {
    case HTTP_QUERY_CONTENT_LENGTH:
        return "Content-Length";
    case HTTP_QUERY_LAST_MODIFIED:
        return "Last-Modified";
    case HTTP_QUERY_CONTENT_DISPOSITION:
        return "Content-Disposition";
    default:
        return nullptr;
    }
}

} // namespace

std::string PercentEncode(std::string_view bytes, bool (*escape)(unsigned char), bool lowerCase)
{
    const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (!escape(c)) {
            encoded += static_cast<char>(c);
            continue;
        }
        // Always two digits: one digit followed by a hexadecimal character
        // would read as another byte.
        encoded += '%';
        encoded += digits[c >> 4];
        encoded += digits[c & 0x0F];
    }
    return encoded;
}

void CHttpFile::CEasyCleanup::operator()(Curl_easy* easy) const
{
    curl_easy_cleanup(easy);
}

void CHttpFile::CMultiCleanup::operator()(Curl_multi* multi) const
{
    curl_multi_cleanup(multi);
}

void CHttpFile::CListCleanup::operator()(curl_slist* list) const
{
    curl_slist_free_all(list);
}

CHttpFile::~CHttpFile()
{
    Close();
}

void CHttpFile::Close()
{
    // The exchange was made to quit quickly (below), so a name lookup in
    // progress is left to end by itself rather than waited for here.
    if (m_easy && m_multi)
        curl_multi_remove_handle(m_multi.get(), m_easy.get());
    m_easy.reset();
    m_multi.reset();
    m_headerList.reset();
    m_phase = CPhase::Closed;
    m_sink = nullptr;
    m_file = nullptr;
    m_post = false;
}

HRESULT CHttpFile::Open(const std::wstring& agent, const std::wstring& server, std::uint16_t port,
                        const wchar_t* verb, const std::wstring& objectName,
                        const CHttpLimits& limits)
{
    Close();
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_multi.reset(curl_multi_init());
    m_easy.reset(curl_easy_init());
    if (!m_multi || !m_easy) {
        Close();
        return E_OUTOFMEMORY;
    }
    m_phase = CPhase::Prepared;
    m_limits = limits;
    m_post = verb && std::wstring_view(verb) == L"POST";

    std::string host = WideToUtf8(server);
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    std::string url = "http://" + host + ":" + std::to_string(port) + "/";
    std::string target = PercentEncode(WideToUtf8(objectName), IsControlOrSpace, false);
    if (target.empty())
        target = "/";

    CURL* easy = m_easy.get();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // One connection per exchange, closed with it; redirects are the
    // caller's to judge, and it refuses them.
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // A name lookup cannot be cancelled; without this, closing the exchange
    // would wait for it to end, which a silent name server makes last half
    // a minute or more.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    // The one image worker serves every friend in turn, so no host may hold
    // it: a connection that does not come, a server that does not answer or
    // trickles, and one that keeps just above the floor each meet a limit.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectMs));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(limits.slowBytesPerSecond));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, WholeSeconds(limits.slowMs));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.deadlineMs));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBodySize));
    if (!agent.empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, WideToUtf8(agent).c_str());
    // A form body goes at once, without waiting for a 100 Continue.
    return AddHeaders(L"Accept: */*\r\nExpect:\r\n");
}

HRESULT CHttpFile::AddHeaders(std::wstring_view headers)
{
    if (m_phase != CPhase::Prepared)
        return E_INVALIDARG;
    std::string text = WideToUtf8(headers);
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find("\r\n", begin);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(begin, end - begin);
        begin = end + 2;
        if (line.empty())
            continue;
        if (line.find(':') == std::string::npos ||
            std::any_of(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }))
            return E_INVALIDARG;
        // libcurl answers the list's first item, which is new only when
        // the list was empty; on failure the list stays as it was.
        curl_slist* list = curl_slist_append(m_headerList.get(), line.c_str());
        if (!list)
            return E_OUTOFMEMORY;
        if (!m_headerList)
            m_headerList.reset(list);
    }
    return S_OK;
}

std::size_t CHttpFile::OnHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* file = static_cast<CHttpFile*>(self);
    std::string_view line(data, size * count);
    if (line == "\r\n" || line == "\n") {
        // The end of a header block; after an interim (1xx) answer another
        // one follows.
        long code = 0;
        curl_easy_getinfo(file->m_easy.get(), CURLINFO_RESPONSE_CODE, &code);
        if (code / 100 != 1 && file->m_phase == CPhase::AwaitingHeaders)
            file->m_phase = CPhase::HeadersRead;
    }
    return size * count;
}

std::size_t CHttpFile::OnBody(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* file = static_cast<CHttpFile*>(self);
    std::size_t length = size * count;
    // The body waits until the caller has looked at the headers and asks
    // for it.
    if (!file->m_file)
        return CURL_WRITEFUNC_PAUSE;
    // libcurl checks a declared length against the limit by itself; this
    // catches a body that declares none.
    if (file->m_written + length > file->m_limits.maxBodySize) {
        file->m_bodyEnd = CBodyEnd::TooLarge;
        return 0;
    }
    HRESULT hr = file->m_file->Write(data, length);
    if (Failed(hr)) {
        file->m_bodyEnd = CBodyEnd::WriteFailed;
        file->m_writeResult = hr;
        return 0;
    }
    file->m_written += length;
    return length;
}

int CHttpFile::OnProgress(void* self, std::int64_t, std::int64_t received, std::int64_t,
                          std::int64_t)
{
    auto* file = static_cast<CHttpFile*>(self);
    if (!file->m_sink)
        return 0;
    auto progress = static_cast<std::uint32_t>(std::clamp<std::int64_t>(received, 0, UINT32_MAX));
    HRESULT hr = file->m_sink->OnProgress(progress, file->m_expected, file->m_status, L"");
    if (Succeeded(hr))
        return 0;
    file->m_refusal = hr;
    return 1;
}

void CHttpFile::OnTransferEnd(int result)
{
    if (HasEnded())
        return;
    m_result = result;
    m_phase = m_phase == CPhase::AwaitingHeaders ? CPhase::Failed : CPhase::Ended;
}

bool CHttpFile::HasHeaders() const
{
    return m_phase == CPhase::HeadersRead || m_phase == CPhase::Ended;
}

template <class TDone> HRESULT CHttpFile::Drive(TDone done)
{
    for (;;) {
        int running = 0;
        if (curl_multi_perform(m_multi.get(), &running) != CURLM_OK)
            return E_FAIL;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE)
                OnTransferEnd(message->data.result);
        }
        if (done())
            return S_OK;
        if (HasEnded()) {
            if (m_result == CURLE_ABORTED_BY_CALLBACK)
                return m_refusal;
            // A transfer that ended well but without a header block brought
            // no answer that could be read.
            return m_result == CURLE_OK ? HresultFromCurl(CURLE_WEIRD_SERVER_REPLY)
                                        : HresultFromCurl(m_result);
        }
        // libcurl shortens the wait to its own next deadline; the progress
        // callback asks the sink on every round.
        curl_multi_poll(m_multi.get(), nullptr, 0, kPollPeriodMs, nullptr);
    }
}

HRESULT CHttpFile::SendRequest(const std::string& body, IBindStatusCallback* sink,
                               std::uint32_t expected)
{
    if (m_phase != CPhase::Prepared)
        return E_INVALIDARG;
    m_sink = sink;
    m_expected = expected;
    m_status = kWaitStatusRequest;
    CURL* easy = m_easy.get();
    if (m_post) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.c_str());
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_headerList.get());
    if (curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK)
        return E_FAIL;
    m_phase = CPhase::AwaitingHeaders;
    HRESULT hr = Drive([this] { return HasHeaders(); });
    // libcurl refuses a status line whose code is not three digits before it
    // hands out any header. The server did answer, so the status check
    // decides, with the code unknown.
    if (m_phase == CPhase::Failed && m_result == CURLE_UNSUPPORTED_PROTOCOL) {
        m_phase = CPhase::StatusRefused;
        return S_OK;
    }
    return hr;
}

HRESULT CHttpFile::ReadBody(COutputFile& file, std::uint32_t expected, CBodyEnd& end)
{
    end = CBodyEnd::Failed;
    if (!HasHeaders())
        return E_INVALIDARG;
    m_file = &file;
    m_expected = expected;
    m_status = BINDSTATUS_DOWNLOADINGDATA;
    m_bodyEnd = CBodyEnd::Complete;
    m_written = 0;
    // Resuming hands over what was held back at once, so the file is set
    // before; a failure to take those bytes comes back from the resume
    // rather than from the transfer, and ends the body all the same.
    if (m_phase == CPhase::HeadersRead) {
        CURLcode resumed = curl_easy_pause(m_easy.get(), CURLPAUSE_CONT);
        if (resumed != CURLE_OK)
            OnTransferEnd(resumed);
    }
    HRESULT hr = Drive([this] { return m_phase == CPhase::Ended && m_result == CURLE_OK; });
    m_file = nullptr;
    if (Succeeded(hr)) {
        end = CBodyEnd::Complete;
    } else if (m_result == CURLE_ABORTED_BY_CALLBACK) {
        end = CBodyEnd::Refused;
    } else if (m_result == CURLE_WRITE_ERROR && m_bodyEnd != CBodyEnd::Complete) {
        end = m_bodyEnd;
        hr = end == CBodyEnd::TooLarge ? HresultFromCurl(CURLE_FILESIZE_EXCEEDED) : m_writeResult;
    } else if (m_result == CURLE_FILESIZE_EXCEEDED) {
        end = CBodyEnd::TooLarge;
    } else if (m_result == CURLE_OPERATION_TIMEDOUT) {
        end = CBodyEnd::TimedOut;
    }
    return hr;
}

CTimeLimit CHttpFile::TimeLimit() const
{
    if (!HasEnded() || m_result != CURLE_OPERATION_TIMEDOUT)
        return CTimeLimit::None;
    // Every limit ends as the same time-out. Without a connection it was the
    // connection's; only the deadline uses up the whole time, give or take
    // a tick of libcurl's timers; the rest is the floor.
    curl_off_t connected = 0;
    curl_easy_getinfo(m_easy.get(), CURLINFO_CONNECT_TIME_T, &connected);
    if (connected == 0)
        return CTimeLimit::Connect;
    curl_off_t total = 0;
    curl_easy_getinfo(m_easy.get(), CURLINFO_TOTAL_TIME_T, &total);
    if (total / kMicrosecondsPerMillisecond + kTimerSlackMs >= m_limits.deadlineMs)
        return CTimeLimit::Deadline;
    return CTimeLimit::Slow;
}

std::string CHttpFile::QueryRaw(std::uint32_t level)
{
    bool refused = m_phase == CPhase::StatusRefused;
    if (!HasHeaders() && !refused)
        throw CInternetException(this, INTERNET_OP_QUERY_HEADER, E_INVALIDARG);
    std::uint32_t what = level & ~(HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_FLAG_SYSTEMTIME);
    if (what == HTTP_QUERY_STATUS_CODE) {
        if (refused)
            return {};
        long code = 0;
        curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &code);
        char text[16];
        std::snprintf(text, sizeof text, "%03ld", code);
        return text;
    }
    const char* name = HeaderNameOf(what);
    curl_header* header = nullptr;
    if (!name || refused ||
        curl_easy_header(m_easy.get(), name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK)
        throw CInternetException(this, INTERNET_OP_QUERY_HEADER, HresultFromErrno(ENOENT));
    return header->value;
}

std::wstring CHttpFile::QueryInfoText(std::uint32_t level)
{
    return Utf8ToWide(QueryRaw(level));
}

void CHttpFile::QueryInfo(std::uint32_t level, std::uint32_t& number)
{
    std::string text = QueryRaw(level);
    const char* end = text.data() + text.size();
    std::uint32_t value = 0;
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end)
        throw CInternetException(this, INTERNET_OP_QUERY_HEADER, E_INVALIDARG);
    number = value;
}

void CHttpFile::QueryInfo(std::uint32_t level, SYSTEMTIME& time)
{
    // libcurl reads the date forms of RFC 9110 section 5.6.7 (the preferred
    // one, RFC 850's and asctime's) and the usual deviations ("UTC" or
    // "+0000" for "GMT").
    std::time_t seconds = curl_getdate(QueryRaw(level).c_str(), nullptr);
    std::tm parts{};
    if (seconds == -1 || !gmtime_r(&seconds, &parts) || parts.tm_year + 1900 < kFirstSystemTimeYear)
        throw CInternetException(this, INTERNET_OP_QUERY_HEADER, E_INVALIDARG);
    time = SYSTEMTIME{};
    time.wYear = static_cast<std::uint16_t>(parts.tm_year + 1900);
    time.wMonth = static_cast<std::uint16_t>(parts.tm_mon + 1);
    time.wDayOfWeek = static_cast<std::uint16_t>(parts.tm_wday);
    time.wDay = static_cast<std::uint16_t>(parts.tm_mday);
    time.wHour = static_cast<std::uint16_t>(parts.tm_hour);
    time.wMinute = static_cast<std::uint16_t>(parts.tm_min);
    time.wSecond = static_cast<std::uint16_t>(parts.tm_sec);
}

} // namespace zk
