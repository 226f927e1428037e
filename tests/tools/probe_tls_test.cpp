// The probe reading HTTPS pages: nginx serves them in a namespace of the
// test's own, curl fetches them with its key log, and the probe watches
// live and then reads a capture file of the same traffic.

#include "support/child_process.h"
#include "support/microblog_page.h"
#include "support/netns.h"
#include "support/packet_recorder.h"
#include "support/test_env.h"
#include "support/tls_page_server.h"
#include "tools/probe_test_env.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::CChildProcess;
using test::CProcessResult;
using test::CTlsPageServer;
using test::CVethPair;

using test::kEndLimit;
using test::kEnglish;
using test::kPatience;
using test::kProbe;
using test::ReadFile;

const std::string kFirstId = "tlsone";
const std::string kSecondId = "tlstwo";
const std::string kName = "ざるこ";

struct CTlsCase
{
    const char* m_name;
    std::vector<std::string> m_curlOptions;
    int m_port = CTlsPageServer::kPort;
};

class ProbeTlsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_ROOT();
        m_net = std::make_unique<CVethPair>();
        ASSERT_TRUE(m_net->Ok()) << m_net->Error();
        m_server = std::make_unique<CTlsPageServer>();
        ASSERT_TRUE(m_server->MakeCertificate()) << m_server->Error();
        test::CMicroblogPage first;
        first.id = kFirstId;
        first.name = kName;
        test::CMicroblogPage second = first;
        second.id = kSecondId;
        ASSERT_TRUE(m_server->AddPage("one.html", test::BuildMicroblogPage(first)));
        ASSERT_TRUE(m_server->AddPage("two.html", test::BuildMicroblogPage(second)));
        ASSERT_TRUE(m_server->Start(m_net->Peer(), test::AddressText(CVethPair::kPeerAddress),
                                    m_net->Watched()))
            << m_server->Error();
    }

    std::filesystem::path File(const std::string& name) const { return m_dir.Path() / name; }

    // tcpdump writes what the probe sees into a capture file, for the same
    // traffic read again from the file.
    void StartRecording()
    {
        ASSERT_TRUE(
            m_recorder.Start(m_net->Watched(), CVethPair::kWatchedName, File("capture.pcap")))
            << m_recorder.Error();
    }

    void StopRecording() { ASSERT_TRUE(m_recorder.Stop()) << m_recorder.Error(); }

    void StartProbe(const std::filesystem::path& keyLog)
    {
        ASSERT_TRUE(
            m_probe.Start(m_net->Watched().ExecArgs({kProbe, "--stats", "--keylog", keyLog.string(),
                                                     "--adapter", CVethPair::kWatchedName}),
                          kEnglish));
        ASSERT_TRUE(m_probe.WaitForOutput("monitoring zkcap0\n", kPatience));
    }

    CProcessResult Curl(const std::vector<std::string>& options, int port,
                        const std::filesystem::path& keyLog)
    {
        std::vector<std::string> args = m_server->CurlArgs({"one.html", "two.html"}, options, port);
        args.insert(args.begin() + 1, {"-o", "/dev/null", "-o", "/dev/null"});
        return test::RunProcess(m_net->Watched().ExecArgs(args),
                                {"SSLKEYLOGFILE=" + keyLog.string()});
    }

    // Waits for both people, then ends the probe.
    CProcessResult FinishProbe()
    {
        m_probe.WaitForOutput(kSecondId + "\t", kPatience);
        m_probe.Signal(SIGTERM);
        return m_probe.Finish(kEndLimit);
    }

    std::string Expected() const
    {
        return kFirstId + "\t" + kName + "\n" + kSecondId + "\t" + kName + "\n";
    }

    // The recording read again with the same key log finds what the live
    // probe found, over as many connections.
    void ExpectCaptureFileRead(const std::filesystem::path& keyLog, int connections = 1,
                               const std::string& expected = "")
    {
        CProcessResult result = test::RunProcess(
            {kProbe, "--stats", "--keylog", keyLog.string(), File("capture.pcap").string()},
            kEnglish);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, expected.empty() ? Expected() : expected);
        std::string count = std::to_string(connections);
        EXPECT_NE(result.err.find(" tls_connections=" + count + " tls_decrypted=" + count +
                                  " tls_without_keys=0 tls_failed=0 tls_skipped=0"),
                  std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find(" buffered_bytes=0 "), std::string::npos) << result.err;
    }

    // The server closes each connection after its response, so curl opens a
    // second one for the second page and resumes its session there: both
    // connections are read, live and from the recording.
    void ExpectResumedSessionRead(std::vector<std::string> curlOptions)
    {
        std::filesystem::path keyLog = File("keys.log");
        ASSERT_NO_FATAL_FAILURE(StartRecording());
        ASSERT_NO_FATAL_FAILURE(StartProbe(keyLog));
        curlOptions.insert(curlOptions.end(), {"--header", "Connection: close"});
        CProcessResult curl = Curl(curlOptions, CTlsPageServer::kPort, keyLog);
        ASSERT_EQ(curl.exitCode, 0) << curl.err;
        CProcessResult probe = FinishProbe();
        EXPECT_EQ(probe.out, "monitoring zkcap0\n" + Expected());
        EXPECT_NE(probe.err.find(" tls_connections=2 tls_decrypted=2 tls_without_keys=0 "
                                 "tls_failed=0 tls_skipped=0"),
                  std::string::npos)
            << probe.err;
        ASSERT_NO_FATAL_FAILURE(StopRecording());
        ExpectCaptureFileRead(keyLog, 2);
    }

    test::CTempDir m_dir;
    std::unique_ptr<CVethPair> m_net;
    std::unique_ptr<CTlsPageServer> m_server;
    test::CPacketRecorder m_recorder;
    CChildProcess m_probe;
};

