// The probe finding the owners of pages sent over HTTP/2 inside TLS, and
// over IPv6: nginx and nghttpd serve them in namespaces of the test's own,
// curl fetches them with its key log, and the probe watches live and then
// reads a capture file of the same traffic.

#include "support/child_process.h"
#include "support/microblog_page.h"
#include "support/netns.h"
#include "support/packet_recorder.h"
#include "support/test_env.h"
#include "support/tls_page_server.h"
#include "tools/probe_test_env.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::CChildProcess;
using test::CProcessResult;
using test::CTlsPageServer;
using test::CVethFamilies;
using test::CVethPair;

using test::CPerson;
using test::kEndLimit;
using test::kEnglish;
using test::kPatience;
using test::kProbe;
using test::PersonLine;
using test::PersonLines;
using test::SortedLines;

const std::vector<CPerson> kPersons{
    {"hotel", "ほてる"}, {"india", "いんでぃあ"}, {"juliett", "じゅりえっと"},
    {"kilo", "きろ"},    {"lima", "りま"},        {"mike", "まいく"},
};

class ProbeHttp2TlsTest : public ::testing::Test
{
protected:
    // The namespaces, the certificate and the pages (large enough to take
    // many DATA frames each); nginx is started by the test that uses it.
    void Prepare(CVethFamilies families)
    {
        ZK_REQUIRE_ROOT();
        m_net = std::make_unique<CVethPair>(1500, families);
        ASSERT_TRUE(m_net->Ok()) << m_net->Error();
        m_address = families == CVethFamilies::kIpv6 ? test::AddressText(CVethPair::kPeerAddress6)
                                                     : test::AddressText(CVethPair::kPeerAddress);
        m_server.SetHttp2(true);
        ASSERT_TRUE(m_server.MakeCertificate()) << m_server.Error();
        for (const CPerson& person : kPersons) {
            test::CMicroblogPage page;
            page.id = person.id;
            page.name = person.name;
            page.size = 40000;
            ASSERT_TRUE(m_server.AddPage(person.id + ".html", test::BuildMicroblogPage(page)));
        }
    }

    void StartNginx()
    {
        ASSERT_TRUE(m_server.Start(m_net->Peer(), m_address, m_net->Watched())) << m_server.Error();
    }

    // tcpdump records what the probe sees, then the probe starts.
    void StartWatching()
    {
        ASSERT_TRUE(m_recorder.Start(m_net->Watched(), CVethPair::kWatchedName, CaptureFile()))
            << m_recorder.Error();
        ASSERT_TRUE(m_probe.Start(
            m_net->Watched().ExecArgs({kProbe, "--stats", "--keylog", KeyLog().string(),
                                       "--adapter", CVethPair::kWatchedName}),
            kEnglish));
        ASSERT_TRUE(m_probe.WaitForOutput("monitoring zkcap0\n", kPatience));
    }

    // curl fetches the persons [first, first + count) over one connection,
    // with its key log, asking for gzip.
    void Fetch(std::size_t first, std::size_t count, const std::vector<std::string>& options,
               int port = CTlsPageServer::kPort)
    {
        std::vector<std::string> pages;
        for (std::size_t i = first; i < first + count; ++i)
            pages.push_back(kPersons[i].id + ".html");
        std::vector<std::string> curlOptions{"--compressed", "--no-progress-meter", "--max-time",
                                             "60"};
        curlOptions.insert(curlOptions.end(), options.begin(), options.end());
        std::vector<std::string> args = m_server.CurlArgs(pages, curlOptions, port);
        for (std::size_t i = 0; i < count; ++i)
            args.insert(args.begin() + 1, {"-o", "/dev/null"});
        CProcessResult curl = test::RunProcess(m_net->Watched().ExecArgs(args),
                                               {"SSLKEYLOGFILE=" + KeyLog().string()}, kPatience);
        EXPECT_EQ(curl.exitCode, 0) << curl.err;
        for (std::size_t i = first; i < first + count; ++i)
            EXPECT_TRUE(m_probe.WaitForOutput(PersonLine(kPersons[i]), kPatience))
                << kPersons[i].id;
    }

