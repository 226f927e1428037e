// The probe finding the owners of microblog pages: in capture files of every
// link type it reads, and live, while a real client fetches a page from a
// real server in network namespaces of the test's own.

#include "support/child_process.h"
#include "support/content_encoder.h"
#include "support/installed_copy.h"
#include "support/microblog_page.h"
#include "support/netns.h"
#include "support/packet_builder.h"
#include "support/pcap_writer.h"
#include "support/test_env.h"
#include "tools/probe_test_env.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::CLinkType;
using test::CPcapWriter;
using test::CProcessResult;
using test::CTcpFlowBuilder;

using test::kEnglish;
using test::kPatience;
using test::kProbe;

constexpr std::size_t kSegmentBytes = 1400;

std::string ChunkedPageResponse(const test::CMicroblogPage& page)
{
    return test::BuildResponse(test::ChunkBody(test::BuildMicroblogPage(page), 1000), true);
}

// A capture of the traffic around two page loads: the handshakes, the
// requests, both pages, other responses and frames that are not IPv4.
class CCapture
{
public:
    explicit CCapture(CLinkType type) : m_writer(type), m_ethernet(type == CLinkType::kEthernet) {}

    void Add(const Bytes& datagram)
    {
        bool ipv6 = !datagram.empty() && datagram[0] >> 4 == 6;
        m_writer.AddDatagram(datagram, m_timeUs += 1500,
                             ipv6 ? test::kEtherTypeIpv6 : test::kEtherTypeIpv4);
    }

    // How a page load over IPv6 reaches the machine.
    struct CIpv6Shape
    {
        std::vector<test::CIpv6Extension> extensions; // on every datagram
        bool fragmentedOutOfOrder = false; // each response segment in fragments, last first
        // The second response segment first in a fragment set with an
        // overlap (dropped whole), then again in a clean one.
        bool overlapThenRetransmit = false;
        bool reversed = false; // response segments in reverse order
    };

    // The datagrams of one page load over IPv6 between 2001:2::1 and 2001:2::2.
    std::vector<Bytes> Ipv6PageLoad(std::uint16_t clientPort, std::uint32_t serverSequence,
                                    const std::string& response, const CIpv6Shape& shape)
    {
        CTcpFlowBuilder client(test::kClientAddress6, clientPort, test::kServerAddress6, 80, 100);
        CTcpFlowBuilder server(test::kServerAddress6, 80, test::kClientAddress6, clientPort,
                               serverSequence);
        client.Ip6().extensions = shape.extensions;
        server.Ip6().extensions = shape.extensions;
        std::vector<Bytes> out{
            client.Syn(), server.Syn(true),
            client.Data("GET / HTTP/1.1\r\nHost: " + test::MicroblogHost() + "\r\n\r\n")};
        std::vector<Bytes> segments;
        for (std::size_t at = 0; at < response.size(); at += kSegmentBytes)
            segments.push_back(server.Data(response.substr(at, kSegmentBytes)));
        if (shape.reversed)
            std::reverse(segments.begin(), segments.end());
        for (std::size_t i = 0; i < segments.size(); ++i) {
            if (shape.overlapThenRetransmit && i == 1) {
                std::vector<Bytes> first = test::SplitIntoFragments6(segments[i], 512, ++m_id);
                // Bytes 512..768 again, altered, under the fragment of 512..1024.
                Bytes overlapping = test::SplitIntoFragments6(segments[i], 256, m_id)[2];
                overlapping.back() ^= 0xFF;
                out.insert(out.end(), {first[1], overlapping, first[0], first[2]});
            }
            if (shape.fragmentedOutOfOrder || shape.overlapThenRetransmit) {
                std::vector<Bytes> fragments = test::SplitIntoFragments6(segments[i], 512, ++m_id);
                out.insert(out.end(), fragments.rbegin(), fragments.rend());
            } else {
                out.push_back(segments[i]);
            }
        }
        out.push_back(client.Fin());
        return out;
    }

