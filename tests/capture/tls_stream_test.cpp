#include "capture/tls_stream.h"
#include "platform/text_convert.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace zk {
namespace {

// The TLS layer with a recorder of what it passes up.
class CTlsChain : public CTlsStream<CTlsChain>
{
public:
    void TlsDataIn(const CTcpIpStreamInfo& stream, const std::uint8_t* data, std::size_t length)
    {
        m_up[stream.m_key.m_sourcePort].append(reinterpret_cast<const char*>(data), length);
    }
    void OnTlsStreamRetired(const CTcpIpStreamKey& key) { m_retired.push_back(key); }
    void OnTlsStreamGap(const CTcpIpStreamKey&) { ++m_gaps; }

    std::map<std::uint16_t, std::string> m_up; // by source port
    std::vector<CTcpIpStreamKey> m_retired;
    int m_gaps = 0;
};

constexpr std::uint16_t kClientPort = 40000;
constexpr std::uint16_t kServerPort = 443;

CTcpIpStreamInfo Stream(bool client)
{
    CTcpIpStreamInfo stream;
    const CIpAddress clientAddress{198, 18, 0, 1};
    const CIpAddress serverAddress{198, 18, 0, 2};
    stream.m_key.m_source = client ? clientAddress : serverAddress;
    stream.m_key.m_destination = client ? serverAddress : clientAddress;
    stream.m_key.m_sourcePort = client ? kClientPort : kServerPort;
    stream.m_key.m_destinationPort = client ? kServerPort : kClientPort;
    return stream;
}

void Put16(std::string& to, std::size_t value)
{
    to += static_cast<char>(value >> 8);
    to += static_cast<char>(value);
}

// A TLS 1.3 ClientHello record naming host, with an Encrypted Client
// Hello extension when asked.
std::string ClientHello(const std::string& host, bool ech)
{
    std::string extensions;
    if (!host.empty()) {
        std::string list;
        list += '\0';
        Put16(list, host.size());
        list += host;
        std::string data;
        Put16(data, list.size());
        data += list;
        Put16(extensions, 0);
        Put16(extensions, data.size());
        extensions += data;
    }
    if (ech) {
        Put16(extensions, 0xfe0d);
        Put16(extensions, 1);
        extensions += '\0';
    }
    std::string body = "\x03\x03" + std::string(32, '\x5a');
    body += '\0'; // no session id
    body += std::string("\x00\x02\x13\x01", 4);
    body += std::string("\x01\x00", 2); // null compression
    Put16(body, extensions.size());
    body += extensions;
    std::string message = "\x01";
    message += '\0';
    Put16(message, body.size());
    message += body;
    std::string record = "\x16\x03\x01";
    Put16(record, message.size());
    return record + message;
}

// Moves the stream past bytes just fed to the layer above, as the TCP layer
// does once it has delivered them.
void AdvanceStream(CTcpIpStreamInfo& stream, std::size_t length)
{
    stream.m_cache.SkipGap(stream.NextSequence() + static_cast<std::uint32_t>(length),
                           [](const std::uint8_t*, std::size_t) {});
}

void Feed(CTlsChain& chain, CTcpIpStreamInfo& stream, const std::string& bytes, bool bytewise)
{
    std::size_t step = bytewise ? 1 : bytes.size();
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        std::size_t length = std::min(step, bytes.size() - at);
        auto copy = std::make_unique<std::uint8_t[]>(length);
        std::memcpy(copy.get(), bytes.data() + at, length);
        chain.StreamDataIn(stream, copy.get(), length);
        AdvanceStream(stream, length);
    }
}

// A server record of application data: never readable here, as no key log
// is given; only whether it goes up matters.
const std::string kServerRecord = std::string("\x17\x03\x03\x00\x05", 5) + "abcde";

class TlsStreamTest : public ::testing::TestWithParam<bool>
{};

TEST_P(TlsStreamTest, PlainStreamsGoUpUntouchedEvenWhenAPieceLooksLikeTls)
{
    CTlsChain chain;
    CTcpIpStreamInfo client = Stream(true);
    CTcpIpStreamInfo server = Stream(false);
    std::string request = "GET / HTTP/1.1\r\nHost: a\r\n\r\n";
    // Inside a stream, bytes that would begin a ClientHello are just bytes.
    std::string body = "HTTP/1.1 200 OK\r\n\r\n" + ClientHello("x", false);
    Feed(chain, client, request, GetParam());
    Feed(chain, server, "HTTP/1.1 200 OK\r\n\r\n", GetParam());
    Feed(chain, server, ClientHello("x", false), GetParam());
    EXPECT_EQ(chain.m_up[kClientPort], request);
    EXPECT_EQ(chain.m_up[kServerPort], body);
    EXPECT_EQ(chain.GetDecodeStats().m_tlsConnections, 0u);
    EXPECT_EQ(chain.TlsConnectionCount(), 0u);
}

