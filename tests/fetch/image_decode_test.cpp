// Decoding avatar files: an image's size is read from its header, and one
// beyond the pixel limit is refused before anything is decoded.

#include "fetch/image.h"
#include "platform/image_codec.h"
#include "support/black_png.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zk {
namespace {

using test::BlackPng;

TEST(ImageDecode, AnImageBeyondThePixelLimitIsRefusedFromItsHeader)
{
    // 5792 × 5792 takes 128 MiB decoded, from a file of a few kilobytes.
    std::string huge = BlackPng(5792, 5792);
    ASSERT_LT(huge.size(), 200u * 1024);
    int width = -1;
    int height = -1;
    std::vector<std::uint32_t> pixels;
    EXPECT_EQ(DecodeImageArgb(reinterpret_cast<const std::uint8_t*>(huge.data()), huge.size(),
                              width, height, pixels),
              CDecodeStatus::TooLarge);
    EXPECT_EQ(width, 0);
    EXPECT_TRUE(pixels.empty());
    EXPECT_FALSE(DecodeImage(reinterpret_cast<const std::uint8_t*>(huge.data()), huge.size()));

    // One row more than the limit allows, and the limit itself.
    std::string over = BlackPng(2048, 2049);
    EXPECT_EQ(DecodeImageArgb(reinterpret_cast<const std::uint8_t*>(over.data()), over.size(),
                              width, height, pixels),
              CDecodeStatus::TooLarge);
    std::string limit = BlackPng(2048, 2048);
    ASSERT_EQ(DecodeImageArgb(reinterpret_cast<const std::uint8_t*>(limit.data()), limit.size(),
                              width, height, pixels),
              CDecodeStatus::Ok);
    EXPECT_EQ(width, 2048);
    EXPECT_EQ(height, 2048);
    ASSERT_EQ(pixels.size(), 2048u * 2048u);
    EXPECT_EQ(pixels[0], 0xFF000000u);
    EXPECT_EQ(pixels.back(), 0xFF000000u);
}

} // namespace
} // namespace zk
