#include "fetch/internet_file.h"

#include "fetch/http_date.h"
#include "fetch/internet_connection.h"
#include "fetch/internet_exception.h"
#include "fetch/internet_session.h"
#include "fetch/internet_status_callback.h"
#include "platform/text_convert.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <curl/curl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace zk {

// The state of one exchange. libcurl's callbacks fill it from inside the
// session's pump, on the thread that waits, so it needs no lock.
struct CInternetTransfer
{
    // The body waiting to be read is held to this many bytes; beyond it the
    // transfer pauses until the reader catches up.
    static constexpr std::size_t kMaxBuffered = 64 * 1024;
    // Enough of the response's start to see a whole status line.
    static constexpr std::size_t kSniffLimit = 512;

    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    CInternetSession* session = nullptr;
    std::string verb;

    bool sending = false; // between SendRequestEx and EndRequest
    bool attached = false;
    bool requestSent = false;
    std::string body;

    std::string statusLine;
    std::vector<std::string> headers;
    bool headersDone = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    long osErrno = 0;

    std::string data; // body bytes not yet read
    bool paused = false;

    // libcurl refuses a status line whose code is not three digits before
    // it hands any header out; the start of the response is peeked at on
    // the socket so that the status can still be reported.
    curl_socket_t socket = CURL_SOCKET_BAD;
    bool sniffDone = false;
    std::string sniffConsumed;
    std::string sniffPending;
    std::string sniffedLine;

    ~CInternetTransfer()
    {
        if (easy)
            curl_easy_cleanup(easy);
        if (headerList)
            curl_slist_free_all(headerList);
    }

    void Notify(std::uint32_t status, const void* information = nullptr, std::uint32_t length = 0)
    {
        if (session)
            session->Notify(easy, status, information, length);
    }

    void NotifyReceived(std::size_t bytes)
    {
        auto count = static_cast<std::uint32_t>(std::min<std::size_t>(bytes, UINT32_MAX));
        Notify(INTERNET_STATUS_RESPONSE_RECEIVED, &count, sizeof count);
    }
};

namespace {

constexpr const char* kDefaultVerb = "GET";
constexpr std::uint32_t kNoCallbackPump = 1000;

std::string_view StripLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The status code field of a status line: the text between its first and
// second space ("HTTP/1.1 404 Not Found" gives "404").
std::string StatusCodeOf(std::string_view line)
{
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return {};
    std::string_view rest = line.substr(space + 1);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    return std::string(rest.substr(0, rest.find(' ')));
}

std::string StatusTextOf(std::string_view line)
{
    std::size_t first = line.find(' ');
    if (first == std::string_view::npos)
        return {};
    std::size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos)
        return {};
    return std::string(TrimBlanks(line.substr(second + 1)));
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

const char* HeaderNameOf(std::uint32_t level)
{
    switch (level) {
    case HTTP_QUERY_CONTENT_TYPE:
        return "Content-Type";
    case HTTP_QUERY_CONTENT_LENGTH:
        return "Content-Length";
    case HTTP_QUERY_LAST_MODIFIED:
        return "Last-Modified";
    case HTTP_QUERY_LOCATION:
        return "Location";
    case HTTP_QUERY_CONTENT_DISPOSITION:
        return "Content-Disposition";
    default:
        return nullptr;
    }
}

// The request target as it goes on the wire: the object name's UTF-8 bytes,
// with control characters and spaces percent-encoded. Left raw, a space or
// a line break would end the request line early and let a crafted name add
// headers of its own.
std::string WireTarget(const wchar_t* objectName)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string bytes = objectName ? WideToUtf8(objectName) : std::string();
    if (bytes.empty())
        return "/";
    std::string target;
    for (unsigned char c : bytes) {
        if (c <= 0x20 || c == 0x7F) {
            target += '%';
            target += kHex[c >> 4];
            target += kHex[c & 0x0F];
        } else {
            target += static_cast<char>(c);
        }
    }
    return target;
}

std::string UrlHost(const std::string& server)
{
    if (server.find(':') != std::string::npos && server.front() != '[')
        return "[" + server + "]";
    return server;
}

// libcurl's callbacks.

size_t OnHeaderLine(char* buffer, size_t size, size_t count, void* user)
{
    auto* t = static_cast<CInternetTransfer*>(user);
    std::size_t length = size * count;
    std::string_view line = StripLineEnd(std::string_view(buffer, length));
    t->NotifyReceived(length);
    if (t->headersDone)
        return length; // trailers of a chunked body
    if (line.rfind("HTTP/", 0) == 0) {
        t->statusLine.assign(line);
        t->headers.clear();
        t->sniffDone = true;
    } else if (line.empty()) {
        std::string code = StatusCodeOf(t->statusLine);
        if (code.size() == 3 && code[0] == '1') {
            t->Notify(INTERNET_STATUS_INTERMEDIATE_RESPONSE);
            t->statusLine.clear();
            t->headers.clear();
        } else {
            t->headersDone = true;
            t->Notify(INTERNET_STATUS_REQUEST_COMPLETE);
        }
    } else if ((line.front() == ' ' || line.front() == '\t') && !t->headers.empty()) {
        t->headers.back() += ' ';
        t->headers.back() += TrimBlanks(line);
    } else {
        t->headers.emplace_back(line);
    }
    return length;
}

