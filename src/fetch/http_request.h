#pragma once

#include "base/simple_err.h"
#include "fetch/internet_file.h"
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
    // The one image worker fetches every friend's avatar in turn, so each
    // limit below is what one host may cost the friends after it.
    // A connection (name lookup included) that takes longer has gone wrong:
    // a reachable host answers within a few round trips.
    static constexpr std::uint32_t kConnectTimeLimit = 15000;
    // The floor of a transfer's speed: an avatar of a few tens of kilobytes
    // comes in well under a second on any link in use, and a server that
    // answers nothing, or trickles, for this long is not going to send one.
    static constexpr std::uint32_t kSlowTransferBytesPerSecond = 1024;
    static constexpr std::uint32_t kSlowTransferTime = 15000;
    // The whole exchange: a server that keeps just above the floor is
    // stopped here, so that the next friend's avatar waits less than a
    // minute whatever the host before it does.
    static constexpr std::uint32_t kDownloadDeadline = 45000;
    // Avatars are images of a few tens of kilobytes; no avatar comes near
    // this, while a body without end would fill the disk and then be read
    // whole into memory to decode.
    static constexpr std::uint64_t kMaxBodySize = 16 * 1024 * 1024;
    static constexpr std::uint32_t kInitialExpected = 204800;
    static constexpr int kMaxAttempts = 2;
    // Requests always go to the HTTP port, whatever port the URL named.
    static constexpr std::uint16_t kHttpPort = 80;

    explicit CHttpRequest(std::wstring charset = {});
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

    // The limits, for tests that cannot wait minutes or send megabytes.
    void SetConnectTimeLimit(std::uint32_t milliseconds) { m_limits.connectMs = milliseconds; }
    void SetSlowTransferLimit(std::uint32_t bytesPerSecond, std::uint32_t milliseconds)
    {
        m_limits.slowBytesPerSecond = bytesPerSecond;
        m_limits.slowMs = milliseconds;
    }
    void SetDeadline(std::uint32_t milliseconds) { m_limits.deadlineMs = milliseconds; }
    void SetMaxBodySize(std::uint64_t bytes) { m_limits.maxBodySize = bytes; }

private:
    // A failed step: a cancellation reads as 2000 with E_ABORT, anything
    // else as the step's own message with the failure's code.
    std::uint32_t SetStepErr(std::uint32_t id, HRESULT hr);
    // A step that a time limit ended gets that limit's message instead of
    // its own.
    std::uint32_t SetTimeLimitErr(std::uint32_t id, HRESULT hr);
    // The sink's answer to a progress report, as 2000 when it refuses.
    bool Report(std::uint32_t progress, std::uint32_t expected, std::uint32_t statusCode);
    bool CheckStatus(bool* retry = nullptr);

    std::wstring m_charset;
    std::wstring m_agent;
    CHttpLimits m_limits{kConnectTimeLimit, kSlowTransferBytesPerSecond, kSlowTransferTime,
                         kDownloadDeadline, kMaxBodySize};
    IBindStatusCallback* m_sink = nullptr; // not owned
    std::uint32_t m_expected = kInitialExpected;
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