    // Every person was found live and is found again in the capture file,
    // with the figures given. (The header tables of HTTP/2 connections stay
    // among the buffered bytes until their streams are retired, so those
    // are not nought here.)
    void ExpectEveryPersonFound(const std::vector<std::string>& figures)
    {
        m_probe.Signal(SIGTERM);
        CProcessResult live = m_probe.Finish(kEndLimit);
        EXPECT_EQ(live.exitCode, 0) << live.err;
        std::string out = live.out.substr(live.out.find('\n') + 1);
        EXPECT_EQ(SortedLines(out), PersonLines(kPersons));
        ASSERT_TRUE(m_recorder.Stop()) << m_recorder.Error();
        CProcessResult file = test::RunProcess(
            {kProbe, "--stats", "--keylog", KeyLog().string(), CaptureFile().string()}, kEnglish);
        EXPECT_EQ(file.exitCode, 0) << file.err;
        EXPECT_EQ(SortedLines(file.out), PersonLines(kPersons));
        for (const std::string& figure : figures) {
            EXPECT_NE(live.err.find(figure), std::string::npos) << live.err;
            EXPECT_NE(file.err.find(figure), std::string::npos) << file.err;
        }
    }

    std::filesystem::path KeyLog() const { return m_dir.Path() / "keys.log"; }
    std::filesystem::path CaptureFile() const { return m_dir.Path() / "capture.pcap"; }

    test::CTempDir m_dir;
    std::unique_ptr<CVethPair> m_net;
    std::string m_address;
    CTlsPageServer m_server;
    test::CPacketRecorder m_recorder;
    CChildProcess m_probe;
};

// Four streams multiplexed on one connection (curl -Z waits for the first
// connection's ALPN and then puts every transfer on it), two in sequence on
// another; nginx gzip-codes every page and carries its header table across
// the streams of a connection.
TEST_F(ProbeHttp2TlsTest, FindsEveryPersonOfGzipPagesFromNginxOverTls13)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(CVethFamilies::kIpv4));
    ASSERT_NO_FATAL_FAILURE(StartNginx());
    ASSERT_NO_FATAL_FAILURE(StartWatching());
    Fetch(0, 4, {"--tlsv1.3", "--parallel"});
    Fetch(4, 2, {"--tlsv1.3"});
    ExpectEveryPersonFound({" gzip=6 ",
                            " tls_connections=2 tls_decrypted=2 tls_without_keys=0 "
                            "tls_failed=0 tls_skipped=0",
                            " http2_connections=2 http2_streams=6 http2_lost=0 "});
}

// nghttpd answers the X25519 key share of curl's first ClientHello with a
// HelloRetryRequest; it sends its pages without a content coding.
TEST_F(ProbeHttp2TlsTest, FindsEveryPersonOfPagesFromNghttpdOverTls)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(CVethFamilies::kIpv4));
    CChildProcess nghttpd;
    ASSERT_TRUE(nghttpd.Start(m_net->Peer().ExecArgs(
        {"nghttpd", "--address=" + m_address, "-d", (m_server.Dir() / "pages").string(),
         std::to_string(CTlsPageServer::kPort), m_server.KeyFile().string(),
         m_server.CertificateFile().string()})));
    // The server may not be listening yet when the first client connects:
    // curl retries a refused connection.
    std::vector<std::string> ready{"curl",
                                   "--silent",
                                   "--noproxy",
                                   "*",
                                   "-k",
                                   "--retry",
                                   "20",
                                   "--retry-connrefused",
                                   "--retry-delay",
                                   "1",
                                   "-o",
                                   "/dev/null",
                                   "https://" + m_address + "/index.html"};
    ASSERT_EQ(test::RunProcess(m_net->Peer().ExecArgs(ready), {}, 2 * kPatience).exitCode, 0);
    m_server.UseAddress(m_address);
    ASSERT_NO_FATAL_FAILURE(StartWatching());
    Fetch(0, 4, {"--parallel"});
    Fetch(4, 2, {});
    nghttpd.Signal(SIGTERM);
    nghttpd.Finish(kEndLimit);
    ExpectEveryPersonFound({" tls_connections=2 tls_decrypted=2 tls_without_keys=0 "
                            "tls_failed=0 tls_skipped=0",
                            " http2_connections=2 http2_streams=6 http2_lost=0 "});
}

// HTTPS over IPv6 only: two pages in HTTP/1.1 on one connection, four over
// HTTP/2 on another.
TEST_F(ProbeHttp2TlsTest, FindsEveryPersonOfPagesOverTlsOnAnIpv6OnlyLink)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(CVethFamilies::kIpv6));
    ASSERT_NO_FATAL_FAILURE(StartNginx());
    ASSERT_NO_FATAL_FAILURE(StartWatching());
    Fetch(0, 2, {"--http1.1"});
    Fetch(2, 4, {"--parallel"});
    ExpectEveryPersonFound({" gzip=6 ",
                            " tls_connections=2 tls_decrypted=2 tls_without_keys=0 "
                            "tls_failed=0 tls_skipped=0",
                            " http2_connections=1 http2_streams=4 http2_lost=0 "});
}

} // namespace
} // namespace zk
