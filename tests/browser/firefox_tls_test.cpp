// Firefox ESR loads a page over HTTP/2 inside TLS from nginx in a namespace
// of the test's own, writing its key log; the probe watching the adapter
// finds the person live and in a capture file. Labelled browser, built in
// release builds only.

#include "support/child_process.h"
#include "support/microblog_page.h"
#include "support/netns.h"
#include "support/packet_recorder.h"
#include "support/test_env.h"
#include "support/tls_page_server.h"

#include <chrono>
#include <csignal>
#include <fstream>
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

TEST(FirefoxTls, TheProbeFindsThePersonOfAPageFirefoxLoadsOverHttp2)
{
    ZK_REQUIRE_ROOT();
    CVethPair net;
    ASSERT_TRUE(net.Ok()) << net.Error();
    CTlsPageServer server;
    server.SetHttp2(true);
    ASSERT_TRUE(server.MakeCertificate()) << server.Error();
    test::CMicroblogPage page;
    page.id = "firefoxone";
    page.size = 40000;
    ASSERT_TRUE(server.AddPage("page.html", test::BuildMicroblogPage(page)));
    std::string address = test::AddressText(CVethPair::kPeerAddress);
    ASSERT_TRUE(server.Start(net.Peer(), address, net.Watched())) << server.Error();

    // A fresh profile whose certificate database trusts the test's
    // authority. Every name resolves to the test's server, the namespace
    // has no route beyond the test's own link, and the browser's own
    // background services are off.
    test::CTempDir dir;
    std::filesystem::path profile = dir.Path() / "profile";
    std::filesystem::create_directory(profile);
    std::string database = "sql:" + profile.string();
    CProcessResult made = test::RunProcess({"certutil", "-N", "-d", database, "--empty-password"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    CProcessResult trusted =
        test::RunProcess({"certutil", "-A", "-d", database, "-n", "Zarumatekit test authority",
                          "-t", "C,,", "-i", server.AuthorityFile().string()});
    ASSERT_EQ(trusted.exitCode, 0) << trusted.err;
    {
        std::ofstream prefs(profile / "user.js");
        prefs << "user_pref(\"network.dns.forceResolve\", \"" << address << "\");\n";
        for (const char* off :
             {"network.captive-portal-service.enabled", "network.connectivity-service.enabled",
              "network.http.http3.enable", "app.update.enabled", "extensions.update.enabled",
              "browser.safebrowsing.malware.enabled", "browser.safebrowsing.phishing.enabled",
              "browser.shell.checkDefaultBrowser", "datareporting.policy.dataSubmissionEnabled",
              "toolkit.telemetry.enabled", "network.predictor.enabled"})
            prefs << "user_pref(\"" << off << "\", false);\n";
        // No resolver over HTTPS.
        prefs << "user_pref(\"network.trr.mode\", 5);\n";
        ASSERT_TRUE(prefs);
    }

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

    // The screenshot mode loads the page and ends.
    std::filesystem::path shot = dir.Path() / "page.png";
    CProcessResult firefox = test::RunProcess(
        net.Watched().ExecArgs({"firefox-esr", "--headless", "--no-remote", "--profile",
                                profile.string(), "--screenshot", shot.string(),
                                "https://" + test::MicroblogHost() + "/page.html"}),
        {"SSLKEYLOGFILE=" + keyLog, "HOME=" + dir.Path().string()}, kPatience);
    EXPECT_EQ(firefox.exitCode, 0) << firefox.err;
    EXPECT_TRUE(std::filesystem::exists(shot)) << firefox.out << firefox.err;

    probe.WaitForOutput("firefoxone\t", kPatience);
    probe.Signal(SIGTERM);
    CProcessResult result = probe.Finish(kEndLimit);
    EXPECT_EQ(result.out, "monitoring zkcap0\nfirefoxone\t" + page.name + "\n");
    EXPECT_NE(result.err.find(" tls_failed=0 "), std::string::npos) << result.err;

    // The same traffic from the capture file.
    ASSERT_TRUE(recorder.Stop()) << recorder.Error();
    CProcessResult file = test::RunProcess(
        {kProbe, "--stats", "--keylog", keyLog, captureFile.string()}, {"LC_ALL=C.UTF-8"});
    EXPECT_EQ(file.out, result.out.substr(result.out.find('\n') + 1)) << file.err;
    EXPECT_NE(result.err.find(" http2_lost=0 "), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(" http2_streams=0 "), std::string::npos) << result.err;
}

} // namespace
} // namespace zk
