#include "support/watched_tls_page.h"

#include <chrono>
#include <csignal>

namespace zk::test {
namespace {

using namespace std::chrono_literals;

// Only a hang takes this long.
constexpr auto kPatience = 60s;
constexpr auto kEndLimit = 10s;
const std::vector<std::string> kEnglish{"LC_ALL=C.UTF-8"};

} // namespace

bool CWatchedTlsPage::Serve(const std::string& id, bool http2)
{
    if (!m_net.Ok()) {
        m_error = m_net.Error();
        return false;
    }
    m_server.SetHttp2(http2);
    m_page.id = id;
    m_page.size = 40000;
    if (!m_server.MakeCertificate() || !m_server.AddPage("page.html", BuildMicroblogPage(m_page)) ||
        !m_server.Start(m_net.Peer(), Address(), m_net.Watched())) {
        m_error = m_server.Error();
        return false;
    }
    return true;
}

bool CWatchedTlsPage::Watch(const std::string& probe)
{
    m_probePath = probe;
    if (!m_recorder.Start(m_net.Watched(), CVethPair::kWatchedName, CaptureFile())) {
        m_error = m_recorder.Error();
        return false;
    }
    if (!m_probe.Start(m_net.Watched().ExecArgs({probe, "--stats", "--keylog", KeyLog(),
                                                 "--adapter", CVethPair::kWatchedName}),
                       kEnglish) ||
        !m_probe.WaitForOutput("monitoring zkcap0\n", kPatience)) {
        m_error = "the probe does not watch: " + m_probe.ErrorOutput();
        return false;
    }
    return true;
}

void CWatchedTlsPage::Finish(CProcessResult& live, CProcessResult& file)
{
    m_probe.WaitForOutput(m_page.id + "\t", kPatience);
    m_probe.Signal(SIGTERM);
    live = m_probe.Finish(kEndLimit);
    if (!m_recorder.Stop())
        m_error = m_recorder.Error();
    file = RunProcess({m_probePath, "--stats", "--keylog", KeyLog(), CaptureFile().string()},
                      kEnglish);
}

} // namespace zk::test
