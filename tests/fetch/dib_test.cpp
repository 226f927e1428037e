#include "fetch/dib.h"
#include "fetch/image.h"

#include <cstring>
#include <gtest/gtest.h>

namespace zk {
namespace {

std::uint32_t PixelAt(const CDib& dib, int x, int y)
{
    std::uint32_t value;
    std::memcpy(&value, dib.GetRow(y) + 4 * x, 4);
    return value;
}

TEST(DibSizeRules, RowsArePaddedToFourBytes)
{
    EXPECT_EQ(CDib::StrideOf(1, 24), 4u);
    EXPECT_EQ(CDib::StrideOf(3, 24), 12u);
    EXPECT_EQ(CDib::StrideOf(5, 8), 8u);
    EXPECT_EQ(CDib::StrideOf(1, 1), 4u);
    EXPECT_EQ(CDib::StrideOf(33, 1), 8u);
    EXPECT_EQ(CDib::StrideOf(3, 16), 8u);
    EXPECT_EQ(CDib::StrideOf(7, 32), 28u);
}

TEST(DibSizeRules, ImageSizeComesFromTheHeaderOnlyWhenCompressed)
{
    BITMAPINFOHEADER header{};
    header.biWidth = 3;
    header.biHeight = 5;
    header.biBitCount = 24;
    header.biSizeImage = 7;
    EXPECT_EQ(CDib::ImageSizeOf(header), 12u * 5);
    header.biCompression = BI_BITFIELDS;
    EXPECT_EQ(CDib::ImageSizeOf(header), 7u);
}

TEST(DibSizeRules, ColourCountFollowsDepthAndCompression)
{
    BITMAPINFOHEADER header{};
    header.biBitCount = 8;
    EXPECT_EQ(CDib::ColorCountOf(header), 256);
    header.biClrUsed = 16;
    EXPECT_EQ(CDib::ColorCountOf(header), 16);
    header.biBitCount = 24;
    EXPECT_EQ(CDib::ColorCountOf(header), 0);
    header.biBitCount = 1;
    header.biClrUsed = 0;
    EXPECT_EQ(CDib::ColorCountOf(header), 2);
    header.biBitCount = 32;
    header.biCompression = BI_BITFIELDS;
    EXPECT_EQ(CDib::ColorCountOf(header), 3);
}

TEST(DibCreate, FillsTheHeaderAndLeavesTheBitsToAllocBits)
{
    CDib dib;
    ASSERT_TRUE(dib.Create(38, 38, 32));
    const BITMAPINFOHEADER* header = dib.GetHeader();
    EXPECT_EQ(header->biSize, 40u);
    EXPECT_EQ(header->biWidth, 38);
    EXPECT_EQ(header->biHeight, 38);
    EXPECT_EQ(header->biPlanes, 1);
    EXPECT_EQ(header->biBitCount, 32);
    EXPECT_EQ(header->biCompression, BI_RGB);
    EXPECT_EQ(dib.GetStride(), 38u * 4);
    EXPECT_EQ(dib.GetImageSize(), 38u * 4 * 38);
    EXPECT_FALSE(dib.HasBits());
    ASSERT_TRUE(dib.AllocBits());
    EXPECT_TRUE(dib.HasBits());
}

TEST(DibCreate, AnEightBitBitmapOf256ColoursGetsAGreyPalette)
{
    CDib dib;
    ASSERT_TRUE(dib.Create(4, 4, 8, 256));
    ASSERT_EQ(dib.GetColorCount(), 256);
    const RGBQUAD* table = dib.GetColorTable();
    for (int i : {0, 1, 128, 255}) {
        EXPECT_EQ(table[i].rgbBlue, i);
        EXPECT_EQ(table[i].rgbGreen, i);
        EXPECT_EQ(table[i].rgbRed, i);
        EXPECT_EQ(table[i].rgbReserved, 255);
    }
    EXPECT_EQ(dib.GetHeader()->biClrUsed, 256u);

    CDib sixteen;
    ASSERT_TRUE(sixteen.Create(4, 4, 8, 16));
    EXPECT_EQ(sixteen.GetColorCount(), 16);
    EXPECT_EQ(sixteen.GetColorTable()[15].rgbRed, 0); // zeroed, no palette
}

TEST(DibCreate, RefusesImpossibleShapes)
{
    CDib dib;
    EXPECT_FALSE(dib.Create(-1, 4, 32));
    EXPECT_FALSE(dib.Create(4, 4, 0));
    EXPECT_FALSE(dib.Create(1 << 30, 1 << 30, 32));
    EXPECT_FALSE(dib.HasHeader());
}

TEST(DibCreateV5, TagsTheColourSpaceAndPlacesTheProfileAfterTheTable)
{
    CDib plain;
    ASSERT_TRUE(plain.CreateV5(10, 4, 32, 0, BI_BITFIELDS, 0));
    BITMAPV5HEADER v5{};
    std::memcpy(&v5, plain.GetInfo(), sizeof(v5));
    EXPECT_EQ(v5.bV5Size, 124u);
    EXPECT_EQ(v5.bV5CSType, LCS_sRGB);
    EXPECT_EQ(v5.bV5SizeImage, 10u * 4 * 4);
    EXPECT_EQ(plain.GetColorCount(), 3);

    CDib profiled;
    ASSERT_TRUE(profiled.CreateV5(2, 2, 8, 0, BI_RGB, 100));
    std::memcpy(&v5, profiled.GetInfo(), sizeof(v5));
    EXPECT_EQ(v5.bV5CSType, PROFILE_EMBEDDED);
    EXPECT_EQ(v5.bV5ProfileData, 124u + 256 * 4);
    EXPECT_EQ(v5.bV5ProfileSize, 100u);
    EXPECT_EQ(v5.bV5SizeImage, 0u);
}

TEST(DibCreateFromHeader, CopiesHeaderAndColourTable)
{
    CDib source;
    ASSERT_TRUE(source.Create(3, 3, 8, 4));
    const_cast<RGBQUAD*>(source.GetColorTable())[3].rgbGreen = 77;
    CDib copy;
    ASSERT_TRUE(copy.CreateFromHeader(source.GetInfo()));
    EXPECT_EQ(copy.GetWidth(), 3);
    EXPECT_EQ(copy.GetColorCount(), 4);
    EXPECT_EQ(copy.GetColorTable()[3].rgbGreen, 77);
    EXPECT_NE(copy.GetInfo(), source.GetInfo());
}

TEST(DibPixels, FillSetAlphaAndClearCoverEveryPixel)
{
    CDib dib;
    ASSERT_TRUE(dib.Create(5, 3, 32));
    ASSERT_TRUE(dib.AllocBits());
    dib.Fill(0x80112233u);
    EXPECT_EQ(PixelAt(dib, 0, 0), 0x80112233u);
    EXPECT_EQ(PixelAt(dib, 4, 2), 0x80112233u);
    dib.SetAlpha(0xFF);
    EXPECT_EQ(PixelAt(dib, 2, 1), 0xFF112233u);
    dib.Clear();
    EXPECT_EQ(PixelAt(dib, 4, 2), 0u);
}

TEST(DibPixels, FillAndSetAlphaLeaveOtherDepthsAlone)
{
    CDib dib;
    ASSERT_TRUE(dib.Create(6, 2, 8));
    ASSERT_TRUE(dib.AllocBits());
    std::memset(dib.GetBits(), 0x5A, dib.GetImageSize());
    dib.Fill(0xFFFFFFFFu);
    dib.SetAlpha(0);
    dib.Premultiply();
    for (std::size_t i = 0; i < dib.GetImageSize(); ++i)
        ASSERT_EQ(dib.GetBits()[i], 0x5A) << i;
}

TEST(DibPixels, PremultiplyScalesColourByAlphaWithIntegerDivision)
{
    CDib dib;
    ASSERT_TRUE(dib.Create(3, 1, 32));
    ASSERT_TRUE(dib.AllocBits());
    std::uint8_t* p = dib.GetBits();
    const std::uint8_t pixels[12] = {200, 100, 255, 128, 255, 255, 255, 0, 10, 20, 30, 255};
    std::memcpy(p, pixels, sizeof(pixels));
    dib.Premultiply();
    // 200 * 128 / 255 = 100.39 -> 100; 255 * 128 / 255 = 128.
    EXPECT_EQ(p[0], 100);
    EXPECT_EQ(p[1], 50);
    EXPECT_EQ(p[2], 128);
    EXPECT_EQ(p[3], 128);
    EXPECT_EQ(p[4], 0);
    EXPECT_EQ(p[7], 0);
    EXPECT_EQ(p[8], 10);
    EXPECT_EQ(p[10], 30);
}

TEST(DibSection, ItsBitsAreTheMemoryOfItsBitmap)
{
    CDibSection section;
    ASSERT_TRUE(section.Create(7, 5, 32));
    ASSERT_TRUE(section.AllocBits());
    ASSERT_TRUE(section.GetBitmap());
    const std::shared_ptr<CImage>& bitmap = section.GetBitmap();
    EXPECT_EQ(bitmap->GetScan0(), section.GetBits());
    EXPECT_EQ(bitmap->GetStride(), section.GetStride());
    section.Fill(0xFF102030u);
    EXPECT_EQ(bitmap->GetPixel(6, 4), 0xFF102030u);

    // A holder of the bitmap keeps the pixels after the section lets go.
    std::shared_ptr<CImage> held = section.GetBitmap();
    section.FreeBits();
    EXPECT_FALSE(section.HasBits());
    EXPECT_EQ(held->GetPixel(0, 0), 0xFF102030u);
}

TEST(ImageFormats, PixelsReadAsArgbWhateverTheLayout)
{
    CImage rgb555(2, 1, CPixelFormat::Rgb555);
    rgb555.SetPixel(0, 0, 0xFFFF0000u);
    rgb555.SetPixel(1, 0, 0xFF00FF08u);
    EXPECT_EQ(rgb555.GetPixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(rgb555.GetPixel(1, 0), 0xFF00FF08u);

    CImage rgb24(3, 2, CPixelFormat::Rgb24);
    EXPECT_EQ(rgb24.GetStride(), 12u);
    rgb24.SetPixel(2, 1, 0x00123456u);
    EXPECT_EQ(rgb24.GetRow(1)[6], 0x56);
    EXPECT_EQ(rgb24.GetPixel(2, 1), 0xFF123456u);

    CImage indexed(2, 2, CPixelFormat::Indexed8);
    indexed.SetPalette({0xFF000000u, 0x80FFFFFFu});
    indexed.GetRow(1)[1] = 1;
    indexed.GetRow(0)[1] = 9; // beyond the palette
    EXPECT_EQ(indexed.GetPixel(1, 1), 0x80FFFFFFu);
    EXPECT_EQ(indexed.GetPixel(1, 0), 0u);
}

TEST(ImageFormats, ACopyOwnsItsPixels)
{
    std::uint32_t memory[4] = {1, 2, 3, 4};
    CImage over(2, 2, CPixelFormat::Argb32, reinterpret_cast<std::uint8_t*>(memory), 8);
    EXPECT_FALSE(over.OwnsPixels());
    CImage copy(over);
    EXPECT_TRUE(copy.OwnsPixels());
    memory[3] = 99;
    EXPECT_EQ(copy.GetPixel(1, 1), 4u);
    EXPECT_EQ(over.GetPixel(1, 1), 99u);
}

} // namespace
} // namespace zk
