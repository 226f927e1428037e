#pragma once

#include <cstddef>
#include <cstdint>

namespace zk::pcapng {

// The parts of the pcapng capture format (IETF draft-ietf-opsawg-pcapng)
// that the capture helper writes and the capture thread reads. Every block
// is a 32-bit type, a 32-bit total length, its body padded to 32 bits, and
// the total length again. Numbers are in the writer's byte order, which the
// Section Header's magic tells.

constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescription = 0x00000001;
constexpr std::uint32_t kInterfaceStatistics = 0x00000005;
constexpr std::uint32_t kEnhancedPacket = 0x00000006;

constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t kMajorVersion = 1;
constexpr std::uint16_t kMinorVersion = 0;

// Raw IP: every packet starts with its IPv4 or IPv6 header.
constexpr std::uint16_t kLinkTypeRawIp = 101;

constexpr std::uint16_t kOptionEnd = 0;
constexpr std::uint16_t kOptionInterfaceName = 2;  // if_name
constexpr std::uint16_t kOptionTimeResolution = 9; // if_tsresol
constexpr std::uint16_t kOptionInterfaceDrops = 5; // isb_ifdrop

// Type and total length in front, total length behind.
constexpr std::size_t kBlockFrameBytes = 12;
// An Enhanced Packet Block's fixed fields: interface, time high and low,
// captured and original length.
constexpr std::size_t kEnhancedPacketFields = 20;
// The reader takes no block larger than this: a datagram is at most 64 KiB,
// and nothing else the helper writes comes near it.
constexpr std::size_t kMaxBlockBytes = 256 * 1024;

constexpr std::size_t Padded(std::size_t length)
{
    return (length + 3) & ~static_cast<std::size_t>(3);
}

} // namespace zk::pcapng
