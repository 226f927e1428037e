#include "support/packet_builder.h"

#include <algorithm>
#include <stdexcept>

namespace zk::test {
namespace {

void Put16(Bytes& out, std::size_t at, std::uint16_t value)
{
    out[at] = static_cast<std::uint8_t>(value >> 8);
    out[at + 1] = static_cast<std::uint8_t>(value);
}

void Put32(Bytes& out, std::size_t at, std::uint32_t value)
{
    Put16(out, at, static_cast<std::uint16_t>(value >> 16));
    Put16(out, at + 2, static_cast<std::uint16_t>(value));
}

std::uint16_t Get16(const Bytes& in, std::size_t at)
{
    return static_cast<std::uint16_t>(in[at] << 8 | in[at + 1]);
}

Bytes Padded(const Bytes& options)
{
    Bytes padded = options;
    padded.resize((padded.size() + 3) / 4 * 4, 0);
    return padded;
}

std::uint32_t SumWords(const std::uint8_t* data, std::size_t length, std::uint32_t sum)
{
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (length % 2)
        sum += static_cast<std::uint32_t>(data[length - 1] << 8);
    return sum;
}

std::uint16_t Fold(std::uint32_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// The options of a header that later fragments carry: those with the copied
// bit (RFC 791, 3.1), padded again to a multiple of 4.
Bytes CopiedOptions(const std::uint8_t* options, std::size_t length)
{
    Bytes copied;
    std::size_t i = 0;
    while (i < length) {
        std::uint8_t type = options[i];
        if (type == 0)
            break;
        if (type == 1) {
            ++i;
            continue;
        }
        if (i + 1 >= length || options[i + 1] < 2 || i + options[i + 1] > length)
            break;
        std::size_t size = options[i + 1];
        if (type & 0x80)
            copied.insert(copied.end(), options + i, options + i + size);
        i += size;
    }
    return Padded(copied);
}

} // namespace

Bytes ToBytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length)
{
    return Fold(SumWords(data, length, 0));
}

Bytes BuildIpv4(const CIpv4Fields& ip, const Bytes& payload)
{
    Bytes options = Padded(ip.options);
    std::size_t headerLength = 20 + options.size();
    if (headerLength > 60 || headerLength + payload.size() > 0xFFFF)
        throw std::length_error("datagram too large");
    Bytes out(headerLength + payload.size(), 0);
    out[0] = static_cast<std::uint8_t>(0x40 | headerLength / 4);
    out[1] = ip.typeOfService;
    Put16(out, 2, static_cast<std::uint16_t>(out.size()));
    Put16(out, 4, ip.identification);
    std::uint16_t flags = static_cast<std::uint16_t>(((ip.flags & kIpMoreFragments) ? 0x2000 : 0) |
                                                     ((ip.flags & kIpDontFragment) ? 0x4000 : 0) |
                                                     ((ip.flags & kIpReserved) ? 0x8000 : 0));
    Put16(out, 6, static_cast<std::uint16_t>(flags | ((ip.fragmentOffset / 8) & 0x1FFF)));
    out[8] = ip.timeToLive;
    out[9] = ip.protocol;
    std::copy(ip.source.begin(), ip.source.end(), out.begin() + 12);
    std::copy(ip.destination.begin(), ip.destination.end(), out.begin() + 16);
    std::copy(options.begin(), options.end(), out.begin() + 20);
    Put16(out, 10, InternetChecksum(out.data(), headerLength));
    std::copy(payload.begin(), payload.end(), out.begin() + static_cast<long>(headerLength));
    return out;
}

Bytes BuildTcp(const CTcpFields& tcp, const Bytes& payload, const Address& source,
               const Address& destination)
{
    Bytes options = Padded(tcp.options);
    std::size_t headerLength = 20 + options.size();
    if (headerLength > 60)
        throw std::length_error("TCP options too long");
    Bytes out(headerLength + payload.size(), 0);
    Put16(out, 0, tcp.sourcePort);
    Put16(out, 2, tcp.destinationPort);
    Put32(out, 4, tcp.sequence);
    Put32(out, 8, tcp.acknowledgement);
    out[12] = static_cast<std::uint8_t>(headerLength / 4 << 4);
    out[13] = tcp.flags;
    Put16(out, 14, tcp.window);
    std::copy(options.begin(), options.end(), out.begin() + 20);
    std::copy(payload.begin(), payload.end(), out.begin() + static_cast<long>(headerLength));

    Bytes pseudo(12, 0);
    std::copy(source.begin(), source.end(), pseudo.begin());
    std::copy(destination.begin(), destination.end(), pseudo.begin() + 4);
    pseudo[9] = kIpProtocolTcp;
    Put16(pseudo, 10, static_cast<std::uint16_t>(out.size()));
    std::uint32_t sum = SumWords(pseudo.data(), pseudo.size(), 0);
    Put16(out, 16, Fold(SumWords(out.data(), out.size(), sum)));
    return out;
}

Bytes BuildTcpDatagram(const CIpv4Fields& ip, const CTcpFields& tcp, const Bytes& payload)
{
    CIpv4Fields fields = ip;
    fields.protocol = kIpProtocolTcp;
    return BuildIpv4(fields, BuildTcp(tcp, payload, ip.source, ip.destination));
}

std::vector<Bytes> SplitIntoFragments(const Bytes& datagram, std::size_t payloadPerFragment)
{
    if (datagram.size() < 20)
        throw std::invalid_argument("not a datagram");
    std::size_t headerLength = (datagram[0] & 0x0F) * 4u;
    std::size_t totalLength = Get16(datagram, 2);
    if (headerLength < 20 || totalLength < headerLength || totalLength > datagram.size())
        throw std::invalid_argument("malformed datagram");
    std::size_t step = std::max<std::size_t>(8, payloadPerFragment / 8 * 8);
    std::uint16_t flagsAndOffset = Get16(datagram, 6);
    bool lastMore = flagsAndOffset & 0x2000;
    std::size_t baseOffset = (flagsAndOffset & 0x1FFFu) * 8;

    Bytes firstOptions(datagram.begin() + 20, datagram.begin() + static_cast<long>(headerLength));
    Bytes laterOptions = CopiedOptions(firstOptions.data(), firstOptions.size());

    std::vector<Bytes> fragments;
    std::size_t payloadLength = totalLength - headerLength;
    for (std::size_t at = 0; at < payloadLength || (at == 0 && payloadLength == 0); at += step) {
        std::size_t size = std::min(step, payloadLength - at);
        const Bytes& options = at == 0 ? firstOptions : laterOptions;
        std::size_t fragmentHeader = 20 + options.size();
        Bytes out(fragmentHeader + size);
        std::copy(datagram.begin(), datagram.begin() + 20, out.begin());
        std::copy(options.begin(), options.end(), out.begin() + 20);
        auto from = datagram.begin() + static_cast<long>(headerLength + at);
        std::copy(from, from + static_cast<long>(size),
                  out.begin() + static_cast<long>(fragmentHeader));
        out[0] = static_cast<std::uint8_t>((out[0] & 0xF0) | fragmentHeader / 4);
        Put16(out, 2, static_cast<std::uint16_t>(out.size()));
        bool more = at + size < payloadLength || lastMore;
        std::uint16_t flags =
            static_cast<std::uint16_t>((flagsAndOffset & 0xC000) | (more ? 0x2000 : 0));
        Put16(out, 6, static_cast<std::uint16_t>(flags | ((baseOffset + at) / 8 & 0x1FFF)));
        Put16(out, 10, 0);
        Put16(out, 10, InternetChecksum(out.data(), fragmentHeader));
        fragments.push_back(std::move(out));
        if (payloadLength == 0)
            break;
    }
    return fragments;
}

CIpv6Extension FragmentHeader(std::uint32_t offset, bool more, std::uint32_t identification)
{
    Bytes body(6, 0);
    Put16(body, 0, static_cast<std::uint16_t>((offset & 0xFFF8) | (more ? 1 : 0)));
    Put32(body, 2, identification);
    return {kIpv6Fragment, body};
}

Bytes BuildIpv6(const CIpv6Fields& ip, std::uint8_t nextHeader, const Bytes& payload)
{
    Bytes out(40, 0);
    out[0] = static_cast<std::uint8_t>(0x60 | ip.trafficClass >> 4);
    out[1] = static_cast<std::uint8_t>(ip.trafficClass << 4 | ((ip.flowLabel >> 16) & 0x0F));
    Put16(out, 2, static_cast<std::uint16_t>(ip.flowLabel));
    out[7] = ip.hopLimit;
    std::copy(ip.source.begin(), ip.source.end(), out.begin() + 8);
    std::copy(ip.destination.begin(), ip.destination.end(), out.begin() + 24);
    std::size_t nextAt = 6;
    for (const CIpv6Extension& extension : ip.extensions) {
        out[nextAt] = extension.type;
        nextAt = out.size();
        Bytes header(2, 0);
        header.insert(header.end(), extension.body.begin(), extension.body.end());
        if (extension.type == kIpv6Fragment) {
            header.resize(8, 0);
        } else if (extension.type == kIpv6Authentication) {
            header.resize(std::max<std::size_t>(12, (header.size() + 3) / 4 * 4), 0);
            header[1] = static_cast<std::uint8_t>(header.size() / 4 - 2);
        } else {
            header.resize((header.size() + 7) / 8 * 8, 0);
            header[1] = static_cast<std::uint8_t>(header.size() / 8 - 1);
        }
        out.insert(out.end(), header.begin(), header.end());
    }
    out[nextAt] = nextHeader;
    out.insert(out.end(), payload.begin(), payload.end());
    if (out.size() - 40 > 0xFFFF)
        throw std::length_error("datagram too large");
    Put16(out, 4, static_cast<std::uint16_t>(out.size() - 40));
    return out;
}

Bytes BuildTcp6(const CTcpFields& tcp, const Bytes& payload, const Address6& source,
                const Address6& destination)
{
    // The IPv4 pseudo header's sum is taken away again and the IPv6 one's
    // put in its place, so the header is built once.
    Bytes out = BuildTcp(tcp, payload, Address{}, Address{});
    Put16(out, 16, 0);
    Bytes pseudo(40, 0);
    std::copy(source.begin(), source.end(), pseudo.begin());
    std::copy(destination.begin(), destination.end(), pseudo.begin() + 16);
    Put32(pseudo, 32, static_cast<std::uint32_t>(out.size()));
    pseudo[39] = kIpProtocolTcp;
    std::uint32_t sum = SumWords(pseudo.data(), pseudo.size(), 0);
    Put16(out, 16, Fold(SumWords(out.data(), out.size(), sum)));
    return out;
}

Bytes BuildTcpDatagram6(const CIpv6Fields& ip, const CTcpFields& tcp, const Bytes& payload)
{
    return BuildIpv6(ip, kIpProtocolTcp, BuildTcp6(tcp, payload, ip.source, ip.destination));
}

std::vector<Bytes> SplitIntoFragments6(const Bytes& datagram, std::size_t payloadPerFragment,
                                       std::uint32_t identification)
{
    if (datagram.size() < 40 || (datagram[0] >> 4) != 6)
        throw std::invalid_argument("not an IPv6 datagram");
    // The unfragmentable part ends after the last hop-by-hop or routing
    // header; nextAt is the byte that names what follows it.
    std::size_t at = 40;
    std::size_t nextAt = 6;
    std::size_t unfragmentable = 40;
    std::size_t unfragmentableNextAt = 6;
    std::uint8_t next = datagram[6];
    while (next == kIpv6HopByHop || next == kIpv6Routing || next == kIpv6DestinationOptions) {
        std::size_t length = (datagram[at + 1] + 1u) * 8;
        std::uint8_t type = next;
        next = datagram[at];
        nextAt = at;
        at += length;
        if (type != kIpv6DestinationOptions) {
            unfragmentable = at;
            unfragmentableNextAt = nextAt;
        }
    }
    std::uint8_t fragmentable = datagram[unfragmentableNextAt];
    std::size_t step = std::max<std::size_t>(8, payloadPerFragment / 8 * 8);
    std::size_t rest = datagram.size() - unfragmentable;
    std::vector<Bytes> fragments;
    for (std::size_t offset = 0; offset < rest; offset += step) {
        std::size_t size = std::min(step, rest - offset);
        Bytes out(datagram.begin(), datagram.begin() + static_cast<long>(unfragmentable));
        out[unfragmentableNextAt] = kIpv6Fragment;
        CIpv6Extension header = FragmentHeader(static_cast<std::uint32_t>(offset),
                                               offset + size < rest, identification);
        out.push_back(fragmentable);
        out.push_back(0);
        out.insert(out.end(), header.body.begin(), header.body.end());
        auto from = datagram.begin() + static_cast<long>(unfragmentable + offset);
        out.insert(out.end(), from, from + static_cast<long>(size));
        Put16(out, 4, static_cast<std::uint16_t>(out.size() - 40));
        fragments.push_back(std::move(out));
    }
    return fragments;
}

CTcpFlowBuilder::CTcpFlowBuilder(const Address6& source, std::uint16_t sourcePort,
                                 const Address6& destination, std::uint16_t destinationPort,
                                 std::uint32_t initialSequence)
    : m_ipv6(true), m_initial(initialSequence), m_next(initialSequence + 1)
{
    m_ip6.source = source;
    m_ip6.destination = destination;
    m_tcp.sourcePort = sourcePort;
    m_tcp.destinationPort = destinationPort;
}

CTcpFlowBuilder::CTcpFlowBuilder(const Address& source, std::uint16_t sourcePort,
                                 const Address& destination, std::uint16_t destinationPort,
                                 std::uint32_t initialSequence)
    : m_initial(initialSequence), m_next(initialSequence + 1)
{
    m_ip.source = source;
    m_ip.destination = destination;
    m_tcp.sourcePort = sourcePort;
    m_tcp.destinationPort = destinationPort;
}

Bytes CTcpFlowBuilder::Syn(bool ack, const Bytes& payload)
{
    m_next = m_initial + 1;
    return Segment(m_initial, payload, static_cast<std::uint8_t>(kTcpSyn | (ack ? kTcpAck : 0)));
}

Bytes CTcpFlowBuilder::Data(const Bytes& payload, std::uint8_t flags)
{
    Bytes out = Segment(m_next, payload, flags);
    m_next += static_cast<std::uint32_t>(payload.size());
    return out;
}

Bytes CTcpFlowBuilder::Segment(std::uint32_t sequence, const Bytes& payload, std::uint8_t flags)
{
    CTcpFields tcp = m_tcp;
    tcp.sequence = sequence;
    tcp.flags = flags;
    Bytes out =
        m_ipv6 ? BuildTcpDatagram6(m_ip6, tcp, payload) : BuildTcpDatagram(m_ip, tcp, payload);
    ++m_ip.identification;
    return out;
}

} // namespace zk::test
