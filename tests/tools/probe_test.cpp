// The probe as users run it: the built binary, in network namespaces of the
// test's own where it captures.

#include "support/child_process.h"
#include "support/netns.h"
#include "support/test_env.h"
#include "tools/probe_test_env.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <regex>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::CNetns;
using test::CProcessResult;
using test::CVethPair;

using test::kEndLimit;
using test::kEnglish;
using test::kPatience;
using test::kProbe;

CProcessResult Probe(const std::vector<std::string>& args)
{
    std::vector<std::string> line{kProbe};
    line.insert(line.end(), args.begin(), args.end());
    return test::RunProcess(line, kEnglish);
}

CProcessResult ProbeIn(const CNetns& ns, const std::vector<std::string>& args)
{
    std::vector<std::string> line{kProbe};
    line.insert(line.end(), args.begin(), args.end());
    return test::RunProcess(ns.ExecArgs(line), kEnglish);
}

TEST(ProbeUsage, WrongUsageExitsWithTwoAndTheUsageText)
{
    const std::vector<std::vector<std::string>> wrong{
        {},
        {"--bogus"},
        {"-x"},
        {"--adapters", "--stats"},
        {"--stats", "--adapters"},
        {"--adapter"},
        {"--adapter", "eth0", "--adapter", "eth1"},
        {"--adapter", "eth0", "capture.pcap"},
        {"one.pcap", "two.pcap"},
        {"--stats"},
        {"--stats", "--stats", "capture.pcap"},
        {"--avatars", "capture.pcap"},
        {"--avatars", "--adapter", "eth0"},
        {"--seconds", "2", "capture.pcap"},
        {"--adapter", "eth0", "--seconds"},
        {"--adapter", "eth0", "--seconds", "0"},
        {"--adapter", "eth0", "--seconds", "2s"},
        {"--adapter", "eth0", "--seconds", "-1"},
        {"--thumbnails"},
        {"--thumbnails", "dir", "extra"},
        {"--stats", "--thumbnails", "dir"},
    };
    for (const auto& args : wrong) {
        std::string line;
        for (const std::string& arg : args)
            line += " " + arg;
        CProcessResult result = Probe(args);
        EXPECT_EQ(result.exitCode, 2) << line;
        EXPECT_NE(result.err.find("usage: zarumatekit-probe --adapters"), std::string::npos)
            << line << ": " << result.err;
        EXPECT_TRUE(result.out.empty()) << line;
    }
}

TEST(ProbeUsage, ACaptureFileThatCannotBeReadFails)
{
    test::CTempDir dir;
    CProcessResult result = Probe({"--stats", (dir.Path() / "missing.pcap").string()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_FALSE(result.err.empty());
}

class ProbeLiveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_ROOT();
        m_net = std::make_unique<CVethPair>();
        ASSERT_TRUE(m_net->Ok()) << m_net->Error();
    }

    // A second adapter after the veth end: zkaux0 with 198.18.2.1.
    void AddSecondAdapter()
    {
        CNetns& ns = m_net->Watched();
        ASSERT_TRUE(ns.Ip({"link", "add", "zkaux0", "type", "veth", "peer", "name", "zkaux1"}))
            << ns.Error();
        ASSERT_TRUE(ns.Ip({"addr", "add", "198.18.2.1/24", "dev", "zkaux0"})) << ns.Error();
    }

    std::unique_ptr<CVethPair> m_net;
};

TEST_F(ProbeLiveTest, ListsTheUsableAdaptersInIndexOrder)
{
    AddSecondAdapter();
    CNetns& ns = m_net->Watched();
    ASSERT_TRUE(ns.Ip({"tuntap", "add", "dev", "zktun0", "mode", "tun"})) << ns.Error();
    ASSERT_TRUE(ns.Ip({"addr", "add", "198.18.1.1/24", "dev", "zktun0"})) << ns.Error();
    CProcessResult result = ProbeIn(ns, {"--adapters"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "zkcap0\nzkaux0\n");
}

TEST_F(ProbeLiveTest, MonitorsTheNamedAdapterForTheGivenSeconds)
{
    AddSecondAdapter();
    auto before = std::chrono::steady_clock::now();
    CProcessResult result = ProbeIn(m_net->Watched(), {"--adapter", "zkaux0", "--seconds", "2"});
    auto took = std::chrono::steady_clock::now() - before;
    // A run that does not end by itself is ended after a minute.
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "monitoring zkaux0\n");
    EXPECT_GE(took, 2s);
}

TEST_F(ProbeLiveTest, AnUnknownNameTakesTheFirstUsableAdapter)
{
    AddSecondAdapter();
    CProcessResult result =
        ProbeIn(m_net->Watched(), {"--stats", "--adapter", "nosuch", "--seconds", "1"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "monitoring zkcap0\n");
    std::regex stats(
        "packets=\\d+ bytes=\\d+ seconds=\\d+\\.\\d+ streams=\\d+ peak_streams=\\d+ "
        "buffered_bytes=\\d+ gzip=\\d+ deflate=\\d+ br=\\d+ zstd=\\d+ codings_corrupt=\\d+ "
        "codings_unknown=\\d+ codings_capped=\\d+ ipv6=\\d+ fragments_overlapping=\\d+ "
        "http2_connections=\\d+ http2_streams=\\d+ http2_lost=\\d+ ids_refused=\\d+ "
        "kernel_drops=\\d+ tls_connections=\\d+ tls_decrypted=\\d+ "
        "tls_without_keys=\\d+ tls_failed=\\d+ tls_skipped=\\d+ tls_ech=\\d+\n");
    EXPECT_TRUE(std::regex_match(result.err, stats)) << result.err;
}

TEST_F(ProbeLiveTest, RunsUntilTerminatedAndThenEndsCleanly)
{
    for (int signal : {SIGTERM, SIGINT}) {
        test::CChildProcess probe;
        ASSERT_TRUE(
            probe.Start(m_net->Watched().ExecArgs({kProbe, "--adapter", "zkcap0"}), kEnglish));
        ASSERT_TRUE(probe.WaitForOutput("monitoring zkcap0\n", kPatience));
        probe.Signal(signal);
        CProcessResult result = probe.Finish(kEndLimit);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 0) << "signal " << signal << ": " << result.err;
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(ProbeLiveTest, FailsWithoutPrivilegesWithTheSystemsText)
{
    // As nobody, with no capabilities left in any set.
    std::vector<std::string> line = m_net->Watched().ExecArgs(
        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all",
         "--bounding-set=-all", kProbe, "--adapter", "zkcap0", "--seconds", "1"});
    CProcessResult result = test::RunProcess(line, {"LC_ALL=C"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "zarumatekit-probe: ソケットの作成に失敗しました - Operation not permitted\n");
}

} // namespace
} // namespace zk