    // The datagrams of one page load over IPv4, as PageLoad adds them.
    std::vector<Bytes> Ipv4PageLoad(std::uint16_t clientPort, std::uint32_t serverSequence,
                                    const std::string& response)
    {
        CTcpFlowBuilder client(test::kClientAddress, clientPort, test::kServerAddress, 80, 100);
        CTcpFlowBuilder server(test::kServerAddress, 80, test::kClientAddress, clientPort,
                               serverSequence);
        std::vector<Bytes> out{
            client.Syn(), server.Syn(true),
            client.Data("GET / HTTP/1.1\r\nHost: " + test::MicroblogHost() + "\r\n\r\n")};
        for (std::size_t at = 0; at < response.size(); at += kSegmentBytes)
            out.push_back(server.Data(response.substr(at, kSegmentBytes)));
        out.push_back(client.Fin());
        return out;
    }

    void AddAll(const std::vector<Bytes>& datagrams)
    {
        for (const Bytes& datagram : datagrams)
            Add(datagram);
    }

    // Pages over IPv6 behind hop-by-hop and destination options, in
    // out-of-order fragments, after an overlapping fragment set and its clean
    // retransmission, in reverse segment order, and one over IPv6 with the
    // ports of one over IPv4, their datagrams taking turns (left out when the
    // link type carries IPv6 only).
    void Ipv6Shapes(bool withIpv4)
    {
        CIpv6Shape options;
        options.extensions = {{test::kIpv6HopByHop, {5, 2, 0, 0}},
                              {test::kIpv6DestinationOptions, Bytes(10, 0)}};
        CIpv6Shape fragmented;
        fragmented.fragmentedOutOfOrder = true;
        CIpv6Shape overlap;
        overlap.overlapThenRetransmit = true;
        CIpv6Shape reversed;
        reversed.reversed = true;
        AddAll(Ipv6PageLoad(40001, 0xFFFFFF00u, Page("p1"), options));
        AddAll(Ipv6PageLoad(40002, 7, Page("p2"), fragmented));
        AddAll(Ipv6PageLoad(40003, 0x7FFFFFF0u, Page("p3"), overlap));
        AddAll(Ipv6PageLoad(40004, 0xFFFFFFF0u, Page("p4"), reversed));
        std::vector<Bytes> six = Ipv6PageLoad(40005, 1000, Page("p5"), {});
        std::vector<Bytes> four =
            withIpv4 ? Ipv4PageLoad(40005, 1000, Page("p6")) : std::vector<Bytes>{};
        for (std::size_t i = 0; i < std::max(six.size(), four.size()); ++i) {
            if (i < six.size())
                Add(six[i]);
            if (i < four.size())
                Add(four[i]);
        }
    }

    static std::string Page(const std::string& id)
    {
        test::CMicroblogPage page;
        page.id = id;
        page.name = "name-" + id;
        return ChunkedPageResponse(page);
    }

    void PageLoad(std::uint16_t clientPort, std::uint32_t serverSequence,
                  const std::string& response, bool reversed = false)
    {
        CTcpFlowBuilder client(test::kClientAddress, clientPort, test::kServerAddress, 80, 100);
        CTcpFlowBuilder server(test::kServerAddress, 80, test::kClientAddress, clientPort,
                               serverSequence);
        Add(client.Syn());
        Add(server.Syn(true));
        Add(client.Data("GET / HTTP/1.1\r\nHost: " + test::MicroblogHost() + "\r\n\r\n"));
        std::vector<Bytes> segments;
        for (std::size_t at = 0; at < response.size(); at += kSegmentBytes)
            segments.push_back(server.Data(response.substr(at, kSegmentBytes)));
        if (reversed)
            std::reverse(segments.begin(), segments.end());
        for (std::size_t i = 0; i < segments.size(); ++i) {
            Add(segments[i]);
            if (m_ethernet && i == 1)
                m_writer.AddDatagram(Bytes(28, 0), m_timeUs, test::kEtherTypeArp);
        }
        Add(client.Fin());
    }

    void TwoPersonsAndNoise()
    {
        test::CMicroblogPage other;
        other.id = "other";
        other.name = "べつのひと";
        PageLoad(40001, 0xFFFFFF00u, ChunkedPageResponse({}));
        PageLoad(40002, 7, test::BuildResponse(std::string(9000, 'x'), false));
        PageLoad(40003, 0x7FFFFFF0u, test::BuildResponse(test::BuildMicroblogPage(other), false));
    }

