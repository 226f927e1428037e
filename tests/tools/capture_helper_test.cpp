// The capture helper as the programs start it: the built binary, with its
// output read back by libpcap, in network namespaces of the test's own.

#include "support/child_process.h"
#include "support/netns.h"
#include "support/test_env.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::CNetns;
using test::CProcessResult;
using test::CVethPair;
using test::RawTcpSocketIn;

const std::string kHelper = ZK_CAPTURE_PATH;
// Only a hang takes this long, however busy the machine.
constexpr auto kPatience = 60s;
// The Section Header and the Interface Description of "zkcap0".
constexpr std::size_t kHeaderBytes = 28 + 44;

TEST(CaptureHelperArguments, TakesAnInterfaceNameAndNothingElse)
{
    const std::vector<std::vector<std::string>> wrong{
        {},
        {"--adapter"},
        {"zkcap0"},
        {"-i", "zkcap0"},
        {"--adapter", "zkcap0", "--promiscuous"},
        {"--file", "/etc/shadow"},
        {"--adapter", ""},
        {"--adapter", "."},
        {"--adapter", ".."},
        {"--adapter", "../../x"},
        {"--adapter", "eth0:1"},
        {"--adapter", "two words"},
        {"--adapter", "tab\tname"},
        {"--adapter", "sixteen-bytes-xx"},
    };
    for (const auto& args : wrong) {
        std::vector<std::string> line{kHelper};
        line.insert(line.end(), args.begin(), args.end());
        CProcessResult result = test::RunProcess(line);
        std::string shown = args.empty() ? "(none)" : args.back();
        EXPECT_EQ(result.exitCode, 2) << shown;
        EXPECT_EQ(result.out, "") << shown;
        EXPECT_EQ(result.err.rfind("zarumatekit-capture: ", 0), 0u) << shown << ": " << result.err;
    }
}

TEST(CaptureHelperArguments, AnAdapterThatIsNotThereFailsAtTheBindWithItsErrno)
{
    ZK_REQUIRE_ROOT();
    CNetns lonely("l");
    ASSERT_TRUE(lonely.Ok()) << lonely.Error();
    // The longest name the kernel allows, which is still a name.
    CProcessResult result =
        test::RunProcess(lonely.ExecArgs({kHelper, "--adapter", "fifteen-bytes-x"}));
    EXPECT_EQ(result.exitCode, 13);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "zarumatekit-capture: bind: No such device (errno 19)\n");
}

// The helper holds a capability, so nothing it loads may come from the
// toolkit, the HTTP client or the XML and pattern libraries.
TEST(CaptureHelperLinks, NeedsNoToolkitHttpXmlOrPatternLibrary)
{
    CProcessResult ldd = test::RunProcess({"ldd", kHelper});
    ASSERT_EQ(ldd.exitCode, 0) << ldd.err;
    EXPECT_NE(ldd.out.find("libcap.so"), std::string::npos) << ldd.out;
    for (const char* library :
         {"libQt", "libcurl", "libpugixml", "libX11", "libxcb", "libboost", "libpcap"})
        EXPECT_EQ(ldd.out.find(library), std::string::npos) << library << " in\n" << ldd.out;
}

bool SendTagged(int fd, const std::string& tag, std::size_t size)
{
    std::string body(size, 'x');
    body.replace(8, tag.size(), tag);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, CVethPair::kWatchedAddress.data(), 4);
    return sendto(fd, body.data(), body.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(body.size());
}

struct CReadBack
{
    int linkType = -1;
    int end = 0; // what pcap_next_ex said last: -2 at a clean end
    std::vector<std::string> packets;
};

CReadBack ReadWithLibpcap(const std::string& pcapng)
{
    CReadBack back;
    char path[] = "/tmp/zk-helper-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return back;
    bool written = write(fd, pcapng.data(), pcapng.size()) == static_cast<ssize_t>(pcapng.size());
    close(fd);
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pcap = written ? pcap_open_offline(path, error) : nullptr;
    unlink(path);
    if (!pcap) {
        ADD_FAILURE() << error;
        return back;
    }
    back.linkType = pcap_datalink(pcap);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while ((back.end = pcap_next_ex(pcap, &header, &data)) == 1) {
        EXPECT_EQ(header->caplen, header->len);
        back.packets.emplace_back(reinterpret_cast<const char*>(data), header->caplen);
    }
    pcap_close(pcap);
    return back;
}

