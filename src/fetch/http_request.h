#pragma once

#include "base/simple_err.h"
#include "fetch/internet_connection.h"
#include "fetch/internet_file.h"
#include "fetch/internet_session.h"
#include "fetch/internet_status_callback.h"
#include "platform/system_time.h"

#include <cstdint>
#include <map>
#include <string>

namespace zk {

// What one exchange asks the server for.
struct CHttpTarget
{
    std::wstring host;
    std::wstring path;
    std::wstring extra; // the query, with its "?"
    std::wstring referer;
    std::map<std::wstring, std::wstring> formData; // a POST body when not empty
};

// One complete HTTP exchange of the image download: a GET, or a form POST,
// the status check, the headers the download needs, and the body streamed
// into a temporary file. Every failure ends in the error record; no
// exception leaves it.
class CHttpRequest : public CHasErr<CSimpleErr>
{
public:
    static constexpr std::uint32_t kCallbackTimeLimit = 180000;
    static constexpr std::uint32_t kReadIdleLimit = 60000;
    static constexpr std::uint32_t kInitialExpected = 204800;
    static constexpr std::uint32_t kReadBufferSize = 16384;
    static constexpr std::uint32_t kReadRetryDelay = 100;
    static constexpr int kMaxAttempts = 2;
    // Requests always go to the HTTP port, whatever port the URL named.
    static constexpr std::uint16_t kHttpPort = 80;
    static constexpr std::uint32_t kRequestFlags =
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;

    explicit CHttpRequest(std::wstring charset = {});
    ~CHttpRequest();
    CHttpRequest(const CHttpRequest&) = delete;
    CHttpRequest& operator=(const CHttpRequest&) = delete;

    // Sends the request and checks its status; the error id, 0 on success.
    std::uint32_t SendRequest(const CHttpTarget& target, IBindStatusCallback* sink);
    // The file name of the Content-Disposition header, or empty.
    void GetSuggestedFileName(std::wstring& fileName);
    // The Last-Modified time, or all zero.
    void GetLastModified(SYSTEMTIME& time);
    // Streams the body into a new temporary file and names it in outPath.
    // On failure outPath is unchanged and no file is left behind.
    std::uint32_t ReadBodyToFile(std::wstring& outPath);

    void SetAgent(std::wstring agent) { m_agent = std::move(agent); }
    void SetCallbackTimeLimit(std::uint32_t milliseconds) { m_callbackTimeLimit = milliseconds; }
    void SetReadIdleLimit(std::uint32_t milliseconds) { m_readIdleLimit = milliseconds; }
    const std::wstring& GetCharset() const { return m_charset; }
    const CInternetStatusCallbackBS& GetStatusCallback() const { return m_statusCallback; }

private:
    // A failed step: a cancellation reads as 2000 with E_ABORT, anything
    // else as the step's own message with the failure's code.
    void SetStepErr(std::uint32_t id, HRESULT hr);
    // The sink's answer to a progress report, as 2000 when it refuses.
    bool Report(std::uint32_t progress, std::uint32_t expected, std::uint32_t statusCode);
    bool CheckFinalStatus();

    std::wstring m_charset;
    std::wstring m_agent;
    std::uint32_t m_callbackTimeLimit = kCallbackTimeLimit;
    std::uint32_t m_readIdleLimit = kReadIdleLimit;
    // The callback outlives the handles, which reset it when they close.
    CInternetStatusCallbackBS m_statusCallback;
    CInternetSession m_session;
    CHttpConnection m_connection;
    CHttpFile m_request;
};

// The code page of a charset name, compared without regard to case; 0 for
// an empty or unknown name.
std::uint32_t CodePageOfCharset(std::wstring_view charset);

// Percent-encodes the bytes of a retried object name up to the first zero
// byte: ASCII letters, digits and #%&'()*+-./:=?_ pass, a space becomes
// "+", every other byte "%" and two lower-case hexadecimal digits.
std::string PercentEncodeObjectName(std::string_view bytes);

// Test seam: the test suite's servers listen on an ephemeral loopback port,
// so tests send the requests there instead of to port 80. 0 restores port
// 80. The program never calls it.
void SetHttpPortForTesting(std::uint16_t port);

} // namespace zk