size_t OnBodyData(char* buffer, size_t size, size_t count, void* user)
{
    auto* t = static_cast<CInternetTransfer*>(user);
    std::size_t length = size * count;
    if (t->data.size() >= CInternetTransfer::kMaxBuffered) {
        t->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    t->data.append(buffer, length);
    t->NotifyReceived(length);
    t->Notify(INTERNET_STATUS_REQUEST_COMPLETE);
    return length;
}

curl_socket_t OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address)
{
    auto* t = static_cast<CInternetTransfer*>(user);
    int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd < 0)
        return CURL_SOCKET_BAD;
    t->socket = fd;
    t->Notify(INTERNET_STATUS_CONNECTING_TO_SERVER);
    return fd;
}

int OnCloseSocket(void* user, curl_socket_t fd)
{
    auto* t = static_cast<CInternetTransfer*>(user);
    if (t->socket == fd)
        t->socket = CURL_SOCKET_BAD;
    return ::close(fd);
}

int OnRequestReady(void* user, char*, char*, int, int)
{
    auto* t = static_cast<CInternetTransfer*>(user);
    t->requestSent = true;
    t->Notify(INTERNET_STATUS_CONNECTED_TO_SERVER);
    t->Notify(INTERNET_STATUS_SENDING_REQUEST);
    return CURL_PREREQFUNC_OK;
}

void Sniff(CInternetTransfer& t)
{
    if (t.sniffDone || t.socket == CURL_SOCKET_BAD)
        return;
    char buffer[CInternetTransfer::kSniffLimit];
    ssize_t got = ::recv(t.socket, buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT);
    if (got <= 0)
        return;
    std::string peek(buffer, static_cast<std::size_t>(got));
    // Bytes seen last time that are no longer at the front were read by
    // libcurl meanwhile.
    if (!t.sniffPending.empty() && peek.compare(0, t.sniffPending.size(), t.sniffPending) != 0)
        t.sniffConsumed += t.sniffPending;
    t.sniffPending = peek;
    std::string start = t.sniffConsumed + t.sniffPending;
    std::size_t end = start.find('\n');
    if (end != std::string::npos || start.size() >= CInternetTransfer::kSniffLimit) {
        t.sniffedLine.assign(StripLineEnd(std::string_view(start).substr(0, end)));
        t.sniffDone = true;
    }
}

} // namespace

CInternetFile::CInternetFile() = default;

CInternetFile::~CInternetFile()
{
    Close();
}

CInternetSession* CInternetFile::Session() const
{
    if (m_transfer)
        return m_transfer->session;
    return m_connection ? m_connection->GetSession() : nullptr;
}

bool CInternetFile::Close()
{
    CInternetSession* session = Session();
    if (session && session->GetStatusCallback())
        session->GetStatusCallback()->Reset();
    if (m_transfer) {
        m_transfer->Notify(INTERNET_STATUS_HANDLE_CLOSING);
        if (session)
            session->Detach(this);
        m_transfer.reset();
    }
    m_handle = nullptr;
    m_connection = nullptr;
    return true;
}

void CInternetFile::BeforePump()
{
    if (m_transfer)
        Sniff(*m_transfer);
}

void CInternetFile::OnTransferDone(int curlCode, long osErrno)
{
    if (!m_transfer)
        return;
    CInternetTransfer& t = *m_transfer;
    t.done = true;
    t.result = static_cast<CURLcode>(curlCode);
    t.osErrno = osErrno;
    // A response arrived but its status line was refused: the exchange
    // itself worked, and the status check decides what it means.
    if (!t.headersDone && t.result == CURLE_UNSUPPORTED_PROTOCOL && t.requestSent) {
        t.statusLine = t.sniffedLine.rfind("HTTP/", 0) == 0 ? t.sniffedLine : "HTTP/1.1 ";
        t.headersDone = true;
    }
    t.Notify(INTERNET_STATUS_REQUEST_COMPLETE);
}

