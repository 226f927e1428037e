#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace zk::test {

// A loopback server that answers each connection, one after another, with
// raw bytes, so that answers no well-behaved server gives can be sent. The
// head goes at once; then the tail is sent one byte at a time, a tenth of
// a second apart, for as long as the connection lasts, so that the idle
// limits never run out. Without a tail the connection is closed after the
// head. Sent once, the tail follows the head a tick later, as a whole, and
// then the connection is closed: the two arrive apart.
class CRawReplyServer
{
public:
    enum class CTail
    {
        Trickled,
        Once,
    };

    CRawReplyServer(std::string head, std::string tail, CTail mode = CTail::Trickled)
        : m_head(std::move(head)), m_tail(std::move(tail)), m_mode(mode)
    {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(m_listen, kBacklog) != 0 ||
            getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CRawReplyServer()
    {
        m_stop = true;
        shutdown(m_listen, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        close(m_listen);
    }
    CRawReplyServer(const CRawReplyServer&) = delete;
    CRawReplyServer& operator=(const CRawReplyServer&) = delete;

    std::uint16_t GetPort() const { return m_port; }

private:
    static constexpr std::chrono::milliseconds kBytePeriod{100};
    static constexpr int kBacklog = 8;

    void Serve()
    {
        while (!m_stop) {
            int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            Answer(fd);
        }
    }

    // Only the start of the request is read: the answer does not depend on
    // it.
    void Answer(int fd)
    {
        char request[4096];
        if (recv(fd, request, sizeof request, 0) > 0 &&
            send(fd, m_head.data(), m_head.size(), MSG_NOSIGNAL) >= 0) {
            if (m_mode == CTail::Once) {
                std::this_thread::sleep_for(kBytePeriod);
                send(fd, m_tail.data(), m_tail.size(), MSG_NOSIGNAL);
            }
            for (std::size_t i = 0; m_mode == CTail::Trickled && !m_stop && !m_tail.empty(); ++i) {
                if (send(fd, &m_tail[i % m_tail.size()], 1, MSG_NOSIGNAL) != 1)
                    break;
                std::this_thread::sleep_for(kBytePeriod);
            }
        }
        shutdown(fd, SHUT_WR);
        close(fd);
    }

    std::string m_head, m_tail;
    CTail m_mode;
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace zk::test