bool Has(const CReadBack& back, const std::string& tag, std::size_t length)
{
    for (const std::string& packet : back.packets) {
        if (packet.find(tag) != std::string::npos && packet.size() == length)
            return true;
    }
    return false;
}

TEST(CaptureHelperLive, WritesTheAdaptersDatagramsAsPcapngThatLibpcapReadsBack)
{
    ZK_REQUIRE_ROOT();
    CVethPair net;
    ASSERT_TRUE(net.Ok()) << net.Error();
    test::CChildProcess helper;
    ASSERT_TRUE(helper.Start(net.Watched().ExecArgs({kHelper, "--adapter", "zkcap0"})));
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (helper.Output().size() < kHeaderBytes && std::chrono::steady_clock::now() < deadline)
        ASSERT_TRUE(helper.Pump(100ms)) << helper.ErrorOutput();
    ASSERT_GE(helper.Output().size(), kHeaderBytes);

    int fd = RawTcpSocketIn(net.Peer());
    ASSERT_GE(fd, 0);
    // A small datagram, and one the kernel sends as three fragments.
    ASSERT_TRUE(SendTagged(fd, "small-one", 100));
    ASSERT_TRUE(SendTagged(fd, "large-one", 4000));
    ASSERT_TRUE(SendTagged(fd, "last-one", 40));
    close(fd);
    while (helper.Output().find("last-one") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        ASSERT_TRUE(helper.Pump(100ms)) << helper.ErrorOutput();
    helper.Signal(SIGTERM);
    CProcessResult result = helper.Finish(kPatience);
    EXPECT_EQ(result.err, "");

    CReadBack back = ReadWithLibpcap(result.out);
    EXPECT_EQ(back.linkType, DLT_RAW);
    EXPECT_EQ(back.end, -2) << "the stream ends between blocks";
    EXPECT_TRUE(Has(back, "small-one", 20 + 100));
    EXPECT_TRUE(Has(back, "large-one", 1500)); // the first fragment
    EXPECT_TRUE(Has(back, "last-one", 20 + 40));
    for (const std::string& packet : back.packets)
        EXPECT_EQ(static_cast<unsigned char>(packet[0]) >> 4, 4u) << "an IPv4 header first";
}

// The helper's parent ends, its output stays open (another process holds
// the pipe): the death signal the helper set itself ends it.
TEST(CaptureHelperLive, EndsWhenItsParentDies)
{
    ZK_REQUIRE_ROOT();
    CVethPair net;
    ASSERT_TRUE(net.Ok()) << net.Error();
    std::vector<std::string> line = net.Watched().ExecArgs({kHelper, "--adapter", "zkcap0"});
    std::vector<char*> argv;
    for (std::string& arg : line)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::string ip = "/usr/sbin/ip";
    if (access(ip.c_str(), X_OK) != 0)
        ip = "/usr/bin/ip";

    int output[2];
    int release[2];
    ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
    pid_t parent = fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
        // The helper's parent: starts it, waits until told, then dies.
        pid_t child = fork();
        if (child == 0) {
            dup2(output[1], STDOUT_FILENO);
            execv(ip.c_str(), argv.data());
            _exit(127);
        }
        char byte;
        close(release[1]);
        while (read(release[0], &byte, 1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }
    close(output[1]);
    close(release[0]);
    // The helper has set its death signal once it writes its headers.
    std::string got;
    char buffer[256];
    while (got.size() < kHeaderBytes) {
        pollfd ready{output[0], POLLIN, 0};
        ASSERT_GT(poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())),
                  0);
        ssize_t n = read(output[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        got.append(buffer, static_cast<std::size_t>(n));
    }
    close(release[1]);
    int status = 0;
    ASSERT_EQ(waitpid(parent, &status, 0), parent);
    // The pipe reports its end once its last writer, the helper, is gone.
    bool ended = false;
    for (auto deadline = std::chrono::steady_clock::now() + kPatience;
         !ended && std::chrono::steady_clock::now() < deadline;) {
        pollfd ready{output[0], POLLIN, 0};
        if (poll(&ready, 1, 100) > 0)
            ended = read(output[0], buffer, sizeof buffer) == 0;
    }
    close(output[0]);
    EXPECT_TRUE(ended);
}

} // namespace
} // namespace zk