HRESULT CInternetFile::ReadEx(CInternetBuffers& buffers, std::uint32_t)
{
    std::uint32_t capacity = buffers.bufferLength;
    buffers.bufferLength = 0;
    if (!m_transfer || !m_transfer->headersDone || !buffers.buffer)
        throw CInternetException(m_handle, INTERNET_OP_READ, E_INVALIDARG);
    CInternetTransfer& t = *m_transfer;
    CInternetSession* session = t.session;

    for (bool waited = false;;) {
        if (!t.data.empty()) {
            std::size_t n = std::min<std::size_t>(capacity, t.data.size());
            std::memcpy(buffers.buffer, t.data.data(), n);
            t.data.erase(0, n);
            buffers.bufferLength = static_cast<std::uint32_t>(n);
            if (t.paused && t.data.size() < CInternetTransfer::kMaxBuffered / 2) {
                t.paused = false;
                curl_easy_pause(t.easy, CURLPAUSE_CONT);
            }
            return S_OK;
        }
        if (t.paused) {
            t.paused = false;
            curl_easy_pause(t.easy, CURLPAUSE_CONT);
            if (!t.data.empty())
                continue;
        }
        if (t.done)
            return t.result == CURLE_OK ? S_OK : HresultFromCurl(t.result);
        if (waited)
            return S_FALSE;

        CInternetStatusCallback* callback = session ? session->GetStatusCallback() : nullptr;
        if (callback) {
            callback->Reset();
            HRESULT hr = callback->WaitPeriod(kWaitStatusRead, true);
            if (Failed(hr))
                return hr;
        } else if (session) {
            session->Pump(kNoCallbackPump);
        } else {
            throw CInternetException(m_handle, INTERNET_OP_READ, E_INVALIDARG);
        }
        waited = true;
    }
}

void CInternetFile::Write(const void* data, std::uint32_t count)
{
    if (!m_transfer || !m_transfer->sending)
        throw CInternetException(m_handle, INTERNET_OP_WRITE, E_INVALIDARG);
    m_transfer->body.append(static_cast<const char*>(data), count);
}

HRESULT CHttpFile::Open(CHttpConnection* connection, const wchar_t* verb, const wchar_t* objectName,
                        const wchar_t* version, const wchar_t* referrer,
                        const wchar_t* const* acceptTypes, std::uint32_t)
{
    if (!Close())
        return E_FAIL;
    CInternetSession* session = connection ? connection->GetSession() : nullptr;
    if (session && session->GetStatusCallback())
        session->GetStatusCallback()->Reset();
    if (!connection || !connection->IsOpen() || !session || !session->IsOpen())
        throw CInternetException(connection ? connection->GetHandle() : nullptr,
                                 INTERNET_OP_OPEN_REQUEST, E_INVALIDARG);

    auto t = std::make_unique<CInternetTransfer>();
    t->session = session;
    t->easy = curl_easy_init();
    if (!t->easy)
        throw CInternetException(connection->GetHandle(), INTERNET_OP_OPEN_REQUEST,
                                 HresultFromCurl(CURLE_FAILED_INIT));
    CURL* easy = t->easy;
    t->verb = verb && *verb ? WideToUtf8(verb) : kDefaultVerb;

    std::string url = "http://" + UrlHost(connection->GetServer()) + ":" +
                      std::to_string(connection->GetPort()) + "/";
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    std::string target = WireTarget(objectName);
    curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    bool http10 = version && std::wstring_view(version) == L"HTTP/1.0";
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                     http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<CInternetFile*>(this));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // One connection per exchange, closed with it.
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeaderLine);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, t.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBodyData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, t.get());
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, t.get());
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, OnCloseSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, t.get());
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, OnRequestReady);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, t.get());
    if (!session->GetAgent().empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, session->GetAgent().c_str());
    if (session->GetAccessType() == INTERNET_OPEN_TYPE_DIRECT) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    } else if (session->GetAccessType() == INTERNET_OPEN_TYPE_PROXY) {
        curl_easy_setopt(easy, CURLOPT_PROXY, session->GetProxy().c_str());
        curl_easy_setopt(easy, CURLOPT_NOPROXY, session->GetProxyBypass().c_str());
    }
    if (!connection->GetUserName().empty()) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, connection->GetUserName().c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, connection->GetPassword().c_str());
    }

    std::string accept = "Accept: ";
    if (acceptTypes && acceptTypes[0]) {
        for (int i = 0; acceptTypes[i]; ++i) {
            if (i > 0)
                accept += ", ";
            accept += WideToUtf8(acceptTypes[i]);
        }
    } else {
        accept += "*/*";
    }
    t->headerList = curl_slist_append(t->headerList, accept.c_str());
    if (referrer && *referrer)
        t->headerList =
            curl_slist_append(t->headerList, ("Referer: " + WideToUtf8(referrer)).c_str());
    // A form body goes at once, without waiting for a 100 Continue.
    t->headerList = curl_slist_append(t->headerList, "Expect:");
    if (!t->headerList)
        throw CInternetException(connection->GetHandle(), INTERNET_OP_OPEN_REQUEST, E_OUTOFMEMORY);

    m_connection = connection;
    m_handle = easy;
    m_transfer = std::move(t);
    void* created = easy;
    m_transfer->Notify(INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
    return S_OK;
}

