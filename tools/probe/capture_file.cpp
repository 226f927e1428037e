#include "probe/capture_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <pcap/pcap.h>
#include <string>
#include <vector>

namespace zk {
namespace {

// Link types as libpcap reports them. Raw IP has two old values (12 on most
// systems, 14 on some BSDs) besides the file value 101, which libpcap maps to
// its own DLT_RAW.
constexpr int kLinkNull = 0;
constexpr int kLinkEthernet = 1;
constexpr int kLinkRaw12 = 12;
constexpr int kLinkRaw14 = 14;
constexpr int kLinkRaw = 101;
constexpr int kLinkLoop = 108;
constexpr int kLinkLinuxSll = 113;
constexpr int kLinkIpv4 = 228;
constexpr int kLinkIpv6 = 229;
constexpr int kLinkLinuxSll2 = 276;

constexpr std::size_t kEthernetHeaderBytes = 14;
constexpr std::size_t kVlanTagBytes = 4;
constexpr std::size_t kLinuxSllHeaderBytes = 16;
constexpr std::size_t kLinuxSll2HeaderBytes = 20;
constexpr std::size_t kLoopbackHeaderBytes = 4;
constexpr std::size_t kIpv4MinimumHeaderBytes = 20;
constexpr std::size_t kIpv6HeaderBytes = 40;

// libpcap reads a file through stdio, whose default buffer of a few KiB
// costs a system call every few packets; with this one the reading of a
// large capture costs next to nothing beside the decoding.
constexpr std::size_t kReadBufferBytes = 1024 * 1024;

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeIpv6 = 0x86DD;
constexpr std::uint16_t kEtherTypeVlan = 0x8100; // IEEE 802.1Q
constexpr std::uint16_t kEtherTypeQinQ = 0x88A8; // IEEE 802.1ad
constexpr std::uint32_t kFamilyInet = 2;

std::uint16_t ReadBig16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t ReadBig32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint32_t ReadLittle32(const std::uint8_t* p)
{
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

bool IsKnownLinkType(int linkType)
{
    switch (linkType) {
    case kLinkNull:
    case kLinkEthernet:
    case kLinkRaw12:
    case kLinkRaw14:
    case kLinkRaw:
    case kLinkLoop:
    case kLinkLinuxSll:
    case kLinkIpv4:
    case kLinkIpv6:
    case kLinkLinuxSll2:
        return true;
    default:
        return false;
    }
}

// The IP version an ether type declares, or 0 for anything else.
int VersionOfEtherType(std::uint16_t type)
{
    return type == kEtherTypeIpv4 ? 4 : type == kEtherTypeIpv6 ? 6 : 0;
}

// Where the network header of a frame starts and the IP version its link
// header declares (0: raw IP, where the version nibble decides), or false
// when the frame does not carry IP. The loopback types are read for IPv4
// only: their IPv6 family value differs from one system to the next.
bool FindIp(int linkType, const std::uint8_t* frame, std::size_t length, std::size_t& offset,
            int& version)
{
    version = 4;
    switch (linkType) {
    case kLinkEthernet: {
        if (length < kEthernetHeaderBytes)
            return false;
        std::size_t typeAt = 12;
        std::uint16_t type = ReadBig16(frame + typeAt);
        while (type == kEtherTypeVlan || type == kEtherTypeQinQ) {
            typeAt += kVlanTagBytes;
            if (typeAt + 2 > length)
                return false;
            type = ReadBig16(frame + typeAt);
        }
        offset = typeAt + 2;
        version = VersionOfEtherType(type);
        return version != 0;
    }
    case kLinkLinuxSll:
        if (length < kLinuxSllHeaderBytes)
            return false;
        offset = kLinuxSllHeaderBytes;
        version = VersionOfEtherType(ReadBig16(frame + 14));
        return version != 0;
    case kLinkLinuxSll2:
        if (length < kLinuxSll2HeaderBytes)
            return false;
        offset = kLinuxSll2HeaderBytes;
        version = VersionOfEtherType(ReadBig16(frame));
        return version != 0;
    case kLinkNull:
        // The family is in the byte order of the machine that captured.
        if (length < kLoopbackHeaderBytes)
            return false;
        offset = kLoopbackHeaderBytes;
        return ReadLittle32(frame) == kFamilyInet || ReadBig32(frame) == kFamilyInet;
    case kLinkLoop:
        if (length < kLoopbackHeaderBytes)
            return false;
        offset = kLoopbackHeaderBytes;
        return ReadBig32(frame) == kFamilyInet;
    case kLinkIpv4:
        offset = 0;
        return true;
    case kLinkIpv6:
        offset = 0;
        version = 6;
        return true;
    default: // raw IP of either version
        offset = 0;
        version = 0;
        return true;
    }
}

struct CPcapCloser
{
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};

} // namespace

bool ReadCaptureFile(const std::string& path,
                     const std::function<void(const std::uint8_t* ip, std::size_t length,
                                              std::uint64_t timeMs)>& each,
                     std::string& error)
{
    // The buffer outlives the handle, whose closing closes the file.
    std::vector<char> buffer(kReadBufferBytes);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    char message[PCAP_ERRBUF_SIZE] = {};
    std::unique_ptr<pcap_t, CPcapCloser> handle(pcap_fopen_offline(file, message));
    if (!handle) {
        std::fclose(file);
        error = message;
        return false;
    }
    int linkType = pcap_datalink(handle.get());
    if (!IsKnownLinkType(linkType)) {
        const char* name = pcap_datalink_val_to_name(linkType);
        error = "unsupported link type " + std::to_string(linkType);
        if (name)
            error += std::string(" (") + name + ")";
        return false;
    }

    for (;;) {
        pcap_pkthdr* header = nullptr;
        const u_char* frame = nullptr;
        int result = pcap_next_ex(handle.get(), &header, &frame);
        if (result == PCAP_ERROR_BREAK)
            return true; // end of the file
        if (result != 1) {
            error = pcap_geterr(handle.get());
            return false;
        }

        std::size_t offset = 0;
        std::size_t length = header->caplen;
        int declared = 0;
        if (!FindIp(linkType, frame, length, offset, declared) ||
            length - offset < kIpv4MinimumHeaderBytes)
            continue;
        const std::uint8_t* ip = frame + offset;
        length -= offset;
        // A datagram of another version than its link header declares is
        // skipped; the decoder would read it by its own version nibble.
        int version = ip[0] >> 4;
        if (declared != 0 && version != declared)
            continue;
        // Ethernet pads short frames; the raw socket delivers the datagram
        // alone, so anything after its total length is cut off. A length
        // that does not fit is left for the IP layer to judge.
        if (version == 4) {
            std::size_t totalLength = ReadBig16(ip + 2);
            if (totalLength >= kIpv4MinimumHeaderBytes && totalLength < length)
                length = totalLength;
        } else if (version == 6) {
            if (length < kIpv6HeaderBytes)
                continue;
            std::size_t payloadLength = ReadBig16(ip + 4);
            if (payloadLength > 0 && kIpv6HeaderBytes + payloadLength < length)
                length = kIpv6HeaderBytes + payloadLength;
        } else {
            continue;
        }

        std::uint64_t timeMs =
            std::uint64_t(header->ts.tv_sec) * 1000 + std::uint64_t(header->ts.tv_usec) / 1000;
        each(ip, length, timeMs);
    }
}

} // namespace zk
