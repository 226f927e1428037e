// The probe finding the owners of pages sent over HTTP/2 by a real server to
// a real client, in network namespaces of the test's own: live, and from a
// capture file of the same traffic.

#include "support/child_process.h"
#include "support/microblog_page.h"
#include "support/netns.h"
#include "support/packet_recorder.h"
#include "support/test_env.h"
#include "tools/probe_test_env.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::CChildProcess;
using test::CProcessResult;

using test::CPerson;
using test::kEnglish;
using test::kPatience;
using test::kProbe;
using test::PersonLine;
using test::PersonLines;
using test::SortedLines;

const std::vector<CPerson> kPersons{
    {"alpha", "あるふぁ"}, {"bravo", "ぶらぼー"}, {"charlie", "ちゃーりー"},
    {"delta", "でるた"},   {"echo", "えこー"},    {"foxtrot", "ふぉっくす"},
    {"golf", "ごるふ"},
};

// The persons' pages, large enough to take many DATA frames each, in a
// folder the server serves.
void WritePages(const std::filesystem::path& folder)
{
    for (const CPerson& person : kPersons) {
        test::CMicroblogPage page;
        page.id = person.id;
        page.name = person.name;
        page.size = 40000;
        std::ofstream(folder / (person.id + ".html"), std::ios::binary)
            << test::BuildMicroblogPage(page);
    }
}

// The pages a real server sends over cleartext HTTP/2, fetched by real
// clients while the probe watches and tcpdump records: four multiplexed on
// one connection (curl 7.88's multiplexing over cleartext HTTP/2 fails, and
// so does its reuse of a connection, so clients of the same library as the
// servers do those), two in sequence on another, and one fetched by curl
// with prior knowledge. Every person is found live and in the file. With
// gzip the clients ask for compressed pages.
void ExpectEveryPersonFound(
    const std::function<std::vector<std::string>(
        const std::filesystem::path& dir, const std::filesystem::path& pages)>& serverCommand,
    bool gzip)
{
    test::CVethPair net;
    ASSERT_TRUE(net.Ok()) << net.Error();
    test::CTempDir dir;
    std::filesystem::path pages = dir.Path() / "pages";
    std::filesystem::create_directory(pages);
    WritePages(pages);
    std::filesystem::path captureFile = dir.Path() / "http2.pcap";

    CChildProcess server;
    ASSERT_TRUE(server.Start(net.Peer().ExecArgs(serverCommand(dir.Path(), pages))));
    test::CPacketRecorder recorder;
    ASSERT_TRUE(recorder.Start(net.Watched(), "zkcap0", captureFile)) << recorder.Error();
    CChildProcess probe;
    ASSERT_TRUE(
        probe.Start(net.Watched().ExecArgs({kProbe, "--stats", "--adapter", "zkcap0"}), kEnglish));
    ASSERT_TRUE(probe.WaitForOutput("monitoring zkcap0\n", kPatience));

    std::string base = "http://" + test::AddressText(test::CVethPair::kPeerAddress) + "/";
    auto fetch = [&](std::vector<std::string> command, std::size_t first, std::size_t count) {
        for (std::size_t i = first; i < first + count; ++i)
            command.push_back(base + kPersons[i].id + ".html");
        CProcessResult result =
            test::RunProcess(net.Watched().ExecArgs(command), {}, 2 * kPatience);
        EXPECT_EQ(result.exitCode, 0) << command[0] << ": " << result.out << result.err;
        for (std::size_t i = first; i < first + count; ++i)
            EXPECT_TRUE(probe.WaitForOutput(PersonLine(kPersons[i]), kPatience)) << kPersons[i].id;
    };
    // The server may not be listening yet when the first client connects:
    // a request for a page it does not have waits for it.
    ASSERT_TRUE(
        test::RunProcess(
            net.Watched().ExecArgs({"curl", "--silent", "--noproxy", "*", "--http2-prior-knowledge",
                                    "--retry", "20", "--retry-connrefused", "--retry-delay", "1",
                                    "--output", "/dev/null", base + "missing"}),
            {}, 2 * kPatience)
            .exitCode == 0);
    std::string askGzip = gzip ? "--header=accept-encoding: gzip" : "--header=x-plain: 1";
    fetch({"nghttp", "--null-out", "--timeout=60", askGzip}, 0, 4);
    fetch({"h2load", "--requests=2", "--clients=1", "--max-concurrent-streams=1", askGzip}, 4, 2);
    fetch({"curl", "--silent", "--show-error", "--noproxy", "*", "--http2-prior-knowledge",
           "--max-time", "60", "--output", "/dev/null", gzip ? "--compressed" : "--no-buffer"},
          6, 1);

    std::string codings = std::string(" gzip=") + (gzip ? "7" : "0") +
                          " deflate=0 br=0 zstd=0 codings_corrupt=0 codings_unknown=0 ";
    std::string figures = " http2_connections=4 http2_streams=8 http2_lost=0 ";
    probe.Signal(SIGTERM);
    CProcessResult live = probe.Finish(10s);
    EXPECT_EQ(live.exitCode, 0) << live.err;
    std::string out = live.out.substr(live.out.find('\n') + 1);
    EXPECT_EQ(SortedLines(out), PersonLines(kPersons));
    EXPECT_NE(live.err.find(codings), std::string::npos) << live.err;
    EXPECT_NE(live.err.find(figures), std::string::npos) << live.err;

    // The same traffic from the capture file.
    EXPECT_TRUE(recorder.Stop()) << recorder.Error();
    server.Signal(SIGTERM);
    server.Finish(10s);
    CProcessResult file = test::RunProcess({kProbe, "--stats", captureFile.string()}, kEnglish);
    EXPECT_EQ(file.exitCode, 0) << file.err;
    EXPECT_EQ(SortedLines(file.out), PersonLines(kPersons)) << file.err;
    EXPECT_NE(file.err.find(codings), std::string::npos) << file.err;
    EXPECT_NE(file.err.find(figures), std::string::npos) << file.err;
}

TEST(ProbeHttp2, FindsEveryPersonOfPagesFromNghttpdInTheClearLiveAndInACaptureFile)
{
    ZK_REQUIRE_ROOT();
    ExpectEveryPersonFound(
        [](const std::filesystem::path&, const std::filesystem::path& pages) {
            return std::vector<std::string>{"nghttpd", "--no-tls", "-d", pages.string(), "80"};
        },
        false);
}

// nginx sends its pages gzip-coded, its header table carried across the
// streams of a connection.
TEST(ProbeHttp2, FindsEveryPersonOfGzipPagesFromNginxInTheClearLiveAndInACaptureFile)
{
    ZK_REQUIRE_ROOT();
    ExpectEveryPersonFound(
        [](const std::filesystem::path& dir, const std::filesystem::path& pages) {
            std::string d = dir.string();
            std::ofstream(dir / "nginx.conf")
                << "user root;\nworker_processes 1;\ndaemon off;\npid " << d
                << "/nginx.pid;\nerror_log " << d << "/error.log;\nevents {}\nhttp {\n"
                << "  access_log off;\n  client_body_temp_path " << d << "/body;\n"
                << "  types { text/html html; }\n  gzip on;\n  gzip_min_length 0;\n"
                << "  server { listen 80 http2; root " << pages.string() << "; }\n}\n";
            return std::vector<std::string>{"nginx", "-e", d + "/error.log", "-p",
                                            d,       "-c", d + "/nginx.conf"};
        },
        true);
}

} // namespace
} // namespace zk