TEST_P(TlsStreamTest, OtherSitesAreSkippedAndNothingOfThemGoesUp)
{
    CTlsChain chain;
    CTcpIpStreamInfo client = Stream(true);
    CTcpIpStreamInfo server = Stream(false);
    Feed(chain, client, ClientHello("www.other.example", false), GetParam());
    Feed(chain, server, kServerRecord, GetParam());
    const CDecodeStats& stats = chain.GetDecodeStats();
    EXPECT_EQ(stats.m_tlsConnections, 1u);
    EXPECT_EQ(stats.m_tlsSkipped, 1u);
    EXPECT_EQ(stats.m_tlsEch, 0u);
    EXPECT_TRUE(chain.m_up.empty());
    EXPECT_EQ(stats.BufferedBytes(), 0u);

    chain.OnStreamRetired(client.m_key);
    chain.OnStreamRetired(server.m_key);
    EXPECT_EQ(chain.TlsConnectionCount(), 0u);
    EXPECT_EQ(chain.m_retired.size(), 2u);
}

TEST_P(TlsStreamTest, EncryptedClientHelloUnderAnotherNameIsCounted)
{
    CTlsChain chain;
    CTcpIpStreamInfo client = Stream(true);
    Feed(chain, client, ClientHello("public.example", true), GetParam());
    EXPECT_EQ(chain.GetDecodeStats().m_tlsEch, 1u);
    EXPECT_EQ(chain.GetDecodeStats().m_tlsSkipped, 1u);
}

TEST_P(TlsStreamTest, APortalConnectionWaitsForItsKeysAndGivesUpAfterItsWait)
{
    // A portal name with a (placebo) ECH extension is read: browsers send
    // one to every site, and the name is then the real one.
    CTlsChain chain;
    CTcpIpStreamInfo client = Stream(true);
    CTcpIpStreamInfo server = Stream(false);
    chain.SetClock(1000);
    Feed(chain, client, ClientHello(WideToUtf8(kMicroblogHost), true), GetParam());
    // A ServerHello of TLS 1.3 with TLS_AES_128_GCM_SHA256, then a record
    // under its keys.
    std::string hello = "\x03\x03" + std::string(32, '\x33');
    hello += '\0';
    hello += std::string("\x13\x01\x00", 3);
    hello += std::string("\x00\x06\x00\x2b\x00\x02\x03\x04", 8);
    std::string message = "\x02";
    message += '\0';
    Put16(message, hello.size());
    std::string record = "\x16\x03\x03";
    Put16(record, message.size() + hello.size());
    Feed(chain, server, record + message + hello + kServerRecord, GetParam());
    const CDecodeStats& stats = chain.GetDecodeStats();
    EXPECT_EQ(stats.m_tlsSkipped, 0u);
    EXPECT_EQ(stats.m_tlsWaitingBytes, kServerRecord.size());
    EXPECT_TRUE(chain.m_up.empty());

    // The stream retires; the connection is kept while its wait lasts.
    chain.OnStreamRetired(client.m_key);
    chain.OnStreamRetired(server.m_key);
    chain.SetClock(1000 + CTlsConnection::kMaxWaitMs / 2);
    chain.TlsIdleTurn();
    EXPECT_EQ(stats.m_tlsWithoutKeys, 0u);
    chain.SetClock(1000 + CTlsConnection::kMaxWaitMs + 1);
    chain.TlsIdleTurn();
    EXPECT_EQ(stats.m_tlsWithoutKeys, 1u);
    EXPECT_EQ(stats.BufferedBytes(), 0u);
}

TEST_P(TlsStreamTest, AClientThatIsNotTlsAfterAllIsSkipped)
{
    CTlsChain chain;
    CTcpIpStreamInfo client = Stream(true);
    std::string bytes = ClientHello("x", false);
    bytes[5] = 1;
    bytes[6] = '\x7f'; // a message longer than any ClientHello may be
    Feed(chain, client, bytes, GetParam());
    EXPECT_EQ(chain.GetDecodeStats().m_tlsSkipped, 1u);
    EXPECT_EQ(chain.GetDecodeStats().BufferedBytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(WholeAndByteByByte, TlsStreamTest, ::testing::Bool());

} // namespace
} // namespace zk
