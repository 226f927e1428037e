#include "fetch/bitmap_ops.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace zk {
namespace {

// A 32-bit DIB with every pixel set to the value.
void MakeFilled(CDib& dib, int width, int height, std::uint32_t value)
{
    ASSERT_TRUE(dib.Create(width, height, 32));
    ASSERT_TRUE(dib.AllocBits());
    dib.Fill(value);
}

int AlphaOf(const CDib& dib, int x, int y)
{
    return dib.GetRow(y)[4 * x + 3];
}

std::vector<std::uint8_t> BytesOf(const CDib& dib)
{
    return std::vector<std::uint8_t>(dib.GetBits(), dib.GetBits() + dib.GetImageSize());
}

TEST(RoundCorners, RadiusZeroLeavesTheBitmapUnchanged)
{
    CDib dib;
    MakeFilled(dib, 12, 9, 0xFF336699u);
    auto before = BytesOf(dib);
    EXPECT_EQ(RoundCorners(dib, 0.0, 0.0, true, true, true, true), S_OK);
    EXPECT_EQ(RoundCorners(dib, 5.0, 0.0, true, true, true, true), S_OK);
    EXPECT_EQ(BytesOf(dib), before);
}

TEST(RoundCorners, NeedsThirtyTwoBitPixels)
{
    CDib dib;
    ASSERT_TRUE(dib.Create(8, 8, 24));
    ASSERT_TRUE(dib.AllocBits());
    EXPECT_EQ(RoundCorners(dib, 4.0, 4.0, true, true, true, true), E_INVALIDARG);
    CDib noBits;
    ASSERT_TRUE(noBits.Create(8, 8, 32));
    EXPECT_EQ(RoundCorners(noBits, 4.0, 4.0, true, true, true, true), E_INVALIDARG);
}

TEST(RoundCorners, RadiiLargerThanHalfTheSizeAreClamped)
{
    CDib big;
    MakeFilled(big, 20, 10, 0xFFFFFFFFu);
    CDib exact;
    MakeFilled(exact, 20, 10, 0xFFFFFFFFu);
    ASSERT_EQ(RoundCorners(big, 100.0, 100.0, true, true, true, true), S_OK);
    ASSERT_EQ(RoundCorners(exact, 10.0, 5.0, true, true, true, true), S_OK);
    EXPECT_EQ(BytesOf(big), BytesOf(exact));
    EXPECT_EQ(AlphaOf(big, 0, 0), 0);
    EXPECT_EQ(AlphaOf(big, 10, 5), 255);
}

TEST(RoundCorners, ASquareBecomesADiscWithASoftEdge)
{
    constexpr int kSide = 38;
    CDib dib;
    MakeFilled(dib, kSide, kSide, 0xFF204060u);
    ASSERT_EQ(RoundCorners(dib, 38.0, 38.0, true, true, true, true), S_OK);

    int soft = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            // Distance of the pixel's centre from the bitmap's centre.
            double r = std::hypot(x + 0.5 - kSide / 2.0, y + 0.5 - kSide / 2.0);
            int alpha = AlphaOf(dib, x, y);
            if (r > 20.5) {
                EXPECT_EQ(alpha, 0) << x << "," << y;
            }
            if (r < 16.0) {
                EXPECT_EQ(alpha, 255) << x << "," << y;
            }
            if (alpha > 0 && alpha < 255)
                ++soft;
            // Mirrored corners match.
            EXPECT_EQ(alpha, AlphaOf(dib, kSide - 1 - x, y));
            EXPECT_EQ(alpha, AlphaOf(dib, x, kSide - 1 - y));
            // Colour bytes are never touched.
            ASSERT_EQ(dib.GetRow(y)[4 * x], 0x60);
            ASSERT_EQ(dib.GetRow(y)[4 * x + 2], 0x20);
        }
    EXPECT_GT(soft, 4 * 10);
    // Along the middle lines the soft rim lies on the border pixel.
    EXPECT_GT(AlphaOf(dib, 0, kSide / 2), 0);
    EXPECT_LT(AlphaOf(dib, 0, kSide / 2), 255);
    EXPECT_EQ(AlphaOf(dib, 1, kSide / 2), 255);
    EXPECT_EQ(AlphaOf(dib, kSide / 2, 0), AlphaOf(dib, 0, kSide / 2));
}

TEST(RoundCorners, OnlyTheChosenCornersChange)
{
    CDib dib;
    MakeFilled(dib, 16, 16, 0xFFFFFFFFu);
    ASSERT_EQ(RoundCorners(dib, 6.0, 6.0, false, true, false, false), S_OK);
    EXPECT_EQ(AlphaOf(dib, 0, 15), 0);
    EXPECT_EQ(AlphaOf(dib, 0, 0), 255);
    EXPECT_EQ(AlphaOf(dib, 15, 15), 255);
    EXPECT_EQ(AlphaOf(dib, 15, 0), 255);
}

