#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zk::test {
namespace {

constexpr int kPollMs = 50;
constexpr std::size_t kMaxRequestHead = 64 * 1024;
constexpr std::size_t kMaxRequestBody = 1024 * 1024;
constexpr auto kReadLimit = std::chrono::seconds(10);

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text)
{
    std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

bool SendAll(int fd, const std::string& data)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string ChunkedBody(const std::string& body, std::size_t chunkSize)
{
    std::string out;
    char size[32];
    for (std::size_t i = 0; i < body.size(); i += chunkSize) {
        std::size_t n = std::min(chunkSize, body.size() - i);
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        out += size;
        out += body.substr(i, n);
        out += "\r\n";
    }
    out += "0\r\n\r\n";
    return out;
}

} // namespace

CHttpScript CHttpScript::Status(std::string statusLine, std::string body)
{
    CHttpScript script;
    script.statusLine = std::move(statusLine);
    script.body = std::move(body);
    return script;
}

std::string CHttpRecordedRequest::Header(const std::string& name) const
{
    std::string wanted = Lower(name);
    for (const auto& [key, value] : headers)
        if (Lower(key) == wanted)
            return value;
    return {};
}

CHttpTestServer::CHttpTestServer(std::chrono::milliseconds lifetime) : m_lifetime(lifetime) {}

CHttpTestServer::~CHttpTestServer()
{
    Stop();
}

bool CHttpTestServer::Start(const std::string& address, std::uint16_t port)
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0)
        return false;
    int on = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(m_listen, 16) != 0) {
        ::close(m_listen);
        m_listen = -1;
        return false;
    }
    socklen_t length = sizeof local;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&local), &length);
    m_port = ntohs(local.sin_port);
    m_deadline = std::chrono::steady_clock::now() + m_lifetime;
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void CHttpTestServer::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        connections.swap(m_connections);
    }
    for (std::thread& connection : connections)
        connection.join();
    if (m_listen >= 0) {
        ::close(m_listen);
        m_listen = -1;
    }
}

void CHttpTestServer::SetScript(const std::string& target, CHttpScript script)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_scripts[target] = std::move(script);
}

void CHttpTestServer::ReleaseStalls()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_released = true;
    }
    m_changed.notify_all();
}

std::vector<CHttpRecordedRequest> CHttpTestServer::GetRequests() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

std::size_t CHttpTestServer::CountRequests(const std::string& target) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::size_t count = 0;
    for (const auto& request : m_requests)
        count += request.target == target ? 1 : 0;
    return count;
}

bool CHttpTestServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, timeout, [&] { return m_requests.size() >= count; });
}

bool CHttpTestServer::Expired() const
{
    return std::chrono::steady_clock::now() >= m_deadline;
}

void CHttpTestServer::AcceptLoop()
{
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stopping || Expired())
                return;
        }
        pollfd ready{m_listen, POLLIN, 0};
        if (::poll(&ready, 1, kPollMs) <= 0)
            continue;
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> guard(m_lock);
        m_connections.emplace_back([this, fd] { Serve(fd); });
    }
}

// Holds a connection until the server stops, stalls are released or the
// lifetime ends. False when the server is stopping.
bool CHttpTestServer::Hold()
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait_until(guard, m_deadline, [&] { return m_stopping || m_released; });
    return !m_stopping;
}

bool CHttpTestServer::ReadRequest(int fd, CHttpRecordedRequest& request)
{
    auto limit = std::chrono::steady_clock::now() + kReadLimit;
    std::string data;
    std::size_t headEnd = std::string::npos;
    std::size_t bodyLength = 0;
    for (;;) {
        if (headEnd == std::string::npos) {
            headEnd = data.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                std::size_t lineEnd = data.find("\r\n");
                std::string line = data.substr(0, lineEnd);
                // The target may hold raw bytes of any value but spaces;
                // method and version are the first and last words.
                std::size_t first = line.find(' ');
                std::size_t last = line.rfind(' ');
                if (first == std::string::npos || last == first)
                    return false;
                request.method = line.substr(0, first);
                request.target = line.substr(first + 1, last - first - 1);
                request.version = line.substr(last + 1);
                std::size_t pos = lineEnd + 2;
                while (pos < headEnd) {
                    std::size_t end = data.find("\r\n", pos);
                    std::string header = data.substr(pos, end - pos);
                    pos = end + 2;
                    std::size_t colon = header.find(':');
                    if (colon == std::string::npos)
                        continue;
                    request.headers.emplace_back(Trim(header.substr(0, colon)),
                                                 Trim(header.substr(colon + 1)));
                }
                std::string length = request.Header("Content-Length");
                bodyLength = length.empty() ? 0 : std::stoul(length);
                if (bodyLength > kMaxRequestBody)
                    return false;
            } else if (data.size() > kMaxRequestHead) {
                return false;
            }
        }
        if (headEnd != std::string::npos && data.size() >= headEnd + 4 + bodyLength) {
            request.body = data.substr(headEnd + 4, bodyLength);
            return true;
        }
        if (std::chrono::steady_clock::now() >= limit)
            return false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stopping)
                return false;
        }
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, kPollMs) <= 0)
            continue;
        char buffer[4096];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

void CHttpTestServer::Respond(int fd, const CHttpScript& script)
{
    if (script.stallBeforeResponse && !Hold())
        return;
    std::string head = script.statusLine + "\r\n";
    for (const std::string& header : script.headers)
        head += header + "\r\n";
    std::string body = script.body;
    switch (script.framing) {
    case CHttpScript::CFraming::ContentLength:
        head += "Content-Length: " +
                std::to_string(script.declaredLength == CHttpScript::kRealLength
                                   ? script.body.size()
                                   : script.declaredLength) +
                "\r\n";
        break;
    case CHttpScript::CFraming::Chunked:
        head += "Transfer-Encoding: chunked\r\n";
        body = ChunkedBody(script.body, script.chunkSize);
        break;
    case CHttpScript::CFraming::UntilClose:
        break;
    }
    head += "Connection: close\r\n\r\n";
    if (script.bodyBytesToSend != CHttpScript::kAll && script.bodyBytesToSend < body.size())
        body.resize(script.bodyBytesToSend);
    if (!SendAll(fd, head) || !SendAll(fd, body))
        return;
    if (script.stallAfterBody)
        Hold();
}

void CHttpTestServer::Serve(int fd)
{
    struct sockaddr_in local
    {};
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    CHttpRecordedRequest request;
    request.localPort = ntohs(local.sin_port);
    if (ReadRequest(fd, request)) {
        CHttpScript script = CHttpScript::Status("HTTP/1.1 404 Not Found", "not here");
        {
            std::lock_guard<std::mutex> guard(m_lock);
            auto found = m_scripts.find(request.target);
            if (found != m_scripts.end())
                script = found->second;
            m_requests.push_back(request);
        }
        m_changed.notify_all();
        Respond(fd, script);
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

} // namespace zk::test