class ProbeTlsSuiteTest : public ProbeTlsTest, public ::testing::WithParamInterface<CTlsCase>
{};

TEST_P(ProbeTlsSuiteTest, FindsThePeopleOfTwoPagesOnOneConnection)
{
    const CTlsCase& c = GetParam();
    std::filesystem::path keyLog = File("keys.log");
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    ASSERT_NO_FATAL_FAILURE(StartProbe(keyLog));
    CProcessResult curl = Curl(c.m_curlOptions, c.m_port, keyLog);
    ASSERT_EQ(curl.exitCode, 0) << curl.err;

    CProcessResult probe = FinishProbe();
    EXPECT_EQ(probe.exitCode, 0) << probe.err;
    EXPECT_EQ(probe.out, "monitoring zkcap0\n" + Expected());
    EXPECT_NE(probe.err.find(" tls_connections=1 tls_decrypted=1 tls_without_keys=0 "
                             "tls_failed=0 tls_skipped=0"),
              std::string::npos)
        << probe.err;
    ASSERT_NO_FATAL_FAILURE(StopRecording());
    ExpectCaptureFileRead(keyLog);
}

INSTANTIATE_TEST_SUITE_P(
    Suites, ProbeTlsSuiteTest,
    ::testing::Values(
        CTlsCase{"Tls13Aes128Gcm", {"--tlsv1.3", "--tls13-ciphers", "TLS_AES_128_GCM_SHA256"}},
        CTlsCase{"Tls13Aes256Gcm", {"--tlsv1.3", "--tls13-ciphers", "TLS_AES_256_GCM_SHA384"}},
        CTlsCase{"Tls13ChaCha20", {"--tlsv1.3", "--tls13-ciphers", "TLS_CHACHA20_POLY1305_SHA256"}},
        CTlsCase{"Tls13HelloRetryRequest",
                 {"--tlsv1.3", "--curves", "X25519:secp384r1"},
                 CTlsPageServer::kHelloRetryPort},
        CTlsCase{"Tls12Aes128Gcm",
                 {"--tls-max", "1.2", "--ciphers", "ECDHE-RSA-AES128-GCM-SHA256"}},
        CTlsCase{"Tls12Aes256GcmSha384",
                 {"--tls-max", "1.2", "--ciphers", "ECDHE-RSA-AES256-GCM-SHA384"}},
        CTlsCase{"Tls12ChaCha20", {"--tls-max", "1.2", "--ciphers", "ECDHE-RSA-CHACHA20-POLY1305"}},
        CTlsCase{"Tls12CbcEncryptThenMac",
                 {"--tls-max", "1.2", "--ciphers", "ECDHE-RSA-AES128-SHA"}},
        CTlsCase{"Tls12CbcMacThenEncrypt",
                 {"--tls-max", "1.2", "--ciphers", "ECDHE-RSA-AES128-SHA"},
                 CTlsPageServer::kMacThenEncryptPort},
        CTlsCase{"Tls12CbcSha256", {"--tls-max", "1.2", "--ciphers", "ECDHE-RSA-AES128-SHA256"}},
        CTlsCase{"Tls12RsaAes256Gcm", {"--tls-max", "1.2", "--ciphers", "AES256-GCM-SHA384"}}),
    [](const ::testing::TestParamInfo<CTlsCase>& info) { return std::string(info.param.m_name); });