TEST(RoundCorners, ScalesExistingAlpha)
{
    CDib dib;
    MakeFilled(dib, 16, 16, 0x80FFFFFFu);
    ASSERT_EQ(RoundCorners(dib, 8.0, 8.0, true, true, true, true), S_OK);
    EXPECT_EQ(AlphaOf(dib, 0, 0), 0);
    EXPECT_EQ(AlphaOf(dib, 8, 8), 0x80);
    for (int x = 0; x < 16; ++x)
        EXPECT_LE(AlphaOf(dib, x, 1), 0x80);
}

TEST(EdgeFadeFormula, CoverageOfABandOfOnePixel)
{
    EXPECT_DOUBLE_EQ(EdgeFadeCoverage(-1.0, 1.0), 0.0);
    EXPECT_DOUBLE_EQ(EdgeFadeCoverage(-3.0, 1.0), 0.0);
    EXPECT_DOUBLE_EQ(EdgeFadeCoverage(-0.5, 1.0), 0.125);
    EXPECT_DOUBLE_EQ(EdgeFadeCoverage(0.0, 1.0), 0.5);
    EXPECT_DOUBLE_EQ(EdgeFadeCoverage(0.5, 1.0), 0.875);
    EXPECT_DOUBLE_EQ(EdgeFadeCoverage(1.0, 1.0), 1.0);
    EXPECT_DOUBLE_EQ(EdgeFadeCoverage(7.0, 1.0), 1.0);
}

TEST(EdgeFadeFormula, BandTableHoldsTheMeanShareOfEachLine)
{
    EXPECT_EQ(EdgeFadeBandTable(1.0), std::vector<double>{0.5});
    std::vector<double> wide = EdgeFadeBandTable(2.5);
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_DOUBLE_EQ(wide[0], 0.2);
    EXPECT_DOUBLE_EQ(wide[1], 0.6);
    // The line that the band's end crosses: part ramp, part full.
    EXPECT_DOUBLE_EQ(wide[2], 0.95);
    EXPECT_TRUE(EdgeFadeBandTable(0.0).empty());
}

// The windows' outline: opaque, corners rounded, then the edge band.
void PaintWindowOutline(CDib& dib)
{
    dib.SetAlpha(255);
    ASSERT_EQ(RoundCorners(dib, 15.0, 15.0, true, true, true, true), S_OK);
    ASSERT_EQ(EdgeFade(dib, 15.0, 15.0, 1.0, true, true, true, true, true, true, true, true), S_OK);
}

TEST(EdgeFade, TheOuterLineOfEachEdgeIsHalfCoveredAndTheNextIsOpaque)
{
    constexpr int kWidth = 120;
    constexpr int kHeight = 80;
    CDib dib;
    MakeFilled(dib, kWidth, kHeight, 0x00A0B0C0u);
    PaintWindowOutline(dib);
    EXPECT_EQ(AlphaOf(dib, kWidth / 2, 0), 128);
    EXPECT_EQ(AlphaOf(dib, kWidth / 2, 1), 255);
    EXPECT_EQ(AlphaOf(dib, kWidth / 2, kHeight - 1), 128);
    EXPECT_EQ(AlphaOf(dib, kWidth / 2, kHeight - 2), 255);
    EXPECT_EQ(AlphaOf(dib, 0, kHeight / 2), 128);
    EXPECT_EQ(AlphaOf(dib, 1, kHeight / 2), 255);
    EXPECT_EQ(AlphaOf(dib, kWidth - 1, kHeight / 2), 128);
    EXPECT_EQ(AlphaOf(dib, kWidth - 2, kHeight / 2), 255);
    // The whole straight run, up to the corner blocks.
    for (int x = 15; x < kWidth - 15; ++x)
        ASSERT_EQ(AlphaOf(dib, x, 0), 128) << x;
    EXPECT_EQ(AlphaOf(dib, 0, 0), 0);
    EXPECT_EQ(AlphaOf(dib, kWidth / 2, kHeight / 2), 255);
    EXPECT_EQ(dib.GetRow(0)[4 * 60], 0xC0);
}

