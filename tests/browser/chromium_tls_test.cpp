// Chromium loads a page over HTTPS from nginx in a namespace of the test's
// own, writing its key log, in HTTP/1.1 and in HTTP/2 (which it chooses by
// ALPN when nginx offers it); the probe watching the adapter finds the
// person live and in a capture file. Labelled browser, built in release
// builds only.

#include "support/child_process.h"
#include "support/microblog_page.h"
#include "support/netns.h"
#include "support/packet_recorder.h"
#include "support/test_env.h"
#include "support/tls_page_server.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::CChildProcess;
using test::CProcessResult;
using test::CTlsPageServer;
using test::CVethPair;

const std::string kProbe = ZK_PROBE_PATH;
constexpr auto kPatience = 60s;
constexpr auto kEndLimit = 10s;

// The probe's statistics line when it ends.
void ExpectPersonFound(bool http2, const std::string& id, std::string& stats)
{
    CVethPair net;
    ASSERT_TRUE(net.Ok()) << net.Error();
    CTlsPageServer server;
    server.SetHttp2(http2);
    ASSERT_TRUE(server.MakeCertificate()) << server.Error();
    test::CMicroblogPage page;
    page.id = id;
    page.size = 40000;
    ASSERT_TRUE(server.AddPage("page.html", test::BuildMicroblogPage(page)));
    std::string address = test::AddressText(CVethPair::kPeerAddress);
    ASSERT_TRUE(server.Start(net.Peer(), address, net.Watched())) << server.Error();

    test::CTempDir dir;
    std::string keyLog = (dir.Path() / "keys.log").string();
    test::CPacketRecorder recorder;
    std::filesystem::path captureFile = dir.Path() / "capture.pcap";
    ASSERT_TRUE(recorder.Start(net.Watched(), CVethPair::kWatchedName, captureFile))
        << recorder.Error();
    CChildProcess probe;
    ASSERT_TRUE(probe.Start(net.Watched().ExecArgs({kProbe, "--stats", "--keylog", keyLog,
                                                    "--adapter", CVethPair::kWatchedName}),
                            {"LC_ALL=C.UTF-8"}));
    ASSERT_TRUE(probe.WaitForOutput("monitoring zkcap0\n", kPatience));

    // Every other name resolves to nothing, and the namespace has no route
    // beyond the test's own link.
    std::string host = test::MicroblogHost();
    CProcessResult chromium = test::RunProcess(
        net.Watched().ExecArgs(
            {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + (dir.Path() / "profile").string(),
             "--host-resolver-rules=MAP " + host + " " + address + ", MAP * ~NOTFOUND",
             "--ignore-certificate-errors", "--dump-dom", "https://" + host + "/page.html"}),
        {"SSLKEYLOGFILE=" + keyLog, "HOME=" + dir.Path().string()}, kPatience);
    EXPECT_EQ(chromium.exitCode, 0) << chromium.err;
    EXPECT_NE(chromium.out.find(id), std::string::npos);

    probe.WaitForOutput(id + "\t", kPatience);
    probe.Signal(SIGTERM);
    CProcessResult result = probe.Finish(kEndLimit);
    EXPECT_EQ(result.out, "monitoring zkcap0\n" + id + "\t" + page.name + "\n");
    EXPECT_NE(result.err.find(" tls_failed=0 "), std::string::npos) << result.err;

    // The same traffic from the capture file.
    ASSERT_TRUE(recorder.Stop()) << recorder.Error();
    CProcessResult file = test::RunProcess(
        {kProbe, "--stats", "--keylog", keyLog, captureFile.string()}, {"LC_ALL=C.UTF-8"});
    EXPECT_EQ(file.out, result.out.substr(result.out.find('\n') + 1)) << file.err;
    EXPECT_NE(result.err.find(" http2_lost=0 "), std::string::npos) << result.err;
    stats = result.err;
}

TEST(ChromiumTls, TheProbeFindsThePersonOfAPageChromiumLoads)
{
    ZK_REQUIRE_ROOT();
    std::string stats;
    ASSERT_NO_FATAL_FAILURE(ExpectPersonFound(false, "chromiumone", stats));
    EXPECT_NE(stats.find(" http2_connections=0 "), std::string::npos) << stats;
}

TEST(ChromiumTls, TheProbeFindsThePersonOfAPageChromiumLoadsOverHttp2)
{
    ZK_REQUIRE_ROOT();
    std::string stats;
    ASSERT_NO_FATAL_FAILURE(ExpectPersonFound(true, "chromiumtwo", stats));
    EXPECT_EQ(stats.find(" http2_streams=0 "), std::string::npos) << stats;
}

} // namespace
} // namespace zk
