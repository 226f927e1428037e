#pragma once

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

namespace zk::test {

// Link types of a capture file, by the value its header carries.
enum class CLinkType : std::uint32_t
{
    kNull = 0,        // BSD loopback: address family, 4 bytes in the writer's byte order
    kEthernet = 1,    // 14-byte Ethernet header, optionally with VLAN tags
    kRawDlt12 = 12,   // raw IP under the older value of most systems
    kRawDlt14 = 14,   // raw IP under the older value of some BSDs
    kRaw = 101,       // raw IP (LINKTYPE_RAW)
    kLoop = 108,      // OpenBSD loopback: address family in network byte order
    kLinuxSll = 113,  // Linux cooked capture, version 1
    kIpv4 = 228,      // raw IPv4 (LINKTYPE_IPV4)
    kIpv6 = 229,      // raw IPv6 (LINKTYPE_IPV6)
    kLinuxSll2 = 276, // Linux cooked capture, version 2
};

// Ether types the writer can put in front of a datagram.
constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeArp = 0x0806;
constexpr std::uint16_t kEtherTypeIpv6 = 0x86DD;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint16_t kEtherTypeQinQ = 0x88A8;

// Collects packets and writes them as a classic pcap file (microsecond
// times) or as a pcapng file with one interface, so that tests can make the
// captures they read.
class CPcapWriter
{
public:
    using Bytes = std::vector<std::uint8_t>;

    explicit CPcapWriter(CLinkType linkType) : m_linkType(linkType) {}

    // VLAN tags put between the Ethernet addresses and the ether type, outer
    // first (for example kEtherTypeQinQ, then kEtherTypeVlan).
    void SetVlanTags(std::vector<std::uint16_t> tagTypes) { m_vlanTags = std::move(tagTypes); }
    // Writes the address family of kNull frames in network byte order, as a
    // big-endian machine would have captured them.
    void SetBigEndianFamily(bool bigEndian) { m_bigEndianFamily = bigEndian; }

    // Adds one datagram framed for the link type; etherType says what the
    // link header declares it to be (an address family for the loopback types).
    void AddDatagram(const Bytes& datagram, std::uint64_t timeUs,
                     std::uint16_t etherType = kEtherTypeIpv4);
    // Adds a frame exactly as given, link header included.
    void AddFrame(const Bytes& frame, std::uint64_t timeUs);
    // Appends bytes after the last frame as if they were Ethernet padding.
    void PadLastFrame(std::size_t bytes);

    bool WritePcap(const std::filesystem::path& path) const;
    bool WritePcapng(const std::filesystem::path& path) const;

    std::size_t PacketCount() const { return m_packets.size(); }

private:
    struct CPacket
    {
        Bytes frame;
        std::uint64_t timeUs = 0;
    };

    Bytes Frame(const Bytes& datagram, std::uint16_t etherType) const;

    CLinkType m_linkType;
    std::vector<std::uint16_t> m_vlanTags;
    bool m_bigEndianFamily = false;
    std::vector<CPacket> m_packets;
};

} // namespace zk::test
