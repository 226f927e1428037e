#pragma once

#include "fetch/internet_handle.h"
#include "platform/result_code.h"
#include "platform/system_time.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zk {

class CInternetConnection;
class CHttpConnection;
class CInternetSession;
struct CInternetTransfer;

// Header queries: the header, and how to read its value.
constexpr std::uint32_t HTTP_QUERY_CONTENT_TYPE = 1;
constexpr std::uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
constexpr std::uint32_t HTTP_QUERY_LAST_MODIFIED = 11;
constexpr std::uint32_t HTTP_QUERY_STATUS_CODE = 19;
constexpr std::uint32_t HTTP_QUERY_STATUS_TEXT = 20;
constexpr std::uint32_t HTTP_QUERY_LOCATION = 33;
constexpr std::uint32_t HTTP_QUERY_CONTENT_DISPOSITION = 47;
constexpr std::uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000;
constexpr std::uint32_t HTTP_QUERY_FLAG_SYSTEMTIME = 0x40000000;
constexpr std::uint32_t HTTP_QUERY_MODIFIER_FLAGS_MASK = 0xF0000000;

// Request flags.
constexpr std::uint32_t INTERNET_FLAG_RELOAD = 0x80000000;
constexpr std::uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr std::uint32_t INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;

// Header modifiers.
constexpr std::uint32_t HTTP_ADDREQ_FLAG_ADD = 0x20000000;

// The buffer of one read: on input its capacity, on output the bytes read.
struct CInternetBuffers
{
    void* buffer = nullptr;
    std::uint32_t bufferLength = 0;
};

// One request and its response, over a libcurl easy handle that its
// session's multi handle drives. Close files before their connection and
// session.
class CInternetFile : public CInternetHandle
{
public:
    CInternetFile();
    ~CInternetFile() override;

    bool Close() override;

    // Reads what has arrived of the body, waiting (with progress reports
    // and cancellation) for up to one wait period when nothing has.
    // S_OK with bytes: data; S_OK with 0 bytes: the body has ended;
    // S_FALSE with 0 bytes: nothing arrived in the period, the transfer goes
    // on. A failed transfer (the server closed the connection early, a
    // broken chunk) gives its result; a refusal of the sink gives its result.
    // Throws CInternetException (read) when no response is there to read.
    HRESULT ReadEx(CInternetBuffers& buffers, std::uint32_t flags);
    // Adds bytes to the body of a request between SendRequestEx and
    // EndRequest. Throws CInternetException (write) outside of that.
    void Write(const void* data, std::uint32_t count);

    CInternetConnection* GetConnection() const { return m_connection; }

    // Called by the session's pump.
    void OnTransferDone(int curlCode, long osErrno);
    void BeforePump();

protected:
    CInternetSession* Session() const;
    CInternetConnection* m_connection = nullptr; // not owned
    std::unique_ptr<CInternetTransfer> m_transfer;
};

class CHttpFile : public CInternetFile
{
public:
    // Prepares a request. An empty object name asks for "/". The object
    // name goes on the wire as its UTF-8 bytes, except that control
    // characters and spaces are percent-encoded: they would break the
    // request line. Throws CInternetException (open request) when the
    // connection is not open or the handle cannot be made.
    HRESULT Open(CHttpConnection* connection, const wchar_t* verb, const wchar_t* objectName,
                 const wchar_t* version, const wchar_t* referrer, const wchar_t* const* acceptTypes,
                 std::uint32_t flags);
    // Adds request headers, one per "\r\n"-ended line.
    HRESULT AddHeaders(std::wstring_view headers, std::uint32_t modifiers);
    HRESULT SendRequestEx();
    // Sends the request and waits for the response headers. Throws
    // CInternetException (send request) when the exchange failed.
    HRESULT EndRequest();

    // Header queries. Each throws CInternetException (query header) when the
    // header is absent or its value cannot be read as asked.
    std::wstring QueryInfoText(std::uint32_t level);
    void QueryInfo(std::uint32_t level, std::uint32_t& number);
    void QueryInfo(std::uint32_t level, SYSTEMTIME& time);

private:
    std::string QueryRaw(std::uint32_t level);
};

} // namespace zk