TEST_F(ProbeTlsTest, ReadsPagesWhoseKeysComeASecondLater)
{
    // The key log does not exist when the probe starts; curl's lines reach
    // it a second after the pages.
    std::filesystem::path keyLog = File("late-keys.log");
    std::filesystem::path curlKeys = File("curl-keys.log");
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    ASSERT_NO_FATAL_FAILURE(StartProbe(keyLog));
    CProcessResult curl = Curl({"--tlsv1.3"}, CTlsPageServer::kPort, curlKeys);
    ASSERT_EQ(curl.exitCode, 0) << curl.err;
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(m_probe.Pump(10ms));
    EXPECT_EQ(m_probe.Output(), "monitoring zkcap0\n");
    {
        std::ofstream out(keyLog, std::ios::binary);
        out << ReadFile(curlKeys);
    }
    CProcessResult probe = FinishProbe();
    EXPECT_EQ(probe.out, "monitoring zkcap0\n" + Expected());
    EXPECT_NE(probe.err.find(" tls_decrypted=1 tls_without_keys=0 "), std::string::npos)
        << probe.err;
    ASSERT_NO_FATAL_FAILURE(StopRecording());
    ExpectCaptureFileRead(keyLog);
}

TEST_F(ProbeTlsTest, CountsAConnectionWithoutKeysAndOneToAnotherSite)
{
    std::filesystem::path keyLog = File("keys.log");
    ASSERT_NO_FATAL_FAILURE(StartProbe(keyLog));
    // Keys written where the probe does not look.
    CProcessResult curl = Curl({"--tlsv1.3"}, CTlsPageServer::kPort, File("elsewhere.log"));
    ASSERT_EQ(curl.exitCode, 0) << curl.err;
    // Another name for the same server: not one of the portal's hosts.
    std::vector<std::string> other{"curl",
                                   "--silent",
                                   "-o",
                                   "/dev/null",
                                   "-k",
                                   "--resolve",
                                   "other.example:443:" +
                                       test::AddressText(CVethPair::kPeerAddress),
                                   "https://other.example/one.html"};
    CProcessResult otherCurl =
        test::RunProcess(m_net->Watched().ExecArgs(other), {"SSLKEYLOGFILE=" + keyLog.string()});
    ASSERT_EQ(otherCurl.exitCode, 0) << otherCurl.err;
    // The wait for keys runs out after two seconds.
    std::this_thread::sleep_for(3s);
    m_probe.Signal(SIGTERM);
    CProcessResult probe = m_probe.Finish(kEndLimit);
    EXPECT_EQ(probe.out, "monitoring zkcap0\n");
    EXPECT_NE(probe.err.find(" tls_connections=2 tls_decrypted=0 tls_without_keys=1 "
                             "tls_failed=0 tls_skipped=1"),
              std::string::npos)
        << probe.err;
}