TEST(EdgeFade, RoundedCornersGetASoftRimInsideTheSmallerEllipse)
{
    CDib dib;
    MakeFilled(dib, 60, 60, 0xFFFFFFFFu);
    ASSERT_EQ(EdgeFade(dib, 15.0, 15.0, 1.0, true, true, true, true, true, true, true, true), S_OK);
    // Centre of the rounding 14 pixels in: 14 pixels away alpha is the rim
    // value, one further in it is opaque, further out nothing is left.
    EXPECT_EQ(AlphaOf(dib, 14, 0), 128);
    EXPECT_EQ(AlphaOf(dib, 14, 1), 255);
    // On the diagonal: (3, 3) lies 1.5 pixels outside the curve, (4, 4)
    // straddles it, (5, 5) is inside by more than the band.
    EXPECT_EQ(AlphaOf(dib, 3, 3), 0);
    EXPECT_GT(AlphaOf(dib, 4, 4), 0);
    EXPECT_LT(AlphaOf(dib, 4, 4), 255);
    EXPECT_EQ(AlphaOf(dib, 5, 5), 255);
    EXPECT_EQ(AlphaOf(dib, 59 - 3, 59 - 3), 0);
    EXPECT_EQ(AlphaOf(dib, 59 - 4, 59 - 4), AlphaOf(dib, 4, 4));
}

TEST(EdgeFade, SquareCornersUseTheBandAndAlphaOnlyGoesDown)
{
    CDib dib;
    MakeFilled(dib, 40, 40, 0x64FFFFFFu); // alpha 100
    ASSERT_EQ(EdgeFade(dib, 10.0, 10.0, 1.0, false, false, false, false, true, true, true, true),
              S_OK);
    EXPECT_EQ(AlphaOf(dib, 0, 0), 100);
    EXPECT_EQ(AlphaOf(dib, 0, 5), 100);
    EXPECT_EQ(AlphaOf(dib, 20, 20), 100);

    CDib opaque;
    MakeFilled(opaque, 40, 40, 0xFFFFFFFFu);
    ASSERT_EQ(EdgeFade(opaque, 10.0, 10.0, 1.0, false, false, false, false, true, true, true, true),
              S_OK);
    EXPECT_EQ(AlphaOf(opaque, 0, 0), 128);
    EXPECT_EQ(AlphaOf(opaque, 3, 0), 128);
    EXPECT_EQ(AlphaOf(opaque, 3, 3), 255);
}

TEST(EdgeFade, UnselectedEdgesStayAndTheirCornersAreNotWalked)
{
    CDib dib;
    MakeFilled(dib, 40, 30, 0xFFFFFFFFu);
    ASSERT_EQ(EdgeFade(dib, 10.0, 10.0, 1.0, true, true, true, true, false, true, false, false),
              S_OK);
    // Only the top edge: its run reaches both ends.
    EXPECT_EQ(AlphaOf(dib, 0, 0), 128);
    EXPECT_EQ(AlphaOf(dib, 39, 0), 128);
    EXPECT_EQ(AlphaOf(dib, 0, 15), 255);
    EXPECT_EQ(AlphaOf(dib, 20, 29), 255);
}

TEST(EdgeFade, NeedsThirtyTwoBitPixels)
{
    CDib dib;
    ASSERT_TRUE(dib.Create(8, 8, 8));
    ASSERT_TRUE(dib.AllocBits());
    EXPECT_EQ(EdgeFade(dib, 4, 4, 1, true, true, true, true, true, true, true, true), E_INVALIDARG);
}

TEST(FillRoundedRect, CoversTheRectangleLessItsCorners)
{
    CImage image(40, 30, CPixelFormat::Argb32);
    CGraphics graphics(image);
    ASSERT_EQ(graphics.GetLastStatus(), CDrawStatus::Ok);
    graphics.SetSmoothingMode(CSmoothingMode::HighQuality);
    graphics.SetPixelOffsetMode(CPixelOffsetMode::HighQuality);
    ASSERT_EQ(FillRoundedRect(graphics, CSolidBrush(0xFFFFFFFFu), CRectF{0, 0, 40, 30}, 8.0f),
              CDrawStatus::Ok);
    EXPECT_EQ(graphics.GetLastStatus(), CDrawStatus::Ok);

    double covered = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            covered += (image.GetPixel(x, y) >> 24) / 255.0;
    double expected = 40.0 * 30.0 - (4.0 - M_PI) * 8.0 * 8.0;
    EXPECT_NEAR(covered, expected, 2.0);
    EXPECT_EQ(image.GetPixel(0, 0) >> 24, 0u);
    EXPECT_EQ(image.GetPixel(39, 29) >> 24, 0u);
    EXPECT_EQ(image.GetPixel(20, 0) >> 24, 255u);
    EXPECT_EQ(image.GetPixel(0, 15) >> 24, 255u);
    EXPECT_EQ(image.GetPixel(20, 15), 0xFFFFFFFFu);
    std::uint32_t rim = image.GetPixel(2, 2) >> 24;
    EXPECT_GT(rim, 0u);
    EXPECT_LT(rim, 255u);
}

