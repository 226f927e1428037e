#include "platform/pcapng_reader.h"

#include "platform/pcapng_format.h"

#include <algorithm>
#include <cstring>

namespace zk {

using namespace pcapng;

namespace {

std::uint32_t Raw32(const std::uint8_t* at)
{
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

} // namespace

std::uint16_t CPcapngReader::Get16(const std::uint8_t* at) const
{
    std::uint16_t value;
    std::memcpy(&value, at, sizeof value);
    return m_swapped ? __builtin_bswap16(value) : value;
}

std::uint32_t CPcapngReader::Get32(const std::uint8_t* at) const
{
    std::uint32_t value = Raw32(at);
    return m_swapped ? __builtin_bswap32(value) : value;
}

std::uint64_t CPcapngReader::Get64(const std::uint8_t* at) const
{
    std::uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return m_swapped ? __builtin_bswap64(value) : value;
}

std::size_t CPcapngReader::Needed(const std::uint8_t* data, std::size_t have, bool& known) const
{
    known = false;
    if (have < 8)
        return 8;
    std::uint32_t length = 0;
    // The section header's type reads the same in both byte orders; its
    // magic tells the order of everything after it, its own length too.
    if (Raw32(data) == kSectionHeader) {
        if (have < 12)
            return 12;
        std::uint32_t magic = Raw32(data + 8);
        length = Raw32(data + 4);
        if (magic == __builtin_bswap32(kByteOrderMagic))
            length = __builtin_bswap32(length);
        else if (magic != kByteOrderMagic)
            return 0;
    } else {
        length = Get32(data + 4);
    }
    if (length < kBlockFrameBytes || length % 4 != 0 || length > kMaxBlockBytes)
        return 0;
    known = true;
    return length;
}

bool CPcapngReader::Feed(const std::uint8_t* data, std::size_t length, CHandler& handler)
{
    if (m_failed)
        return false;
    m_handler = &handler;
    // First the block held back, completed from the new bytes.
    while (!m_pending.empty() && length > 0) {
        bool known = false;
        std::size_t need = Needed(m_pending.data(), m_pending.size(), known);
        if (need == 0) {
            m_failed = true;
            return false;
        }
        if (need > m_pending.size()) {
            std::size_t take = std::min(need - m_pending.size(), length);
            m_pending.insert(m_pending.end(), data, data + take);
            data += take;
            length -= take;
        }
        if (known && m_pending.size() == need) {
            bool taken = TakeBlock(m_pending.data(), m_pending.size());
            m_pending.clear();
            if (!taken) {
                m_failed = true;
                return false;
            }
        }
    }
    std::size_t taken = TakeBlocks(data, length);
    if (m_failed)
        return false;
    m_pending.insert(m_pending.end(), data + taken, data + length);
    return true;
}

std::size_t CPcapngReader::TakeBlocks(const std::uint8_t* data, std::size_t length)
{
    std::size_t at = 0;
    while (at < length) {
        bool known = false;
        std::size_t need = Needed(data + at, length - at, known);
        if (need == 0) {
            m_failed = true;
            return at;
        }
        if (!known || need > length - at)
            break;
        if (!TakeBlock(data + at, need)) {
            m_failed = true;
            return at;
        }
        at += need;
    }
    return at;
}

bool CPcapngReader::TakeBlock(const std::uint8_t* block, std::size_t length)
{
    if (Raw32(block) == kSectionHeader)
        return TakeSectionHeader(block, length);
    // Every block after the first belongs to a section.
    if (!m_inSection || Get32(block + length - 4) != length)
        return false;
    switch (Get32(block)) {
    case kInterfaceDescription:
        return TakeInterface(block, length);
    case kEnhancedPacket:
        return TakePacket(block, length);
    case kInterfaceStatistics:
        TakeStatistics(block, length);
        return true;
    default:
        return true; // a block of a kind the capture does not need
    }
}

bool CPcapngReader::TakeSectionHeader(const std::uint8_t* block, std::size_t length)
{
    if (length < 28)
        return false;
    m_swapped = Raw32(block + 8) != kByteOrderMagic;
    if (Get32(block + length - 4) != length || Get16(block + 12) != kMajorVersion)
        return false;
    // A new section describes its interfaces afresh.
    m_inSection = true;
    m_interfaces = 0;
    return true;
}

bool CPcapngReader::TakeInterface(const std::uint8_t* block, std::size_t length)
{
    // Only raw IP is taken: the capture hands on datagrams, not frames.
    if (length < kBlockFrameBytes + 8 || Get16(block + 8) != kLinkTypeRawIp)
        return false;
    ++m_interfaces;
    m_handler->OnInterface();
    return true;
}

bool CPcapngReader::TakePacket(const std::uint8_t* block, std::size_t length)
{
    constexpr std::size_t kDataAt = 8 + kEnhancedPacketFields;
    if (length < kBlockFrameBytes + kEnhancedPacketFields)
        return false;
    std::uint32_t interface = Get32(block + 8);
    std::uint32_t captured = Get32(block + 20);
    std::uint32_t original = Get32(block + 24);
    if (interface >= m_interfaces || captured > length - kBlockFrameBytes - kEnhancedPacketFields)
        return false;
    // A datagram cut short would be passed on as something it is not.
    if (captured == original)
        m_handler->OnDatagram(block + kDataAt, captured);
    return true;
}

void CPcapngReader::TakeStatistics(const std::uint8_t* block, std::size_t length)
{
    // Options follow the interface id and the time, up to the trailing length.
    std::size_t at = 20;
    while (at + 4 <= length - 4) {
        std::uint16_t code = Get16(block + at);
        std::uint16_t size = Get16(block + at + 2);
        at += 4;
        if (code == kOptionEnd || at + size > length - 4)
            return;
        if (code == kOptionInterfaceDrops && size == 8)
            m_handler->OnDrops(Get64(block + at));
        at += Padded(size);
    }
}

} // namespace zk
