#pragma once

#include "capture/ipv6_packet.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zk::test {

using Bytes = std::vector<std::uint8_t>;
using Address = std::array<std::uint8_t, 4>;
using Address6 = std::array<std::uint8_t, 16>;

// Flags of an IPv4 header as the decoder keeps them (RFC 791: bit 0 more
// fragments, bit 1 don't fragment, bit 2 the reserved bit).
constexpr std::uint8_t kIpMoreFragments = 0x01;
constexpr std::uint8_t kIpDontFragment = 0x02;
constexpr std::uint8_t kIpReserved = 0x04;

constexpr std::uint8_t kIpProtocolTcp = 6;
constexpr std::uint8_t kIpProtocolUdp = 17;

// TCP flags, byte 13 of the header (RFC 793).
constexpr std::uint8_t kTcpFin = 0x01;
constexpr std::uint8_t kTcpSyn = 0x02;
constexpr std::uint8_t kTcpRst = 0x04;
constexpr std::uint8_t kTcpPsh = 0x08;
constexpr std::uint8_t kTcpAck = 0x10;

// Test addresses come from 198.18.0.0/15, which is reserved for benchmarks.
constexpr Address kClientAddress{198, 18, 0, 1};
constexpr Address kServerAddress{198, 18, 0, 2};