TEST(BitmapOverDib, ASharedBitmapDrawsIntoTheDibsPixels)
{
    CDib dib;
    MakeFilled(dib, 10, 6, 0xFF000000u);
    std::shared_ptr<CImage> bitmap = BitmapOverDib(dib, true);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->GetPixelFormat(), CPixelFormat::Argb32);
    {
        CGraphics graphics(*bitmap);
        ASSERT_EQ(graphics.FillRectangle(CSolidBrush(0xFF00FF00u), CRectF{0, 0, 3, 2}),
                  CDrawStatus::Ok);
    }
    std::uint32_t pixel;
    std::memcpy(&pixel, dib.GetRow(1) + 4 * 2, 4);
    EXPECT_EQ(pixel, 0xFF00FF00u);
    std::memcpy(&pixel, dib.GetRow(2) + 4 * 2, 4);
    EXPECT_EQ(pixel, 0xFF000000u);
}

TEST(BitmapOverDib, EightBitsShareWithThePaletteAndOtherDepthsAreCopied)
{
    CDib indexed;
    ASSERT_TRUE(indexed.Create(4, 2, 8, 256));
    ASSERT_TRUE(indexed.AllocBits());
    indexed.Clear();
    indexed.GetRow(1)[3] = 200;
    std::shared_ptr<CImage> shared = BitmapOverDib(indexed, true);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->GetPixelFormat(), CPixelFormat::Indexed8);
    EXPECT_EQ(shared->GetScan0(), indexed.GetBits());
    EXPECT_EQ(shared->GetPixel(3, 1), 0xFFC8C8C8u);

    CDib rgb;
    ASSERT_TRUE(rgb.Create(3, 2, 24));
    ASSERT_TRUE(rgb.AllocBits());
    rgb.Clear();
    rgb.GetRow(0)[2] = 0xEE; // red of the first pixel
    std::shared_ptr<CImage> copy = BitmapOverDib(rgb, true);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->GetPixelFormat(), CPixelFormat::Rgb24);
    EXPECT_TRUE(copy->OwnsPixels());
    EXPECT_EQ(copy->GetPixel(0, 0), 0xFFEE0000u);

    CDib argb;
    MakeFilled(argb, 2, 2, 0x10203040u);
    std::shared_ptr<CImage> unshared = BitmapOverDib(argb, false);
    ASSERT_TRUE(unshared);
    EXPECT_EQ(unshared->GetPixelFormat(), CPixelFormat::Rgb32);
    EXPECT_EQ(unshared->GetPixel(1, 1), 0xFF203040u);
}

TEST(CopyDibToBitmap, KeepsAlphaOnlyWhenAsked)
{
    CDib dib;
    MakeFilled(dib, 3, 3, 0x40302010u);
    std::shared_ptr<CImage> withAlpha = CopyDibToBitmap(dib, true);
    ASSERT_TRUE(withAlpha);
    EXPECT_EQ(withAlpha->GetPixelFormat(), CPixelFormat::Argb32);
    EXPECT_NE(withAlpha->GetScan0(), dib.GetBits());
    EXPECT_EQ(withAlpha->GetPixel(2, 2), 0x40302010u);
    dib.Fill(0);
    EXPECT_EQ(withAlpha->GetPixel(2, 2), 0x40302010u);

    std::shared_ptr<CImage> opaque = CopyDibToBitmap(dib, false);
    ASSERT_TRUE(opaque);
    EXPECT_EQ(opaque->GetPixelFormat(), CPixelFormat::Rgb32);
    EXPECT_EQ(opaque->GetPixel(0, 0), 0xFF000000u);

    CDib empty;
    EXPECT_FALSE(CopyDibToBitmap(empty, true));
}

TEST(DrawScaled, AveragesWhenShrinking)
{
    // A 4 × 4 checker of black and white shrunk to 2 × 2 is grey.
    CImage source(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            source.SetPixel(x, y, (x + y) % 2 ? 0xFFFFFFFFu : 0xFF000000u);
    CImage target(2, 2);
    ASSERT_TRUE(DrawScaled(source, RECT{0, 0, 4, 4}, target, RECT{0, 0, 2, 2},
                           CInterpolationMode::HighQualityBicubic));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            std::uint32_t pixel = target.GetPixel(x, y);
            EXPECT_EQ(pixel >> 24, 255u);
            EXPECT_NEAR(static_cast<int>(pixel & 0xFF), 128, 3);
        }
    CImage indexed(2, 2, CPixelFormat::Indexed8);
    EXPECT_FALSE(DrawScaled(source, RECT{0, 0, 4, 4}, indexed, RECT{0, 0, 2, 2},
                            CInterpolationMode::HighQualityBicubic));
}

} // namespace
} // namespace zk
