// The capture stream's reader on streams made here, whole and in pieces.

#include "platform/pcapng_reader.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zk {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct CRecorder : CPcapngReader::CHandler
{
    int interfaces = 0;
    std::vector<std::string> datagrams;
    std::vector<std::uint64_t> drops;
    void OnInterface() override { ++interfaces; }
    void OnDatagram(const std::uint8_t* data, std::size_t length) override
    {
        datagrams.emplace_back(reinterpret_cast<const char*>(data), length);
    }
    void OnDrops(std::uint64_t total) override { drops.push_back(total); }
};

// Blocks in either byte order.
class CStream
{
public:
    explicit CStream(bool swapped = false) : m_swapped(swapped) {}
    void Put32(std::uint32_t v) { Put(m_swapped ? __builtin_bswap32(v) : v); }
    void Put16(std::uint16_t v) { Put(m_swapped ? __builtin_bswap16(v) : v); }
    template <class T> void Put(T v)
    {
        auto* p = reinterpret_cast<const std::uint8_t*>(&v);
        bytes.insert(bytes.end(), p, p + sizeof v);
    }
    void Header(std::uint16_t linkType = 101)
    {
        Put32(0x0A0D0D0A), Put32(28), Put32(0x1A2B3C4D), Put16(1), Put16(0);
        Put32(0xFFFFFFFF), Put32(0xFFFFFFFF), Put32(28);
        Put32(1), Put32(20), Put16(linkType), Put16(0), Put32(0), Put32(20);
    }
    void Packet(const std::string& data, std::uint32_t original = 0)
    {
        std::uint32_t padded = (data.size() + 3) & ~3u;
        std::uint32_t total = 32 + padded;
        Put32(6), Put32(total), Put32(0), Put32(0), Put32(0);
        Put32(static_cast<std::uint32_t>(data.size()));
        Put32(original ? original : static_cast<std::uint32_t>(data.size()));
        bytes.insert(bytes.end(), data.begin(), data.end());
        bytes.insert(bytes.end(), padded - data.size(), 0);
        Put32(total);
    }
    void Drops(std::uint64_t drops)
    {
        Put32(5), Put32(40), Put32(0), Put32(0), Put32(0);
        Put16(5), Put16(8);
        Put(m_swapped ? __builtin_bswap64(drops) : drops);
        Put32(0), Put32(40);
    }
    Bytes bytes;

private:
    bool m_swapped;
};

CStream Example(bool swapped)
{
    CStream stream(swapped);
    stream.Header();
    stream.Packet("E-first");
    stream.Drops(3);
    stream.Put32(0x0BAD), stream.Put32(16), stream.Put32(0), stream.Put32(16); // unknown kind
    stream.Packet(std::string(3000, 'x'));
    stream.Packet("E-cut", 900); // cut short: not handed on
    stream.Drops(7);
    stream.Packet("E-last");
    return stream;
}

void ExpectExample(const CRecorder& got)
{
    EXPECT_EQ(got.interfaces, 1);
    EXPECT_EQ(got.datagrams,
              (std::vector<std::string>{"E-first", std::string(3000, 'x'), "E-last"}));
    EXPECT_EQ(got.drops, (std::vector<std::uint64_t>{3, 7}));
}

TEST(PcapngReader, ReadsTheStreamWholeByteByByteAndInEveryByteOrder)
{
    for (bool swapped : {false, true}) {
        SCOPED_TRACE(swapped ? "swapped" : "native");
        Bytes bytes = Example(swapped).bytes;
        for (std::size_t piece : {bytes.size(), std::size_t{1}, std::size_t{7}, std::size_t{29}}) {
            SCOPED_TRACE(piece);
            CRecorder got;
            CPcapngReader reader;
            for (std::size_t at = 0; at < bytes.size(); at += piece)
                ASSERT_TRUE(
                    reader.Feed(bytes.data() + at, std::min(piece, bytes.size() - at), got));
            ExpectExample(got);
            EXPECT_FALSE(reader.HasPartialBlock());
        }
    }
}

TEST(PcapngReader, AStreamThatIsNotOneStopsTheReaderForGood)
{
    auto fails = [](const Bytes& bytes) {
        CRecorder got;
        CPcapngReader reader;
        bool fed = reader.Feed(bytes.data(), bytes.size(), got);
        Bytes more = Example(false).bytes;
        return !fed && reader.Failed() && !reader.Feed(more.data(), more.size(), got) &&
               got.datagrams.empty();
    };
    CStream noHeader;
    noHeader.Packet("E");
    EXPECT_TRUE(fails(noHeader.bytes));
    CStream ethernet;
    ethernet.Header(1);
    ethernet.Packet("E");
    EXPECT_TRUE(fails(ethernet.bytes));
    CStream badTrailer = Example(false);
    badTrailer.bytes[48 + 36] ^= 1; // the first packet's trailing length
    EXPECT_TRUE(fails(badTrailer.bytes));
    CStream tooLong;
    tooLong.Header();
    tooLong.Packet(std::string(20, 'y'));
    std::uint32_t huge = 1u << 30;
    std::memcpy(tooLong.bytes.data() + 48 + 4, &huge, 4);
    EXPECT_TRUE(fails(tooLong.bytes));
    CStream beyond;
    beyond.Header();
    beyond.Packet("E-e");
    std::uint32_t captured = 200; // more than its block holds
    std::memcpy(beyond.bytes.data() + 48 + 20, &captured, 4);
    EXPECT_TRUE(fails(beyond.bytes));
}

TEST(PcapngReader, KeepsOnlyTheUnfinishedBlockBack)
{
    Bytes bytes = Example(false).bytes;
    CRecorder got;
    CPcapngReader reader;
    ASSERT_TRUE(reader.Feed(bytes.data(), 28 + 20 + 10, got));
    EXPECT_EQ(got.interfaces, 1);
    EXPECT_TRUE(reader.HasPartialBlock());
    ASSERT_TRUE(reader.Feed(bytes.data() + 58, bytes.size() - 58, got));
    ExpectExample(got);
    EXPECT_FALSE(reader.HasPartialBlock());
}

} // namespace
} // namespace zk
