#pragma once

#include <cstdint>

namespace zk {

enum class ETcpSegmentPlace
{
    Ahead, // starts after the next byte to deliver: wait for the gap to fill
    Old,   // ends at or before the next byte: every byte was delivered before
    New,   // its last m_newBytes bytes continue the stream
};

struct CTcpSegmentPlace
{
    ETcpSegmentPlace m_place = ETcpSegmentPlace::Old;
    std::uint32_t m_newBytes = 0;
};

// Where a segment of length bytes starting at sequence lies against next, the
// sequence number of the next byte to deliver. This is the one comparison of
// sequence numbers in the stream layers. Sequence numbers live in a space of
// 2^32 and are compared modulo 2^32 (RFC 793, 3.3), with the rule of serial
// number arithmetic (RFC 1982): a number 1 to 2^31 after next is ahead of it.
// Adding 0x7FFFFFFF moves next to the middle of the unsigned range, so one
// unsigned comparison decides, and wrapping past 2^32 needs no special case.
// A segment starting before next but reaching beyond it gives only its tail,
// so an overlapping retransmission is trimmed rather than delivered twice.
constexpr CTcpSegmentPlace PlaceTcpSegment(std::uint32_t sequence, std::uint32_t length,
                                           std::uint32_t next)
{
    constexpr std::uint32_t kHalf = 0x7FFFFFFF;
    std::uint32_t start = sequence - next + kHalf;
    if (start > kHalf)
        return {ETcpSegmentPlace::Ahead, 0};
    // A payload is at most 65535 bytes, so this cannot wrap.
    std::uint32_t end = start + length;
    if (end <= kHalf)
        return {ETcpSegmentPlace::Old, 0};
    return {ETcpSegmentPlace::New, end - kHalf};
}

// How far ahead of next a sequence number lies, for one that PlaceTcpSegment
// put Ahead: the difference modulo 2^32, less than 2^31.
constexpr std::uint32_t TcpSequenceDistance(std::uint32_t sequence, std::uint32_t next)
{
    return sequence - next;
}

} // namespace zk
