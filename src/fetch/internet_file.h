#pragma once

#include "platform/browser_cache.h"
#include "platform/result_code.h"
#include "platform/system_time.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// libcurl's handle types, declared as libcurl declares them for its stricter
// typing, so that this header needs none of libcurl's.
struct Curl_easy;
struct Curl_multi;
struct curl_slist;

namespace zk {

class COutputFile;

// Header queries: the header, and how to read its value.
constexpr std::uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
constexpr std::uint32_t HTTP_QUERY_LAST_MODIFIED = 11;
constexpr std::uint32_t HTTP_QUERY_STATUS_CODE = 19;
constexpr std::uint32_t HTTP_QUERY_CONTENT_DISPOSITION = 47;
constexpr std::uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000;
constexpr std::uint32_t HTTP_QUERY_FLAG_SYSTEMTIME = 0x40000000;

// The progress status a wait for the server's answer is reported with.
constexpr std::uint32_t kWaitStatusRequest = 2;

// How long an exchange may take and how much it may bring.
struct CHttpLimits
{
    std::uint32_t connectMs = 0; // name lookup and connection
    // The floor of the transfer's speed, from the connection on (the wait
    // for the answer counts as a transfer of nothing): slower than this many
    // bytes a second over slowMs ends it. libcurl counts in whole seconds.
    std::uint32_t slowBytesPerSecond = 0;
    std::uint32_t slowMs = 0;
    std::uint32_t deadlineMs = 0;  // the whole exchange
    std::uint64_t maxBodySize = 0; // bytes
};

// Which time limit ended an exchange, if one did.
enum class CTimeLimit
{
    None,
    Connect,  // no connection within the connection's limit
    Slow,     // slower than the floor over its time
    Deadline, // the whole exchange took too long
};

// Why a body read ended early, beyond what its result says.
enum class CBodyEnd
{
    Complete,
    Refused,     // the sink refused a progress report
    WriteFailed, // the file could not take the bytes
    TimedOut,    // a time limit ended it (TimeLimit says which)
    TooLarge,    // the body passed the size limit
    Failed,      // the transfer broke (the result says how)
};

// One HTTP exchange over libcurl, as blocking calls: each wait lets libcurl
// work while asking the progress sink, at least once a second, whether to go
// on; a refusal ends the wait with the sink's result. libcurl keeps the time
// and size limits, and a name lookup in progress is abandoned rather than
// waited for when the exchange is closed, so that closing is prompt in every
// state. The calls come in the exchange's order: headers are added between
// Open and SendRequest, the request is sent once, and the queries and the
// body wait for the answer's headers; a call out of turn answers
// E_INVALIDARG, a query throws. Not copyable; one thread uses it.
class CHttpFile
{
public:
    CHttpFile() = default;
    ~CHttpFile();
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    // Prepares a request for the object on server:port. An empty object
    // name asks for "/"; the name goes on the wire as its UTF-8 bytes with
    // control characters and spaces percent-encoded. An empty agent sends no
    // User-Agent. E_OUTOFMEMORY or libcurl's result when it cannot be made.
    HRESULT Open(const std::wstring& agent, const std::wstring& server, std::uint16_t port,
                 const wchar_t* verb, const std::wstring& objectName, const CHttpLimits& limits);
    // Adds request headers, one per "\r\n"-ended line.
    HRESULT AddHeaders(std::wstring_view headers);
    // Sends the request (with the body unless it is empty) and waits for the
    // response headers. libcurl's result when the exchange failed, the
    // sink's when it refused.
    // The expected count is what progress reports name as their maximum.
    HRESULT SendRequest(const std::string& body, IBindStatusCallback* sink, std::uint32_t expected);
    // Header queries. Each throws CInternetException (query header) when the
    // header is absent or cannot be read as asked. The status code is its
    // three digits, or empty when libcurl refused the status line.
    std::wstring QueryInfoText(std::uint32_t level);
    void QueryInfo(std::uint32_t level, std::uint32_t& number);
    void QueryInfo(std::uint32_t level, SYSTEMTIME& time);
    // Streams the body into the file; `end` tells why it stopped.
    HRESULT ReadBody(COutputFile& file, std::uint32_t expected, CBodyEnd& end);
    void Close();
    // The time limit that ended the exchange; None while it goes on or when
    // it ended otherwise.
    CTimeLimit TimeLimit() const;

private:
    // Where the exchange stands. Each call is allowed in some phases only;
    // the transfer's end moves the phase on from wherever it is.
    enum class CPhase
    {
        Closed,          // no handles
        Prepared,        // opened; request headers may be added
        AwaitingHeaders, // sent; the answer's header block has not ended
        HeadersRead,     // the header block is in; the body is held back
        StatusRefused,   // libcurl refused the status line; nothing more comes
        Ended,           // the transfer ended after the header block, as m_result says
        Failed,          // the transfer ended before the header block, as m_result says
    };

    struct CEasyCleanup
    {
        void operator()(Curl_easy* easy) const;
    };
    struct CMultiCleanup
    {
        void operator()(Curl_multi* multi) const;
    };
    struct CListCleanup
    {
        void operator()(curl_slist* list) const;
    };

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    static int OnProgress(void* self, std::int64_t, std::int64_t received, std::int64_t,
                          std::int64_t);
    template <class TDone> HRESULT Drive(TDone done);
    void OnTransferEnd(int result);
    bool HasHeaders() const;
    bool HasEnded() const { return m_phase == CPhase::Ended || m_phase == CPhase::Failed; }
    std::string QueryRaw(std::uint32_t level);

    // Close takes the easy handle out of the multi handle before either
    // goes; the header list outlives both, as the easy handle points to it.
    std::unique_ptr<curl_slist, CListCleanup> m_headerList;
    std::unique_ptr<Curl_multi, CMultiCleanup> m_multi;
    std::unique_ptr<Curl_easy, CEasyCleanup> m_easy;
    CPhase m_phase = CPhase::Closed;
    CHttpLimits m_limits;
    bool m_post = false;
    IBindStatusCallback* m_sink = nullptr; // not owned
    HRESULT m_refusal = S_OK;
    std::uint32_t m_status = kWaitStatusRequest;
    std::uint32_t m_expected = 0;

    int m_result = 0;              // libcurl's code of the ended transfer
    COutputFile* m_file = nullptr; // while the body is read
    CBodyEnd m_bodyEnd = CBodyEnd::Complete;
    HRESULT m_writeResult = S_OK;
    std::uint64_t m_written = 0;
};

// Percent-encodes the bytes that `escape` picks, as "%" and two hexadecimal
// digits; the others pass unchanged.
std::string PercentEncode(std::string_view bytes, bool (*escape)(unsigned char), bool lowerCase);

} // namespace zk
