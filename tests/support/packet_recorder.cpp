#include "support/packet_recorder.h"

#include <chrono>
#include <csignal>

namespace zk::test {
namespace {

using namespace std::chrono_literals;

// tcpdump listens within a second; only a failure takes this long.
constexpr auto kStartPatience = 60s;
constexpr auto kEndLimit = 10s;

} // namespace

bool CPacketRecorder::Start(const CNetns& ns, const std::string& adapter,
                            const std::filesystem::path& file)
{
    if (!m_tcpdump.Start(ns.ExecArgs({"tcpdump", "--immediate-mode", "-Z", "root", "-i", adapter,
                                      "-U", "-s", "0", "-w", file.string(), "tcp"}))) {
        m_error = "tcpdump does not start";
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + kStartPatience;
    while (m_tcpdump.ErrorOutput().find("listening on") == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || !m_tcpdump.Pump(100ms)) {
            m_error = "tcpdump does not listen: " + m_tcpdump.ErrorOutput();
            return false;
        }
    }
    return true;
}

bool CPacketRecorder::Stop()
{
    m_tcpdump.Signal(SIGTERM);
    CProcessResult done = m_tcpdump.Finish(kEndLimit);
    if (done.timedOut) {
        m_error = "tcpdump does not end";
        return false;
    }
    return true;
}

} // namespace zk::test