HRESULT CHttpFile::AddHeaders(std::wstring_view headers, std::uint32_t)
{
    if (!m_transfer)
        return E_INVALIDARG;
    std::string text = WideToUtf8(headers);
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string line(StripLineEnd(std::string_view(text).substr(begin, end - begin)));
        begin = end + 1;
        if (line.empty())
            continue;
        if (line.find(':') == std::string::npos || line.find('\r') != std::string::npos)
            return E_INVALIDARG;
        curl_slist* list = curl_slist_append(m_transfer->headerList, line.c_str());
        if (!list)
            return E_OUTOFMEMORY;
        m_transfer->headerList = list;
    }
    return S_OK;
}

HRESULT CHttpFile::SendRequestEx()
{
    CInternetSession* session = Session();
    if (session && session->GetStatusCallback())
        session->GetStatusCallback()->Reset();
    if (!m_transfer || m_transfer->attached)
        throw CInternetException(m_handle, INTERNET_OP_SEND_REQUEST, E_INVALIDARG);
    m_transfer->sending = true;
    m_transfer->body.clear();
    return S_OK;
}

HRESULT CHttpFile::EndRequest()
{
    CInternetSession* session = Session();
    CInternetStatusCallback* callback = session ? session->GetStatusCallback() : nullptr;
    if (callback)
        callback->Reset();
    if (!m_transfer || !m_transfer->sending || !session)
        throw CInternetException(m_handle, INTERNET_OP_SEND_REQUEST, E_INVALIDARG);
    CInternetTransfer& t = *m_transfer;
    t.sending = false;

    CURL* easy = t.easy;
    if (t.verb == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (t.verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        if (t.verb == "POST")
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
        else
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, t.verb.c_str());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.body.size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, t.body.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headerList);
    if (!session->Attach(this))
        throw CInternetException(m_handle, INTERNET_OP_SEND_REQUEST, E_FAIL);
    t.attached = true;

    while (!t.headersDone && !t.done) {
        if (callback) {
            callback->Reset();
            HRESULT hr = callback->Wait(kWaitStatusRequest, true);
            if (Failed(hr))
                return hr;
        } else {
            session->Pump(kNoCallbackPump);
        }
    }
    if (!t.headersDone)
        throw CInternetException(m_handle, INTERNET_OP_SEND_REQUEST, HresultFromCurl(t.result),
                                 static_cast<std::uint32_t>(t.osErrno));
    return S_OK;
}

std::string CHttpFile::QueryRaw(std::uint32_t level)
{
    if (!m_transfer || !m_transfer->headersDone)
        throw CInternetException(m_handle, INTERNET_OP_QUERY_HEADER, E_INVALIDARG);
    const CInternetTransfer& t = *m_transfer;
    std::uint32_t what = level & ~HTTP_QUERY_MODIFIER_FLAGS_MASK;
    if (what == HTTP_QUERY_STATUS_CODE)
        return StatusCodeOf(t.statusLine);
    if (what == HTTP_QUERY_STATUS_TEXT)
        return StatusTextOf(t.statusLine);
    const char* name = HeaderNameOf(what);
    if (!name)
        throw CInternetException(m_handle, INTERNET_OP_QUERY_HEADER, E_INVALIDARG);
    for (const std::string& header : t.headers) {
        std::size_t colon = header.find(':');
        if (colon == std::string::npos)
            continue;
        if (EqualsNoCase(TrimBlanks(std::string_view(header).substr(0, colon)), name))
            return std::string(TrimBlanks(std::string_view(header).substr(colon + 1)));
    }
    throw CInternetException(m_handle, INTERNET_OP_QUERY_HEADER, HresultFromErrno(ENOENT));
}

std::wstring CHttpFile::QueryInfoText(std::uint32_t level)
{
    return Utf8ToWide(QueryRaw(level));
}

void CHttpFile::QueryInfo(std::uint32_t level, std::uint32_t& number)
{
    std::string text = QueryRaw(level);
    std::uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 10;
    for (char c : text) {
        if (c < '0' || c > '9') {
            ok = false;
            break;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (!ok || value > UINT32_MAX)
        throw CInternetException(m_handle, INTERNET_OP_QUERY_HEADER, E_INVALIDARG);
    number = static_cast<std::uint32_t>(value);
}

void CHttpFile::QueryInfo(std::uint32_t level, SYSTEMTIME& time)
{
    std::string text = QueryRaw(level);
    SYSTEMTIME parsed;
    if (!ParseHttpDate(text, parsed))
        throw CInternetException(m_handle, INTERNET_OP_QUERY_HEADER, E_INVALIDARG);
    time = parsed;
}

} // namespace zk
