// The HPACK decoder on blocks made by the same library's encoder.

#include "platform/hpack_decoder.h"
#include "support/http2_frames.h"

#include <gtest/gtest.h>
#include <string>

namespace zk {
namespace {

using test::CHeaderFields;
using test::CHttp2ServerFrames;

std::string Decoded(CHpackDecoder& decoder, const test::Bytes& block, bool& ok)
{
    std::string text;
    auto onField = [&](std::string_view name, std::string_view value) {
        text += std::string(name) + ": " + std::string(value) + "\n";
    };
    ok = decoder.Decode(block.data(), block.size(), onField);
    return text;
}

const CHeaderFields kFirst{{":status", "200"}, {"content-type", "text/html"}, {"x-big", "v1"}};
const CHeaderFields kSecond{{":status", "200"}, {"content-type", "text/html"}, {"x-big", "v2"}};

TEST(HpackDecoder, CarriesTheTableFromBlockToBlock)
{
    CHttp2ServerFrames encoder;
    auto decoder = CHpackDecoder::Create(64 * 1024);
    ASSERT_TRUE(decoder);
    test::Bytes first = encoder.Block(kFirst);
    test::Bytes second = encoder.Block(kFirst);
    // The second block only refers to the table.
    EXPECT_LT(second.size(), first.size());
    bool ok = false;
    EXPECT_EQ(Decoded(*decoder, first, ok), ":status: 200\ncontent-type: text/html\nx-big: v1\n");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Decoded(*decoder, second, ok), ":status: 200\ncontent-type: text/html\nx-big: v1\n");
    EXPECT_TRUE(ok);
    EXPECT_GT(decoder->MemoryBytes(), 0u);
}

TEST(HpackDecoder, AMissedBlockBreaksTheDecoderForGood)
{
    CHttp2ServerFrames encoder;
    auto decoder = CHpackDecoder::Create(64 * 1024);
    ASSERT_TRUE(decoder);
    encoder.Block(kFirst); // never seen: its entries are not in the table
    test::Bytes refers = encoder.Block(kFirst);
    bool ok = true;
    Decoded(*decoder, refers, ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(decoder->IsBroken());
    EXPECT_EQ(decoder->MemoryBytes(), 0u);
    // A block that stands on its own fails too.
    CHttp2ServerFrames fresh;
    Decoded(*decoder, fresh.Block(kSecond), ok);
    EXPECT_FALSE(ok);
}

TEST(HpackDecoder, FollowsSizeUpdatesUpToTheAllowedTable)
{
    CHttp2ServerFrames encoder(CHpackDecoder::kMaxTableBytes);
    auto decoder = CHpackDecoder::Create(256 * 1024);
    ASSERT_TRUE(decoder);
    encoder.ChangeTableSize(CHpackDecoder::kMaxTableBytes);
    bool ok = false;
    Decoded(*decoder, encoder.Block(kFirst), ok);
    EXPECT_TRUE(ok);
    encoder.ChangeTableSize(0);
    Decoded(*decoder, encoder.Block(kSecond), ok);
    EXPECT_TRUE(ok);

    CHttp2ServerFrames larger(2 * CHpackDecoder::kMaxTableBytes);
    larger.ChangeTableSize(2 * CHpackDecoder::kMaxTableBytes);
    auto other = CHpackDecoder::Create(256 * 1024);
    Decoded(*other, larger.Block(kFirst), ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(other->IsBroken());
}

TEST(HpackDecoder, ATableBeyondTheMemoryLimitFails)
{
    EXPECT_FALSE(CHpackDecoder::Create(16));
    CHttp2ServerFrames encoder(CHpackDecoder::kMaxTableBytes);
    encoder.ChangeTableSize(CHpackDecoder::kMaxTableBytes);
    auto decoder = CHpackDecoder::Create(8 * 1024);
    ASSERT_TRUE(decoder);
    bool ok = true;
    for (int i = 0; i < 16 && ok; ++i)
        Decoded(*decoder, encoder.Block({{"x-filler", std::string(2000, 'a' + i)}}), ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(decoder->MemoryBytes(), 0u);
}

} // namespace
} // namespace zk
