#include "probe/capture_file.h"
#include "support/packet_builder.h"
#include "support/pcap_writer.h"
#include "support/test_env.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zk {
namespace {

using test::Bytes;
using test::CLinkType;
using test::CPcapWriter;

struct CDelivered
{
    Bytes datagram;
    std::uint64_t timeMs = 0;
};

bool Read(const std::filesystem::path& path, std::vector<CDelivered>& delivered, std::string& error)
{
    return ReadCaptureFile(
        path.string(),
        [&](const std::uint8_t* ip, std::size_t length, std::uint64_t timeMs) {
            delivered.push_back({Bytes(ip, ip + length), timeMs});
        },
        error);
}

Bytes Datagram(std::string_view payload, std::uint16_t id)
{
    test::CIpv4Fields ip;
    ip.identification = id;
    test::CTcpFields tcp;
    tcp.sequence = id;
    return test::BuildTcpDatagram(ip, tcp, test::ToBytes(payload));
}

class CaptureFileLinkTypes : public ::testing::TestWithParam<CLinkType>
{
protected:
    test::CTempDir m_dir;
};

// Every link type, in both file formats: each datagram comes out whole, once,
// in file order, with its time in milliseconds.
TEST_P(CaptureFileLinkTypes, DeliversEveryDatagramWholeWithItsTime)
{
    std::vector<Bytes> datagrams = {Datagram("first", 1), Datagram("", 2),
                                    Datagram(std::string(3000, 'x'), 3)};
    CPcapWriter writer(GetParam());
    writer.AddDatagram(datagrams[0], 1700000000123456ull);
    writer.AddDatagram(datagrams[1], 1700000000999999ull);
    writer.AddDatagram(datagrams[2], 1700000001000000ull);

    for (bool pcapng : {false, true}) {
        auto path = m_dir.Path() / (pcapng ? "c.pcapng" : "c.pcap");
        ASSERT_TRUE(pcapng ? writer.WritePcapng(path) : writer.WritePcap(path));
        std::vector<CDelivered> delivered;
        std::string error;
        ASSERT_TRUE(Read(path, delivered, error)) << error;
        ASSERT_EQ(delivered.size(), 3u) << (pcapng ? "pcapng" : "pcap");
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(delivered[i].datagram, datagrams[i]) << i;
        EXPECT_EQ(delivered[0].timeMs, 1700000000123ull);
        EXPECT_EQ(delivered[1].timeMs, 1700000000999ull);
        EXPECT_EQ(delivered[2].timeMs, 1700000001000ull);
    }
}

INSTANTIATE_TEST_SUITE_P(, CaptureFileLinkTypes,
                         ::testing::Values(CLinkType::kEthernet, CLinkType::kRaw,
                                           CLinkType::kRawDlt12, CLinkType::kRawDlt14,
                                           CLinkType::kIpv4, CLinkType::kLinuxSll,
                                           CLinkType::kLinuxSll2, CLinkType::kNull,
                                           CLinkType::kLoop),
                         [](const auto& info) {
                             return "LinkType" + std::to_string(static_cast<unsigned>(info.param));
                         });

class CaptureFile : public ::testing::Test
{
protected:
    std::vector<CDelivered> ReadBack(const CPcapWriter& writer)
    {
        auto path = m_dir.Path() / "c.pcap";
        EXPECT_TRUE(writer.WritePcap(path));
        std::vector<CDelivered> delivered;
        std::string error;
        EXPECT_TRUE(Read(path, delivered, error)) << error;
        return delivered;
    }

    test::CTempDir m_dir;
};

TEST_F(CaptureFile, SkipsVlanTagsOfEthernetFrames)
{
    Bytes datagram = Datagram("tagged", 7);
    for (std::vector<std::uint16_t> tags :
         {std::vector<std::uint16_t>{test::kEtherTypeVlan},
          std::vector<std::uint16_t>{test::kEtherTypeQinQ, test::kEtherTypeVlan}}) {
        CPcapWriter writer(CLinkType::kEthernet);
        writer.SetVlanTags(tags);
        writer.AddDatagram(datagram, 0);
        auto delivered = ReadBack(writer);
        ASSERT_EQ(delivered.size(), 1u) << tags.size() << " tags";
        EXPECT_EQ(delivered[0].datagram, datagram);
    }
}

Bytes Datagram6(std::string_view payload, std::uint32_t sequence)
{
    test::CTcpFields tcp;
    tcp.sequence = sequence;
    return test::BuildTcpDatagram6(test::CIpv6Fields{}, tcp, test::ToBytes(payload));
}

TEST_F(CaptureFile, SkipsFramesThatCarryNoIp)
{
    Bytes datagram = Datagram("kept", 9);
    Bytes datagram6 = Datagram6("kept too", 10);
    CPcapWriter writer(CLinkType::kEthernet);
    writer.AddDatagram(Bytes(28, 1), 0, test::kEtherTypeArp);
    writer.AddFrame(Bytes(10, 0), 0);                             // shorter than its header
    writer.AddDatagram(Bytes(12, 0x45), 0);                       // shorter than an IPv4 header
    writer.AddDatagram(Bytes(40, 0x60), 0);                       // says IPv4, holds version 6
    writer.AddDatagram(datagram, 0, test::kEtherTypeIpv6);        // says IPv6, holds version 4
    writer.AddDatagram(Bytes(39, 0x60), 0, test::kEtherTypeIpv6); // shorter than IPv6's header
    writer.AddDatagram(datagram6, 0, test::kEtherTypeIpv6);
    writer.AddDatagram(datagram, 0);
    auto delivered = ReadBack(writer);
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].datagram, datagram6);
    EXPECT_EQ(delivered[1].datagram, datagram);
}

