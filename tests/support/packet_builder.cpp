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
    Bytes out = BuildTcpDatagram(m_ip, tcp, payload);
    ++m_ip.identification;
    return out;
}

} // namespace zk::test