    bool Write(const std::filesystem::path& path, bool pcapng) const
    {
        return pcapng ? m_writer.WritePcapng(path) : m_writer.WritePcap(path);
    }

private:
    CPcapWriter m_writer;
    bool m_ethernet;
    std::uint64_t m_timeUs = 1700000000000000ull;
    std::uint32_t m_id = 0x10000; // of the last IPv6 fragment set
};

CProcessResult Probe(const std::vector<std::string>& args)
{
    std::vector<std::string> line{kProbe};
    line.insert(line.end(), args.begin(), args.end());
    return test::RunProcess(line, kEnglish);
}

class ProbeFile : public ::testing::TestWithParam<CLinkType>
{
protected:
    test::CTempDir m_dir;
};

TEST_P(ProbeFile, PrintsExactlyThePersonsOfTheCaptureInReportOrder)
{
    CCapture capture(GetParam());
    capture.TwoPersonsAndNoise();
    for (bool pcapng : {false, true}) {
        auto path = m_dir.Path() / (pcapng ? "two.pcapng" : "two.pcap");
        ASSERT_TRUE(capture.Write(path, pcapng));
        CProcessResult result = Probe({path.string()});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, "someid\tざるこ\nother\tべつのひと\n") << path;
        EXPECT_EQ(result.err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(, ProbeFile,
                         ::testing::Values(CLinkType::kEthernet, CLinkType::kRaw,
                                           CLinkType::kRawDlt12, CLinkType::kIpv4,
                                           CLinkType::kLinuxSll, CLinkType::kLinuxSll2,
                                           CLinkType::kNull),
                         [](const auto& info) {
                             return "LinkType" + std::to_string(static_cast<unsigned>(info.param));
                         });

// The IPv6 shapes in every link type that carries IPv6, each page found
// once and in the order its load ended.
class ProbeFileIpv6 : public ::testing::TestWithParam<CLinkType>
{
protected:
    test::CTempDir m_dir;
};

TEST_P(ProbeFileIpv6, FindsEveryPageOnceInOrder)
{
    bool withIpv4 = GetParam() != CLinkType::kIpv6;
    CCapture capture(GetParam());
    capture.Ipv6Shapes(withIpv4);
    std::string expected;
    for (const char* id : {"p1", "p2", "p3", "p4", "p5", "p6"}) {
        if (withIpv4 || std::string(id) != "p6")
            expected += std::string(id) + "\tname-" + id + "\n";
    }
    for (bool pcapng : {false, true}) {
        auto path = m_dir.Path() / (pcapng ? "six.pcapng" : "six.pcap");
        ASSERT_TRUE(capture.Write(path, pcapng));
        CProcessResult result = Probe({path.string()});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, expected) << path;
        EXPECT_EQ(result.err, "");
    }
    // The overlapping set went whole: two fragments with the overlap, two
    // more turned away by its tombstone.
    CProcessResult stats = Probe({"--stats", (m_dir.Path() / "six.pcap").string()});
    EXPECT_NE(stats.err.find(" fragments_overlapping=4 "), std::string::npos) << stats.err;
}

INSTANTIATE_TEST_SUITE_P(, ProbeFileIpv6,
                         ::testing::Values(CLinkType::kEthernet, CLinkType::kRaw, CLinkType::kIpv6,
                                           CLinkType::kLinuxSll, CLinkType::kLinuxSll2),
                         [](const auto& info) {
                             return "LinkType" + std::to_string(static_cast<unsigned>(info.param));
                         });

TEST(ProbeFileWithoutPages, PrintsNothingAndSucceeds)
{
    test::CTempDir dir;
    CCapture capture(CLinkType::kEthernet);
    test::CMicroblogPage lowerCase;
    lowerCase.charset = "utf-8";
    capture.PageLoad(40010, 1, ChunkedPageResponse(lowerCase));
    auto path = dir.Path() / "none.pcap";
    ASSERT_TRUE(capture.Write(path, false));
    CProcessResult result = Probe({path.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
}

// A response whose body went through the codings named, in that order.
std::string CodedResponse(const std::string& page, const std::vector<test::CTestCoding>& codings,
                          bool chunked)
{
    std::string body = page;
    std::string names;
    for (test::CTestCoding coding : codings) {
        body = test::Encode(coding, body);
        names += std::string(names.empty() ? "" : ", ") + test::CodingName(coding);
    }
    if (chunked)
        body = test::ChunkBody(body, 1000);
    std::string response = test::BuildResponse(body, chunked);
    response.insert(response.find("\r\n") + 2, "Content-Encoding: " + names + "\r\n");
    return response;
}

TEST(ProbeFileCompressed, PrintsThePersonOfEveryCompressedPageAndNobodyForBrokenOnes)
{
    using test::CTestCoding;
    test::CTempDir dir;
    CCapture capture(CLinkType::kRaw);
    std::string expected;
    std::uint16_t port = 41000;
    // Pages with a tail of hexadecimal noise, so that they take several
    // segments even when compressed.
    std::string noise;
    std::uint32_t state = 1;
    while (noise.size() < 12000) {
        state = state * 1103515245u + 12345u;
        noise += "0123456789abcdef"[(state >> 16) & 15];
    }
    auto page = [&](const std::string& id) {
        test::CMicroblogPage person;
        person.id = id;
        expected += id + "\tざるこ\n";
        return test::BuildMicroblogPage(person) + "<!--" + noise + "-->";
    };
    const std::vector<std::pair<std::string, std::vector<CTestCoding>>> codings{
        {"gzip", {CTestCoding::Gzip}},      {"zlib", {CTestCoding::Zlib}},
        {"raw", {CTestCoding::RawDeflate}}, {"br", {CTestCoding::Brotli}},
        {"zstd", {CTestCoding::Zstd}},      {"stacked", {CTestCoding::Gzip, CTestCoding::Brotli}},
    };
    for (const auto& [name, stack] : codings) {
        for (bool chunked : {false, true}) {
            std::string id = name + (chunked ? "-chunked" : "-length");
            capture.PageLoad(port++, 0xFFFFF000u, CodedResponse(page(id), stack, chunked), chunked);
        }
    }
    // A bomb, a corrupt stream and an unknown coding: nobody.
    std::string bomb = std::string(1000, ' ') + "charset=UTF-8 Nimboなう";
    bomb.resize(8 * 1024 * 1024, ' ');
    capture.PageLoad(port++, 1, CodedResponse(bomb, {CTestCoding::Gzip}, false));
    std::string corrupt = CodedResponse(test::BuildMicroblogPage({}), {CTestCoding::Zstd}, false);
    corrupt[corrupt.find("\r\n\r\n") + 4] ^= 0x55;
    capture.PageLoad(port++, 1, corrupt);
    std::string unknown = test::BuildResponse(test::BuildMicroblogPage({}), false);
    unknown.insert(unknown.find("\r\n") + 2, "Content-Encoding: compress\r\n");
    capture.PageLoad(port++, 1, unknown);

    auto path = dir.Path() / "compressed.pcap";
    ASSERT_TRUE(capture.Write(path, false));
    CProcessResult result = Probe({"--stats", path.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, expected);
    EXPECT_NE(result.err.find(" gzip=5 deflate=4 br=4 zstd=3 codings_corrupt=1 codings_unknown=1"),
              std::string::npos)
        << result.err;
}

// --- Live --------------------------------------------------------------------

// A small HTTP/1.1 server on port 80 of a namespace: answers the requests
// with the pages in turn (the last one again once all are served), each in
// chunked coding, one chunk per write, so that the response crosses the link
// in many segments. With gzip it sends the pages gzip-coded, as servers do
// for a client that asks for it.
class CPageServer
{
public:
    // With ipv6 it listens on both families at once.
    CPageServer(const test::CNetns& ns, const std::vector<std::string>& bodies, bool gzip = false,
                bool ipv6 = false)
        : m_bodies(bodies), m_gzip(gzip)
    {
        ns.Run([this, ipv6] {
            m_listener = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            int on = 1;
            int off = 0;
            setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(80);
            address.sin_addr.s_addr = htonl(INADDR_ANY);
            sockaddr_in6 address6{};
            address6.sin6_family = AF_INET6;
            address6.sin6_port = htons(80);
            address6.sin6_addr = in6addr_any;
            if (ipv6)
                setsockopt(m_listener, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
            int bound =
                ipv6 ? bind(m_listener, reinterpret_cast<sockaddr*>(&address6), sizeof address6)
                     : bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
            if (bound != 0 || listen(m_listener, 4) != 0) {
                close(m_listener);
                m_listener = -1;
            }
        });
        if (m_listener >= 0)
            m_thread = std::thread([this] { Serve(); });
    }

    ~CPageServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listener >= 0)
            close(m_listener);
    }

    bool Ok() const { return m_listener >= 0; }
    int Requests() const { return m_requests; }

private:
    void Serve()
    {
        while (!m_stop) {
            pollfd ready{m_listener, POLLIN, 0};
            if (poll(&ready, 1, 100) <= 0)
                continue;
            int connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            ServeConnection(connection);
            close(connection);
        }
    }

    void ServeConnection(int connection)
    {
        std::string request;
        char buffer[2048];
        while (!m_stop) {
            std::size_t end = request.find("\r\n\r\n");
            if (end != std::string::npos) {
                request.erase(0, end + 4);
                int served = m_requests++;
                if (!Send(connection, Response(served)))
                    return;
                continue;
            }
            pollfd ready{connection, POLLIN, 0};
            if (poll(&ready, 1, 100) <= 0)
                continue;
            ssize_t got = recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0)
                return;
            request.append(buffer, static_cast<std::size_t>(got));
        }
    }

    std::vector<std::string> Response(int served) const
    {
        std::vector<std::string> pieces{std::string("HTTP/1.1 200 OK\r\n"
                                                    "Content-Type: text/html; charset=UTF-8\r\n") +
                                        (m_gzip ? "Content-Encoding: gzip\r\n" : "") +
                                        "Transfer-Encoding: chunked\r\n\r\n"};
        const std::string& page =
            m_bodies[std::min(static_cast<std::size_t>(served), m_bodies.size() - 1)];
        std::string body = m_gzip ? test::Encode(test::CTestCoding::Gzip, page) : page;
        // Small chunks, so that even the compressed page takes several.
        std::string chunked = test::ChunkBody(body, m_gzip ? 200 : 1000);
        std::size_t piece = m_gzip ? 205 : 1006;
        for (std::size_t at = 0; at < chunked.size(); at += piece)
            pieces.push_back(chunked.substr(at, piece));
        return pieces;
    }

    static bool Send(int connection, const std::vector<std::string>& pieces)
    {
        for (const std::string& piece : pieces) {
            if (send(connection, piece.data(), piece.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(piece.size()))
                return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }

    std::vector<std::string> m_bodies;
    bool m_gzip;
    int m_listener = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
};

// The probe's command line before its own arguments, and what to check while
// it runs.
struct CLiveProbe
{
    std::vector<std::string> prefix;
    std::string probe = kProbe;
    std::function<void(pid_t)> whileRunning;
};

// The client asks for compressed pages (--compressed) when gzip is set. On
// a dual-stack pair the first page comes over IPv6 and the second over
// IPv4; on an IPv6-only pair both come over IPv6.
void ExpectOwnerOfPageFetchedLive(bool gzip,
                                  test::CVethFamilies families = test::CVethFamilies::kIpv4,
                                  const CLiveProbe& how = {})
{
    test::CVethPair net(1500, families);
    ASSERT_TRUE(net.Ok()) << net.Error();
    test::CMicroblogPage other;
    other.id = "other";
    other.name = "べつのひと";
    bool ipv6 = families != test::CVethFamilies::kIpv4;
    CPageServer server(net.Peer(), {test::BuildMicroblogPage({}), test::BuildMicroblogPage(other)},
                       gzip, ipv6);
    ASSERT_TRUE(server.Ok());
    if (families == test::CVethFamilies::kIpv6) {
        CProcessResult listed =
            test::RunProcess(net.Watched().ExecArgs({kProbe, "--adapters"}), kEnglish);
        EXPECT_EQ(listed.out, "zkcap0\n");
    }

    test::CChildProcess probe;
    std::vector<std::string> line = how.prefix;
    line.insert(line.end(), {how.probe, "--adapter", "zkcap0"});
    ASSERT_TRUE(probe.Start(net.Watched().ExecArgs(line), kEnglish));
    ASSERT_TRUE(probe.WaitForOutput("monitoring zkcap0\n", kPatience)) << probe.ErrorOutput();
    if (how.whileRunning)
        how.whileRunning(probe.Pid());

    std::string url4 = "http://" + test::AddressText(test::CVethPair::kPeerAddress) + "/someid/";
    std::string url6 = "http://[" + test::AddressText(test::CVethPair::kPeerAddress6) + "]/someid/";
    std::string url = ipv6 ? url6 : url4;
    std::vector<std::string> command{"curl",
                                     "--silent",
                                     "--show-error",
                                     "--noproxy",
                                     "*",
                                     "--max-time",
                                     "60",
                                     "--output",
                                     "/dev/null",
                                     "--header",
                                     "Host: " + test::MicroblogHost(),
                                     url};
    if (gzip)
        command.insert(command.begin() + 1, "--compressed");
    auto fetch = [&] {
        return test::RunProcess(net.Watched().ExecArgs(command), {}, 2 * kPatience);
    };
    CProcessResult curl = fetch();
    EXPECT_EQ(curl.exitCode, 0) << curl.err;
    EXPECT_EQ(server.Requests(), 1);
    EXPECT_TRUE(probe.WaitForOutput("someid\tざるこ\n", kPatience));

    // The probe handles what it captures in order: once the owner of a
    // second page is reported, a second report of the first, which must not
    // come, would have come before it.
    if (families == test::CVethFamilies::kDualStack)
        command.back() = url4;
    curl = fetch();
    EXPECT_EQ(curl.exitCode, 0) << curl.err;
    EXPECT_TRUE(probe.WaitForOutput("other\tべつのひと\n", kPatience));
    probe.Signal(SIGTERM);
    CProcessResult result = probe.Finish(10s);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "monitoring zkcap0\nsomeid\tざるこ\nother\tべつのひと\n");
}

TEST(ProbeLivePage, ReportsTheOwnerOfAPageFetchedOverTheWatchedAdapter)
{
    ZK_REQUIRE_ROOT();
    ExpectOwnerOfPageFetchedLive(false);
}

TEST(ProbeLivePage, ReportsTheOwnerOfAGzipPageFetchedByAClientAskingForCompression)
{
    ZK_REQUIRE_ROOT();
    ExpectOwnerOfPageFetchedLive(true);
}

TEST(ProbeLivePage, ReportsPagesFetchedOverIpv6AndIpv4OnADualStackAdapter)
{
    ZK_REQUIRE_ROOT();
    ExpectOwnerOfPageFetchedLive(false, test::CVethFamilies::kDualStack);
}

TEST(ProbeLivePage, ListsAndWatchesAnAdapterWithOnlyIpv6Addresses)
{
    ZK_REQUIRE_ROOT();
    ExpectOwnerOfPageFetchedLive(false, test::CVethFamilies::kIpv6);
}

// As an installation lays them out, with the capability on the helper
// alone: an ordinary user captures, and the probe holds no capability and
// no packet socket; the helper holds the socket but no capability either.
TEST(ProbeLivePage, AnOrdinaryUserCapturesWithTheCapabilityOnTheHelperAlone)
{
    ZK_REQUIRE_ROOT();
    test::CInstalledCopy installed({kProbe, ZK_CAPTURE_PATH});
    ASSERT_TRUE(installed.Ok()) << installed.Error();

    CLiveProbe how;
    how.prefix = test::CInstalledCopy::RunAsOrdinaryUser({});
    how.probe = installed.PathOf("zarumatekit-probe");
    how.whileRunning = [](pid_t pid) {
        test::CHeld probe = test::HeldBy(pid);
        EXPECT_TRUE(probe.HoldsNoCapability()) << probe.effective << " " << probe.permitted;
        EXPECT_EQ(probe.packetSockets, 0);
        std::vector<pid_t> children = test::ChildrenOf(pid);
        ASSERT_EQ(children.size(), 1u);
        test::CHeld helper = test::HeldBy(children[0]);
        EXPECT_TRUE(helper.HoldsNoCapability()) << helper.effective << " " << helper.permitted;
        EXPECT_EQ(helper.packetSockets, 1);
    };
    ExpectOwnerOfPageFetchedLive(false, test::CVethFamilies::kIpv4, how);
}

} // namespace
} // namespace zk
