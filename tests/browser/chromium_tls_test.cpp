// Chromium loads a page over HTTPS from nginx in a namespace of the test's
// own, writing its key log, in HTTP/1.1 and in HTTP/2 (which it chooses by
// ALPN when nginx offers it); the probe watching the adapter finds the
// person live and in a capture file. Labelled browser, built in release
// builds only.

#include "support/child_process.h"
#include "support/watched_tls_page.h"
#include "tools/probe_test_env.h"

#include <chrono>
#include <gtest/gtest.h>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::CProcessResult;

using test::kPatience;
using test::kProbe;

// The probe's statistics line when it ends.
void ExpectPersonFound(bool http2, const std::string& id, std::string& stats)
{
    test::CWatchedTlsPage page;
    ASSERT_TRUE(page.Serve(id, http2)) << page.Error();
    ASSERT_TRUE(page.Watch(kProbe)) << page.Error();

    // Every other name resolves to nothing, and the namespace has no route
    // beyond the test's own link.
    std::string host = test::MicroblogHost();
    CProcessResult chromium = test::RunProcess(
        page.Net().Watched().ExecArgs(
            {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + (page.Folder() / "profile").string(),
             "--host-resolver-rules=MAP " + host + " " + page.Address() + ", MAP * ~NOTFOUND",
             "--ignore-certificate-errors", "--dump-dom", "https://" + host + "/page.html"}),
        {"SSLKEYLOGFILE=" + page.KeyLog(), "HOME=" + page.Folder().string()}, kPatience);
    EXPECT_EQ(chromium.exitCode, 0) << chromium.err;
    EXPECT_NE(chromium.out.find(id), std::string::npos);

    CProcessResult result;
    CProcessResult file;
    page.Finish(result, file);
    EXPECT_EQ(result.out, "monitoring zkcap0\n" + id + "\t" + page.Page().name + "\n");
    EXPECT_NE(result.err.find(" tls_failed=0 "), std::string::npos) << result.err;

    // The same traffic from the capture file.
    ASSERT_TRUE(page.Error().empty()) << page.Error();
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