// IPv6 comes out of every link type that declares it, and of raw IP by its
// version nibble; raw IPv6 takes nothing else, and the loopback types are
// read for IPv4 only.
TEST_F(CaptureFile, ReadsIpv6WhereTheLinkTypeCarriesIt)
{
    Bytes datagram = Datagram("kept", 9);
    Bytes datagram6 = Datagram6("six", 11);
    for (CLinkType type :
         {CLinkType::kEthernet, CLinkType::kRaw, CLinkType::kRawDlt12, CLinkType::kIpv6,
          CLinkType::kLinuxSll, CLinkType::kLinuxSll2, CLinkType::kNull}) {
        CPcapWriter writer(type);
        writer.AddDatagram(datagram6, 0, test::kEtherTypeIpv6);
        writer.AddDatagram(datagram, 0);
        auto delivered = ReadBack(writer);
        std::vector<Bytes> expected;
        if (type != CLinkType::kNull)
            expected.push_back(datagram6);
        if (type != CLinkType::kIpv6)
            expected.push_back(datagram);
        ASSERT_EQ(delivered.size(), expected.size()) << static_cast<unsigned>(type);
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(delivered[i].datagram, expected[i]) << static_cast<unsigned>(type);
    }
}

TEST_F(CaptureFile, CutsEthernetPaddingAfterAnIpv6Datagram)
{
    Bytes datagram = Datagram6("", 1);
    CPcapWriter writer(CLinkType::kEthernet);
    writer.AddDatagram(datagram, 0, test::kEtherTypeIpv6);
    writer.PadLastFrame(6);
    auto delivered = ReadBack(writer);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].datagram, datagram);
}

TEST_F(CaptureFile, ReadsLoopbackFamilyInEitherByteOrder)
{
    Bytes datagram = Datagram("loop", 3);
    CPcapWriter writer(CLinkType::kNull);
    writer.SetBigEndianFamily(true);
    writer.AddDatagram(datagram, 0);
    auto delivered = ReadBack(writer);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].datagram, datagram);
}

TEST_F(CaptureFile, CutsEthernetPaddingAfterTheDatagram)
{
    Bytes datagram = Datagram("", 4); // 40 bytes: the frame gets padded to 60
    CPcapWriter writer(CLinkType::kEthernet);
    writer.AddDatagram(datagram, 0);
    writer.PadLastFrame(6);
    auto delivered = ReadBack(writer);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].datagram, datagram);
}

TEST_F(CaptureFile, LeavesDatagramLongerThanItsBytesToTheIpLayer)
{
    // A capture cut by its snapshot length still hands over what it holds.
    Bytes datagram = Datagram(std::string(100, 'y'), 5);
    Bytes cut(datagram.begin(), datagram.begin() + 60);
    CPcapWriter writer(CLinkType::kRaw);
    writer.AddDatagram(cut, 0);
    auto delivered = ReadBack(writer);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].datagram, cut);
}

TEST_F(CaptureFile, FailsWithReasonForMissingOrForeignFiles)
{
    std::vector<CDelivered> delivered;
    std::string error;
    EXPECT_FALSE(Read(m_dir.Path() / "missing.pcap", delivered, error));
    EXPECT_FALSE(error.empty());

    auto text = m_dir.Path() / "text.pcap";
    std::ofstream(text) << "not a capture file at all\n";
    error.clear();
    EXPECT_FALSE(Read(text, delivered, error));
    EXPECT_FALSE(error.empty());

    // 802.11 frames: a link type the reader does not know.
    CPcapWriter wifi(static_cast<CLinkType>(105));
    wifi.AddFrame(Bytes(40, 0), 0);
    auto wifiPath = m_dir.Path() / "wifi.pcap";
    ASSERT_TRUE(wifi.WritePcap(wifiPath));
    error.clear();
    EXPECT_FALSE(Read(wifiPath, delivered, error));
    EXPECT_NE(error.find("105"), std::string::npos) << error;
    EXPECT_TRUE(delivered.empty());
}

TEST_F(CaptureFile, FailsOnFileCutInsideAPacket)
{
    CPcapWriter writer(CLinkType::kRaw);
    writer.AddDatagram(Datagram("whole", 1), 0);
    writer.AddDatagram(Datagram(std::string(500, 'z'), 2), 0);
    auto path = m_dir.Path() / "cut.pcap";
    ASSERT_TRUE(writer.WritePcap(path));
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 100);
    std::vector<CDelivered> delivered;
    std::string error;
    EXPECT_FALSE(Read(path, delivered, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(delivered.size(), 1u);
}

} // namespace
} // namespace zk
