#include "support/pcap_writer.h"

#include <fstream>

namespace zk::test {
namespace {

constexpr std::uint32_t kPcapMagic = 0xA1B2C3D4; // microsecond times
constexpr std::uint32_t kSnapLength = 262144;
constexpr std::uint32_t kFamilyInet = 2;
constexpr std::uint32_t kFamilyInet6 = 30;

constexpr std::uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceBlock = 1;
constexpr std::uint32_t kEnhancedPacketBlock = 6;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;

void PutLittle16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutLittle32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    PutLittle16(out, static_cast<std::uint16_t>(v));
    PutLittle16(out, static_cast<std::uint16_t>(v >> 16));
}

void PutBig16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    PutBig16(out, static_cast<std::uint16_t>(v >> 16));
    PutBig16(out, static_cast<std::uint16_t>(v));
}

void PutZeros(std::vector<std::uint8_t>& out, std::size_t count)
{
    out.insert(out.end(), count, 0);
}

bool WriteAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

// A pcapng block: type, total length, body padded to 4 bytes, total length.
void PutBlock(std::vector<std::uint8_t>& out, std::uint32_t type,
              const std::vector<std::uint8_t>& body)
{
    std::size_t padded = (body.size() + 3) & ~std::size_t(3);
    auto total = static_cast<std::uint32_t>(12 + padded);
    PutLittle32(out, type);
    PutLittle32(out, total);
    out.insert(out.end(), body.begin(), body.end());
    PutZeros(out, padded - body.size());
    PutLittle32(out, total);
}

} // namespace

CPcapWriter::Bytes CPcapWriter::Frame(const Bytes& datagram, std::uint16_t etherType) const
{
    Bytes frame;
    std::uint32_t family = etherType == kEtherTypeIpv4 ? kFamilyInet : kFamilyInet6;
    switch (m_linkType) {
    case CLinkType::kNull:
        if (m_bigEndianFamily)
            PutBig32(frame, family);
        else
            PutLittle32(frame, family);
        break;
    case CLinkType::kLoop:
        PutBig32(frame, family);
        break;
    case CLinkType::kEthernet:
        frame = {0x02, 0, 0, 0, 0, 2, 0x02, 0, 0, 0, 0, 1};
        for (std::uint16_t tag : m_vlanTags) {
            PutBig16(frame, tag);
            PutBig16(frame, 42); // priority 0, VLAN 42
        }
        PutBig16(frame, etherType);
        break;
    case CLinkType::kLinuxSll:
        PutBig16(frame, 0); // sent to us
        PutBig16(frame, 1); // ARPHRD_ETHER
        PutBig16(frame, 6); // address length
        frame.insert(frame.end(), {0x02, 0, 0, 0, 0, 2, 0, 0});
        PutBig16(frame, etherType);
        break;
    case CLinkType::kLinuxSll2:
        PutBig16(frame, etherType);
        PutBig16(frame, 0); // reserved
        PutBig32(frame, 2); // interface index
        PutBig16(frame, 1); // ARPHRD_ETHER
        frame.push_back(0); // sent to us
        frame.push_back(6); // address length
        frame.insert(frame.end(), {0x02, 0, 0, 0, 0, 2, 0, 0});
        break;
    case CLinkType::kRawDlt12:
    case CLinkType::kRawDlt14:
    case CLinkType::kRaw:
    case CLinkType::kIpv4:
    case CLinkType::kIpv6:
        break;
    }
    frame.insert(frame.end(), datagram.begin(), datagram.end());
    return frame;
}

void CPcapWriter::AddDatagram(const Bytes& datagram, std::uint64_t timeUs, std::uint16_t etherType)
{
    m_packets.push_back({Frame(datagram, etherType), timeUs});
}

void CPcapWriter::AddFrame(const Bytes& frame, std::uint64_t timeUs)
{
    m_packets.push_back({frame, timeUs});
}

void CPcapWriter::PadLastFrame(std::size_t bytes)
{
    if (!m_packets.empty())
        PutZeros(m_packets.back().frame, bytes);
}

bool CPcapWriter::WritePcap(const std::filesystem::path& path) const
{
    Bytes out;
    PutLittle32(out, kPcapMagic);
    PutLittle16(out, 2); // version 2.4
    PutLittle16(out, 4);
    PutLittle32(out, 0); // time zone
    PutLittle32(out, 0); // time accuracy
    PutLittle32(out, kSnapLength);
    PutLittle32(out, static_cast<std::uint32_t>(m_linkType));
    for (const CPacket& packet : m_packets) {
        PutLittle32(out, static_cast<std::uint32_t>(packet.timeUs / 1000000));
        PutLittle32(out, static_cast<std::uint32_t>(packet.timeUs % 1000000));
        PutLittle32(out, static_cast<std::uint32_t>(packet.frame.size()));
        PutLittle32(out, static_cast<std::uint32_t>(packet.frame.size()));
        out.insert(out.end(), packet.frame.begin(), packet.frame.end());
    }
    return WriteAll(path, out);
}

bool CPcapWriter::WritePcapng(const std::filesystem::path& path) const
{
    Bytes out;
    Bytes section;
    PutLittle32(section, kByteOrderMagic);
    PutLittle16(section, 1); // version 1.0
    PutLittle16(section, 0);
    PutLittle32(section, 0xFFFFFFFF); // section length unknown
    PutLittle32(section, 0xFFFFFFFF);
    PutBlock(out, kSectionHeaderBlock, section);

    // Without an if_tsresol option the interface's times are in microseconds.
    Bytes interface;
    PutLittle16(interface, static_cast<std::uint16_t>(m_linkType));
    PutLittle16(interface, 0);
    PutLittle32(interface, kSnapLength);
    PutBlock(out, kInterfaceBlock, interface);

    for (const CPacket& packet : m_packets) {
        Bytes body;
        PutLittle32(body, 0); // interface 0
        PutLittle32(body, static_cast<std::uint32_t>(packet.timeUs >> 32));
        PutLittle32(body, static_cast<std::uint32_t>(packet.timeUs));
        PutLittle32(body, static_cast<std::uint32_t>(packet.frame.size()));
        PutLittle32(body, static_cast<std::uint32_t>(packet.frame.size()));
        body.insert(body.end(), packet.frame.begin(), packet.frame.end());
        PutBlock(out, kEnhancedPacketBlock, body);
    }
    return WriteAll(path, out);
}

} // namespace zk::test
