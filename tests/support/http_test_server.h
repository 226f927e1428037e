#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zk::test {

// What the server answers for one request target.
struct CHttpScript
{
    enum class CFraming
    {
        ContentLength, // "Content-Length: <declared or real length>"
        Chunked,       // "Transfer-Encoding: chunked"
        UntilClose,    // no length: the body ends when the connection closes
    };

    // The whole status line, so that malformed ones can be sent too.
    std::string statusLine = "HTTP/1.1 200 OK";
    std::vector<std::string> headers; // further header lines, without line ends
    std::string body;
    CFraming framing = CFraming::ContentLength;
    // The Content-Length to declare when it is not the body's length.
    std::size_t declaredLength = kRealLength;
    std::size_t chunkSize = 7;
    // After reading the request, send nothing and hold the connection.
    bool stallBeforeResponse = false;
    // Send only this many body bytes (for chunked: of the chunk stream);
    // then hold the connection if stallAfterBody, else close it.
    std::size_t bodyBytesToSend = kAll;
    bool stallAfterBody = false;

    static constexpr std::size_t kRealLength = static_cast<std::size_t>(-1);
    static constexpr std::size_t kAll = static_cast<std::size_t>(-1);

    static CHttpScript Status(std::string statusLine, std::string body = {});
};

// One request as the server read it.
struct CHttpRecordedRequest
{
    std::string method;
    std::string target; // raw, as on the request line
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::uint16_t localPort = 0; // the port the request came in on

    // The first header of that name (case-insensitive), or empty.
    std::string Header(const std::string& name) const;
};

// A small HTTP/1.1 server for tests: one thread accepts, one thread per
// connection answers from the scripts, one response per connection. Targets
// without a script get a 404. It stops itself when its lifetime ends, so a
// test that forgets it never hangs; held (stalled) connections are released
// by Stop, ReleaseStalls or the end of the lifetime.
class CHttpTestServer
{
public:
    explicit CHttpTestServer(std::chrono::milliseconds lifetime = std::chrono::seconds(60));
    ~CHttpTestServer();
    CHttpTestServer(const CHttpTestServer&) = delete;
    CHttpTestServer& operator=(const CHttpTestServer&) = delete;

    // Listens on the address (port 0: an ephemeral one). The socket belongs
    // to the network namespace of the calling thread.
    bool Start(const std::string& address = "127.0.0.1", std::uint16_t port = 0);
    void Stop();

    std::uint16_t GetPort() const { return m_port; }
    void SetScript(const std::string& target, CHttpScript script);
    void ReleaseStalls();

    std::vector<CHttpRecordedRequest> GetRequests() const;
    std::size_t CountRequests(const std::string& target) const;
    // True once at least this many requests were read.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    void AcceptLoop();
    void Serve(int fd);
    bool ReadRequest(int fd, CHttpRecordedRequest& request);
    void Respond(int fd, const CHttpScript& script);
    bool Hold();
    bool Expired() const;

    std::chrono::milliseconds m_lifetime;
    std::chrono::steady_clock::time_point m_deadline;
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::thread m_acceptThread;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    bool m_released = false;
    std::map<std::string, CHttpScript> m_scripts;
    std::vector<CHttpRecordedRequest> m_requests;
    std::vector<std::thread> m_connections;
};

} // namespace zk::test