TEST_F(ProbeTlsTest, ReadsAResumedTls13Session)
{
    // A ticket of the first connection (a PSK handshake, no certificate).
    ExpectResumedSessionRead({"--tlsv1.3"});
}

TEST_F(ProbeTlsTest, ReadsAResumedTls12Session)
{
    // An abbreviated handshake: ServerHello, ChangeCipherSpec, Finished.
    ExpectResumedSessionRead({"--tls-max", "1.2", "--ciphers", "ECDHE-RSA-AES128-GCM-SHA256"});
}

TEST_F(ProbeTlsTest, FollowsTheServersKeyUpdate)
{
    // openssl s_server sends what its standard input gives it and updates
    // its keys on a line "k": the page's first part under the first
    // application keys, the part with the person's id after the update.
    test::CMicroblogPage page;
    page.id = kFirstId;
    page.name = kName;
    page.fillerBeforeProfile = 3500;
    std::string body = test::BuildMicroblogPage(page);
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n";
    std::ofstream(File("part1")) << head << body.substr(0, 3000);
    std::ofstream(File("part2")) << body.substr(3000);
    std::filesystem::path keyLog = File("keys.log");
    // Everything it starts ends by itself, within a minute or two at most,
    // even when the test fails halfway.
    std::string server = "for i in $(seq 1200); do grep -q SERVER_TRAFFIC_SECRET_0 '" +
                         keyLog.string() + "' 2>/dev/null && break; sleep 0.05; done; cat '" +
                         File("part1").string() + "'; sleep 0.5; echo k; sleep 0.5; cat '" +
                         File("part2").string() + "'; sleep 1";
    std::string address = test::AddressText(CVethPair::kPeerAddress);
    CChildProcess openssl;
    ASSERT_TRUE(openssl.Start(m_net->Peer().ExecArgs(
        {"sh", "-c",
         "(" + server + ") | timeout 120 openssl s_server -naccept 1 -tls1_3 -accept " + address +
             ":4433 -cert '" + m_server->CertificateFile().string() + "' -key '" +
             m_server->KeyFile().string() + "'"})));
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    ASSERT_NO_FATAL_FAILURE(StartProbe(keyLog));
    ASSERT_TRUE(openssl.WaitForOutput("ACCEPT", kPatience)) << openssl.ErrorOutput();
    CChildProcess client;
    ASSERT_TRUE(client.Start(m_net->Watched().ExecArgs(
        {"openssl", "s_client", "-ign_eof", "-connect", address + ":4433", "-servername",
         test::MicroblogHost(), "-keylogfile", keyLog.string()})));
    m_probe.WaitForOutput(kFirstId + "\t", kPatience);
    m_probe.Signal(SIGTERM);
    CProcessResult probe = m_probe.Finish(kEndLimit);
    client.Signal(SIGTERM);
    client.Finish(kEndLimit);
    openssl.Signal(SIGTERM);
    CProcessResult served = openssl.Finish(kEndLimit);
    // s_server reports the handshake it runs for the update.
    EXPECT_NE(served.out.find("SSL_do_handshake -> 1"), std::string::npos) << served.out;
    EXPECT_EQ(probe.out, "monitoring zkcap0\n" + kFirstId + "\t" + kName + "\n");
    EXPECT_NE(probe.err.find(" tls_decrypted=1 tls_without_keys=0 tls_failed=0 "),
              std::string::npos)
        << probe.err;
    ASSERT_NO_FATAL_FAILURE(StopRecording());
    ExpectCaptureFileRead(keyLog, 1, kFirstId + "\t" + kName + "\n");
}

} // namespace
} // namespace zk
