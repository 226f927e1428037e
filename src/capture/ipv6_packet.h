#pragma once

#include "capture/ip_address_pair.h"

#include <cstddef>
#include <cstdint>

namespace zk {

constexpr std::size_t kIpv6HeaderLength = 40;

// Next header values that the walk along a datagram's header chain knows
// (RFC 8200, 4; RFC 4302; RFC 4303).
constexpr std::uint8_t kIpv6HopByHop = 0;
constexpr std::uint8_t kIpv6Routing = 43;
constexpr std::uint8_t kIpv6Fragment = 44;
constexpr std::uint8_t kIpv6Esp = 50;
constexpr std::uint8_t kIpv6Authentication = 51;
constexpr std::uint8_t kIpv6NoNextHeader = 59;
constexpr std::uint8_t kIpv6DestinationOptions = 60;

constexpr std::size_t kIpv6FragmentHeaderLength = 8;

// What the walk along an IPv6 datagram's headers found.
enum class EIpv6Content
{
    Tcp,      // a TCP segment at m_upperOffset, up to m_length
    Fragment, // a fragment: the fragment header is at m_upperOffset
};

// One IPv6 datagram as the walk read it (RFC 8200).
struct CIpv6Datagram
{
    CIpAddressPair m_addresses;
    std::size_t m_length = 0; // the fixed header and its payload
    EIpv6Content m_content = EIpv6Content::Tcp;
    std::size_t m_upperOffset = 0;

    // Of a fragment: the byte that names the fragment header (the next
    // header field before it), what follows the fragment header, and the
    // fragment header's fields.
    std::size_t m_nextHeaderAt = 0;
    std::uint8_t m_fragmentNextHeader = 0;
    std::uint32_t m_fragmentOffset = 0; // in bytes
    bool m_moreFragments = false;
    std::uint32_t m_identification = 0;

    std::size_t FragmentPayloadOffset() const { return m_upperOffset + kIpv6FragmentHeaderLength; }
    std::size_t FragmentPayloadLength() const { return m_length - FragmentPayloadOffset(); }
};

// Reads the fixed header and walks the extension headers: hop-by-hop
// options (only right after the fixed header), routing and destination
// options skipped by their length in 8-octet units, an authentication
// header by its own rule (RFC 4302: 4-octet units plus 2), and atomic
// fragments (offset 0, no more to follow) read in place of the datagram
// they are (RFC 6946). True when the walk reached TCP, or a fragment header
// when takeFragments (a rebuilt datagram is not fragmented again). False
// for anything else: ESP, no next header, a header the walk does not know,
// a header that reaches past the datagram, fewer than 40 bytes, or a payload
// length beyond the bytes received. A payload length of 0 with bytes after
// the fixed header is read as reaching to the end of what was received: the
// kernel hands over its coalesced datagrams beyond 64 KiB that way.
bool ParseIpv6Datagram(const std::uint8_t* data, std::size_t length, bool takeFragments,
                       CIpv6Datagram& datagram);

} // namespace zk
