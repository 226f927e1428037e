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
    if (!m_tcpdump.WaitForErrorOutput("listening on", kStartPatience)) {
        m_error = "tcpdump does not listen: " + m_tcpdump.ErrorOutput();
        return false;
    }
    return true;
}

bool CPacketRecorder::Stop()
{
    m_tcpdump.Signal(SIGTERM);
    CProcessResult done = m_tcpdump.Finish(kEndLimit);
    if (done.timedOut || done.exitCode != 0) {
        m_error = done.timedOut ? "tcpdump does not end" : "tcpdump failed: " + done.err;
        return false;
    }
    return true;
}

} // namespace zk::test
