// The TLS layer on traffic a real server and client made: a capture of
// nginx and curl is replayed through the decoding chain in-process, whole
// and one byte per piece, so that every record, handshake message and
// ClientHello spans pieces at every offset.

#include "capture/zarumate_sock.h"
#include "platform/text_convert.h"
#include "probe/capture_file.h"
#include "support/child_process.h"
#include "support/microblog_page.h"
#include "support/netns.h"
#include "support/packet_recorder.h"
#include "support/test_env.h"
#include "support/tls_page_server.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <vector>

namespace zk {
namespace {

using test::CTlsPageServer;
using test::CVethPair;

class CFoundList : public CZarumateSockClient
{
public:
    void OnZarumateFound(const CZarumateDataPtr& data) override
    {
        m_ids.push_back(WideToUtf8(data->m_id));
    }
    std::vector<std::string> m_ids;
};

struct CPacket
{
    std::vector<std::uint8_t> m_datagram;
    std::uint64_t m_timeMs = 0;
};

// One capture for the whole suite: two pages on a TLS 1.3 connection, two
// on a TLS 1.2 one, and one page of another site.
// Moves the stream past bytes just fed to the layer above, as the TCP layer
// does once it has delivered them.
void AdvanceStream(CTcpIpStreamInfo& stream, std::size_t length)
{
    stream.m_cache.SkipGap(stream.NextSequence() + static_cast<std::uint32_t>(length),
                           [](const std::uint8_t*, std::size_t) {});
}

class TlsReplayTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!test::WhyRootTestsCannotRun().empty())
            return;
        s_dir = std::make_unique<test::CTempDir>();
        CVethPair net;
        CTlsPageServer server;
        if (!net.Ok() || !server.MakeCertificate())
            return;
        for (const char* id : {"replayone", "replaytwo"}) {
            test::CMicroblogPage page;
            page.id = id;
            server.AddPage(std::string(id) + ".html", test::BuildMicroblogPage(page));
        }
        if (!server.Start(net.Peer(), test::AddressText(CVethPair::kPeerAddress), net.Watched()))
            return;
        std::string capture = (s_dir->Path() / "capture.pcap").string();
        test::CPacketRecorder recorder;
        if (!recorder.Start(net.Watched(), CVethPair::kWatchedName, capture))
            return;
        std::string keyLog = "SSLKEYLOGFILE=" + KeyLog();
        for (std::vector<std::string> options :
             {std::vector<std::string>{"--tlsv1.3"},
              std::vector<std::string>{"--tls-max", "1.2", "--ciphers",
                                       "ECDHE-RSA-CHACHA20-POLY1305"}}) {
            options.insert(options.end(), {"-o", "/dev/null", "-o", "/dev/null"});
            test::RunProcess(net.Watched().ExecArgs(
                                 server.CurlArgs({"replayone.html", "replaytwo.html"}, options)),
                             {keyLog});
        }
        test::RunProcess(net.Watched().ExecArgs(
                             {"curl", "-s", "-k", "-o", "/dev/null", "--resolve",
                              "other.example:443:" + test::AddressText(CVethPair::kPeerAddress),
                              "https://other.example/replayone.html"}),
                         {keyLog});
        recorder.Stop();
        std::string error;
        ReadCaptureFile(
            capture,
            [](const std::uint8_t* ip, std::size_t length, std::uint64_t timeMs) {
                s_packets.push_back(CPacket{{ip, ip + length}, timeMs});
            },
            error);
    }

    static void TearDownTestSuite()
    {
        s_packets.clear();
        s_dir.reset();
    }

    static std::string KeyLog() { return (s_dir->Path() / "keys.log").string(); }

    void SetUp() override
    {
        ZK_REQUIRE_ROOT();
        ASSERT_FALSE(s_packets.empty()) << "the capture of nginx and curl was not made";
        m_sock.SetClient(&m_found);
        m_sock.SetTlsKeyLogFile(KeyLog());
    }

    void ExpectEveryPageRead()
    {
        m_sock.EndTls();
        EXPECT_EQ(m_found.m_ids,
                  (std::vector<std::string>{"replayone", "replaytwo", "replayone", "replaytwo"}));
        const CDecodeStats& stats = m_sock.GetDecodeStats();
        EXPECT_EQ(stats.m_tlsConnections, 3u);
        EXPECT_EQ(stats.m_tlsDecrypted, 2u);
        EXPECT_EQ(stats.m_tlsSkipped, 1u);
        EXPECT_EQ(stats.m_tlsFailed, 0u);
        EXPECT_EQ(stats.m_tlsWithoutKeys, 0u);
    }

    static inline std::unique_ptr<test::CTempDir> s_dir;
    static inline std::vector<CPacket> s_packets;
    CZarumateSock m_sock;
    CFoundList m_found;
};

TEST_F(TlsReplayTest, ReadsThePagesOfWholeDatagrams)
{
    for (const CPacket& packet : s_packets) {
        m_sock.SetClock(packet.m_timeMs);
        m_sock.IpDatagramIn(packet.m_datagram.data(), packet.m_datagram.size());
        m_sock.TlsIdleTurn();
    }
    ExpectEveryPageRead();
}

TEST_F(TlsReplayTest, ReadsThePagesOfOneBytePieces)
{
    // Each direction's payload in capture order, straight into the TLS
    // layer, a byte at a time. A piece at the very end of its allocation
    // makes a read beyond it fail under AddressSanitizer.
    std::map<std::vector<std::uint8_t>, CTcpIpStreamInfo> streams;
    for (const CPacket& packet : s_packets) {
        const std::uint8_t* ip = packet.m_datagram.data();
        std::size_t ipHeader = (ip[0] & 15) * 4;
        std::size_t total = std::size_t(ip[2]) << 8 | ip[3];
        const std::uint8_t* tcp = ip + ipHeader;
        std::size_t tcpHeader = (tcp[12] >> 4) * 4;
        std::size_t payload = total - ipHeader - tcpHeader;
        if (payload == 0)
            continue;
        std::vector<std::uint8_t> id(ip + 12, ip + 20);
        id.insert(id.end(), tcp, tcp + 4);
        CTcpIpStreamInfo& stream = streams[id];
        std::copy(ip + 12, ip + 16, stream.m_key.m_source.begin());
        std::copy(ip + 16, ip + 20, stream.m_key.m_destination.begin());
        stream.m_key.m_sourcePort = static_cast<std::uint16_t>(tcp[0] << 8 | tcp[1]);
        stream.m_key.m_destinationPort = static_cast<std::uint16_t>(tcp[2] << 8 | tcp[3]);
        m_sock.SetClock(packet.m_timeMs);
        for (std::size_t i = 0; i < payload; ++i) {
            auto byte = std::make_unique<std::uint8_t[]>(1);
            byte[0] = tcp[tcpHeader + i];
            m_sock.StreamDataIn(stream, byte.get(), 1);
            AdvanceStream(stream, 1);
        }
        m_sock.TlsIdleTurn();
    }
    ExpectEveryPageRead();
    for (const auto& [id, stream] : streams)
        m_sock.OnStreamRetired(stream.m_key);
    EXPECT_EQ(m_sock.GetDecodeStats().BufferedBytes(), 0u);
    EXPECT_EQ(m_sock.TlsConnectionCount(), 0u);
}

} // namespace
} // namespace zk