// IPv6 test addresses come from 2001:2::/48, reserved for benchmarks.
constexpr Address6 kClientAddress6{0x20, 0x01, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
constexpr Address6 kServerAddress6{0x20, 0x01, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

// Next header values of IPv6 extension headers, as the datagram layer
// knows them.
using zk::kIpv6Authentication;
using zk::kIpv6DestinationOptions;
using zk::kIpv6Esp;
using zk::kIpv6Fragment;
using zk::kIpv6HopByHop;
using zk::kIpv6NoNextHeader;
using zk::kIpv6Routing;

// One extension header: its type and the bytes after its next header and
// length fields. The body is padded with zeros to the header's unit (8
// octets, or 4 for an authentication header) and the length field set to
// match; a fragment header's body is its six bytes as given.
struct CIpv6Extension
{
    std::uint8_t type = kIpv6DestinationOptions;
    Bytes body;
};

struct CIpv6Fields
{
    Address6 source = kClientAddress6;
    Address6 destination = kServerAddress6;
    std::uint8_t hopLimit = 64;
    std::uint8_t trafficClass = 0;
    std::uint32_t flowLabel = 0;
    std::vector<CIpv6Extension> extensions; // in order, between header and payload
};

// A fragment header's body (RFC 8200, 4.5): offset in bytes (a multiple of
// 8), the more-fragments flag and the identification.
CIpv6Extension FragmentHeader(std::uint32_t offset, bool more, std::uint32_t identification);

struct CIpv4Fields
{
    Address source = kClientAddress;
    Address destination = kServerAddress;
    std::uint8_t protocol = kIpProtocolTcp;
    std::uint16_t identification = 1;
    std::uint8_t flags = 0;           // kIpMoreFragments | kIpDontFragment | kIpReserved
    std::uint16_t fragmentOffset = 0; // in bytes; a multiple of 8 on the wire
    std::uint8_t typeOfService = 0;
    std::uint8_t timeToLive = 64;
    Bytes options; // padded with zeros to a multiple of 4
};

struct CTcpFields
{
    std::uint16_t sourcePort = 40000;
    std::uint16_t destinationPort = 80;
    std::uint32_t sequence = 0;
    std::uint32_t acknowledgement = 0;
    std::uint8_t flags = kTcpAck;
    std::uint16_t window = 65535;
    Bytes options; // padded with zeros to a multiple of 4
};

Bytes ToBytes(std::string_view text);

// The Internet checksum (RFC 1071) of a byte run, as stored in a header.
std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length);

// An IPv4 datagram with a correct header checksum; the total length covers
// the header, options and payload.
Bytes BuildIpv4(const CIpv4Fields& ip, const Bytes& payload);

// A TCP header plus payload, its checksum taken over the pseudo header of
// the given addresses (RFC 793).
Bytes BuildTcp(const CTcpFields& tcp, const Bytes& payload, const Address& source,
               const Address& destination);

// A whole datagram carrying one TCP segment.
Bytes BuildTcpDatagram(const CIpv4Fields& ip, const CTcpFields& tcp, const Bytes& payload);

// An IPv6 datagram: the fixed header, the extension headers, then the
// payload, which nextHeader names.
Bytes BuildIpv6(const CIpv6Fields& ip, std::uint8_t nextHeader, const Bytes& payload);

// A TCP header plus payload, its checksum taken over the IPv6 pseudo header
// (RFC 8200, 8.1).
Bytes BuildTcp6(const CTcpFields& tcp, const Bytes& payload, const Address6& source,
                const Address6& destination);

// A whole IPv6 datagram carrying one TCP segment.
Bytes BuildTcpDatagram6(const CIpv6Fields& ip, const CTcpFields& tcp, const Bytes& payload);

// Splits an IPv6 datagram as its source would (RFC 8200, 4.5): the
// unfragmentable part (the fixed header up to the last hop-by-hop or routing
// header) goes into each fragment, then a fragment header of this
// identification, then up to payloadPerFragment bytes (rounded down to a
// multiple of 8, at least 8) of the rest.
std::vector<Bytes> SplitIntoFragments6(const Bytes& datagram, std::size_t payloadPerFragment,
                                       std::uint32_t identification);

// Splits a datagram into fragments whose payloads hold at most
// payloadPerFragment bytes (rounded down to a multiple of 8, at least 8), as a
// router would (RFC 791): the first keeps every option, the later ones only
// options with the copied bit; offsets and the more-fragments flag are set and
// every header checksum is recomputed. A datagram that already is a fragment
// is split within its own range.
std::vector<Bytes> SplitIntoFragments(const Bytes& datagram, std::size_t payloadPerFragment);

// One direction of a scripted connection: its SYN and then data segments, each
// starting where the previous one ended, with a fresh IP identification each.
class CTcpFlowBuilder
{
public:
    CTcpFlowBuilder(const Address& source, std::uint16_t sourcePort, const Address& destination,
                    std::uint16_t destinationPort, std::uint32_t initialSequence);
    // A flow over IPv6; Ip6() gives its header fields, extensions included.
    CTcpFlowBuilder(const Address6& source, std::uint16_t sourcePort, const Address6& destination,
                    std::uint16_t destinationPort, std::uint32_t initialSequence);

    // The SYN (or SYN-ACK) at the initial sequence number; data follows at +1.
    Bytes Syn(bool ack = false, const Bytes& payload = {});
    // The next data segment; advances the sequence number by its size.
    Bytes Data(const Bytes& payload, std::uint8_t flags = kTcpAck | kTcpPsh);
    Bytes Data(std::string_view payload) { return Data(ToBytes(payload)); }
    // A segment at any sequence number; does not move the flow.
    Bytes Segment(std::uint32_t sequence, const Bytes& payload,
                  std::uint8_t flags = kTcpAck | kTcpPsh);
    Bytes Fin() { return Segment(m_next, {}, kTcpFin | kTcpAck); }

    std::uint32_t InitialSequence() const { return m_initial; }
    std::uint32_t NextSequence() const { return m_next; }
    CIpv4Fields& Ip() { return m_ip; }
    CIpv6Fields& Ip6() { return m_ip6; }
    CTcpFields& Tcp() { return m_tcp; }
    bool IsIpv6() const { return m_ipv6; }

private:
    CIpv4Fields m_ip;
    CIpv6Fields m_ip6;
    bool m_ipv6 = false;
    CTcpFields m_tcp;
    std::uint32_t m_initial;
    std::uint32_t m_next;
};

} // namespace zk::test
