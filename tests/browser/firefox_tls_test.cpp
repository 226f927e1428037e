// Firefox ESR loads a page over HTTP/2 inside TLS from nginx in a namespace
// of the test's own, writing its key log; the probe watching the adapter
// finds the person live and in a capture file. Labelled browser, built in
// release builds only.

#include "support/child_process.h"
#include "support/watched_tls_page.h"
#include "tools/probe_test_env.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::CProcessResult;

using test::kPatience;
using test::kProbe;

TEST(FirefoxTls, TheProbeFindsThePersonOfAPageFirefoxLoadsOverHttp2)
{
    ZK_REQUIRE_ROOT();
    test::CWatchedTlsPage page;
    ASSERT_TRUE(page.Serve("firefoxone", true)) << page.Error();

    // A fresh profile whose certificate database trusts the test's
    // authority. Every name resolves to the test's server, the namespace
    // has no route beyond the test's own link, and the browser's own
    // background services are off.
    std::filesystem::path profile = page.Folder() / "profile";
    std::filesystem::create_directory(profile);
    std::string database = "sql:" + profile.string();
    CProcessResult made = test::RunProcess({"certutil", "-N", "-d", database, "--empty-password"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    CProcessResult trusted =
        test::RunProcess({"certutil", "-A", "-d", database, "-n", "Zarumatekit test authority",
                          "-t", "C,,", "-i", page.Server().AuthorityFile().string()});
    ASSERT_EQ(trusted.exitCode, 0) << trusted.err;
    {
        std::ofstream prefs(profile / "user.js");
        prefs << "user_pref(\"network.dns.forceResolve\", \"" << page.Address() << "\");\n";
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

    ASSERT_TRUE(page.Watch(kProbe)) << page.Error();

    // The screenshot mode loads the page and ends.
    std::filesystem::path shot = page.Folder() / "page.png";
    CProcessResult firefox = test::RunProcess(
        page.Net().Watched().ExecArgs({"firefox-esr", "--headless", "--no-remote", "--profile",
                                       profile.string(), "--screenshot", shot.string(),
                                       "https://" + test::MicroblogHost() + "/page.html"}),
        {"SSLKEYLOGFILE=" + page.KeyLog(), "HOME=" + page.Folder().string()}, kPatience);
    EXPECT_EQ(firefox.exitCode, 0) << firefox.err;
    EXPECT_TRUE(std::filesystem::exists(shot)) << firefox.out << firefox.err;

    CProcessResult result;
    CProcessResult file;
    page.Finish(result, file);
    EXPECT_EQ(result.out, "monitoring zkcap0\nfirefoxone\t" + page.Page().name + "\n");
    EXPECT_NE(result.err.find(" tls_failed=0 "), std::string::npos) << result.err;

    // The same traffic from the capture file.
    ASSERT_TRUE(page.Error().empty()) << page.Error();
    EXPECT_EQ(file.out, result.out.substr(result.out.find('\n') + 1)) << file.err;
    EXPECT_NE(result.err.find(" http2_lost=0 "), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(" http2_streams=0 "), std::string::npos) << result.err;
}

} // namespace
} // namespace zk
