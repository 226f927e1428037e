#include "fetch/drawing_surface.h"
#include "platform/font_families.h"
#include "support/offscreen_gui.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace zk {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kBlack = 0xFF000000u;

unsigned Alpha(const CImage& image, int x, int y)
{
    return image.GetPixel(x, y) >> 24;
}

unsigned Green(const CImage& image, int x, int y)
{
    return (image.GetPixel(x, y) >> 8) & 0xFF;
}

TEST(GraphicsTarget, DrawingChangesTheCallersMemory)
{
    std::uint32_t memory[4 * 3] = {};
    CImage over(4, 3, CPixelFormat::Argb32, reinterpret_cast<std::uint8_t*>(memory), 16);
    CGraphics graphics(over);
    ASSERT_EQ(graphics.GetLastStatus(), CDrawStatus::Ok);
    EXPECT_EQ(graphics.Clear(0x80102030u), CDrawStatus::Ok);
    EXPECT_EQ(memory[11], 0x80102030u);
}

TEST(GraphicsTarget, AnIndexedImageCannotBeDrawnInto)
{
    CImage indexed(4, 4, CPixelFormat::Indexed8);
    CGraphics graphics(indexed);
    EXPECT_EQ(graphics.GetLastStatus(), CDrawStatus::WrongState);
    EXPECT_EQ(graphics.Clear(kWhite), CDrawStatus::WrongState);
    CImage empty(0, 0);
    CGraphics none(empty);
    EXPECT_NE(none.GetLastStatus(), CDrawStatus::Ok);
}

TEST(GraphicsShapes, AOnePixelLineOnAWholeCoordinateCoversOneRow)
{
    CImage image(10, 10);
    CGraphics graphics(image);
    graphics.SetSmoothingMode(CSmoothingMode::HighQuality);
    ASSERT_EQ(graphics.DrawLine(CPen(kWhite), CPointF{0, 5}, CPointF{10, 5}), CDrawStatus::Ok);
    EXPECT_EQ(Alpha(image, 4, 5), 255u);
    EXPECT_EQ(Alpha(image, 4, 4), 0u);
    EXPECT_EQ(Alpha(image, 4, 6), 0u);

    // With pixel centres half a pixel in, the same line falls between rows.
    CImage half(10, 10);
    CGraphics offset(half);
    offset.SetSmoothingMode(CSmoothingMode::HighQuality);
    offset.SetPixelOffsetMode(CPixelOffsetMode::HighQuality);
    offset.DrawLine(CPen(kWhite), CPointF{0, 5}, CPointF{10, 5});
    EXPECT_NEAR(Alpha(half, 4, 4), 128u, 2);
    EXPECT_NEAR(Alpha(half, 4, 5), 128u, 2);
}

TEST(GraphicsShapes, DrawRectangleOutlinesWithoutFilling)
{
    CImage image(10, 10);
    CGraphics graphics(image);
    ASSERT_EQ(graphics.DrawRectangle(CPen(kWhite), CRectF{1, 1, 6, 6}), CDrawStatus::Ok);
    EXPECT_EQ(Alpha(image, 1, 4), 255u);
    EXPECT_EQ(Alpha(image, 7, 4), 255u);
    EXPECT_EQ(Alpha(image, 4, 4), 0u);
    EXPECT_EQ(Alpha(image, 8, 4), 0u);
}

TEST(GraphicsShapes, PieAnglesRunClockwiseFromTheXAxis)
{
    CImage image(40, 40);
    CGraphics graphics(image);
    graphics.SetSmoothingMode(CSmoothingMode::HighQuality);
    graphics.SetPixelOffsetMode(CPixelOffsetMode::HighQuality);
    ASSERT_EQ(graphics.FillPie(CSolidBrush(kWhite), CRectF{0, 0, 40, 40}, 0, 90), CDrawStatus::Ok);
    EXPECT_EQ(Alpha(image, 30, 30), 255u); // below right: filled
    EXPECT_EQ(Alpha(image, 30, 10), 0u);   // above right
    EXPECT_EQ(Alpha(image, 10, 30), 0u);   // below left
}

TEST(GraphicsShapes, AnglesOnAnEllipseNameDirectionsFromItsCentre)
{
    // On an ellipse twice as wide as high, the pie up to 45° holds the point
    // seen at 40° from the centre and not the one at 50°.
    CImage image(80, 40);
    CGraphics graphics(image);
    graphics.SetPixelOffsetMode(CPixelOffsetMode::HighQuality);
    ASSERT_EQ(graphics.FillPie(CSolidBrush(kWhite), CRectF{0, 0, 80, 40}, 0, 45), CDrawStatus::Ok);
    auto at = [&](double degrees) {
        double r = degrees * M_PI / 180;
        return Alpha(image, static_cast<int>(40 + 12 * std::cos(r)),
                     static_cast<int>(20 + 12 * std::sin(r)));
    };
    EXPECT_EQ(at(38), 255u);
    EXPECT_EQ(at(55), 0u);
}

TEST(GraphicsShapes, ArcPathsJoinTheirArcs)
{
    CImage image(20, 20);
    CGraphics graphics(image);
    graphics.SetPixelOffsetMode(CPixelOffsetMode::HighQuality);
    CGraphicsPath path;
    // A half disc from two quarter arcs, closed by its diameter.
    path.AddArc(CRectF{0, 0, 20, 20}, 180, 90);
    path.AddArc(CRectF{0, 0, 20, 20}, 270, 90);
    path.CloseFigure();
    ASSERT_EQ(graphics.FillPath(CSolidBrush(kWhite), path), CDrawStatus::Ok);
    EXPECT_EQ(Alpha(image, 10, 4), 255u);
    EXPECT_EQ(Alpha(image, 3, 8), 255u);
    EXPECT_EQ(Alpha(image, 10, 15), 0u);
}

// A path with a coordinate that is not a number, in a line or in an arc,
// is refused whole: nothing of it is drawn, and the status says so.
TEST(GraphicsShapes, PathsWithPointsThatAreNotNumbersAreRefused)
{
    const float nan = std::nanf("");
    const float inf = INFINITY;
    auto line = [](CPointF from, CPointF to) {
        CGraphicsPath path;
        path.AddLine(CPointF{0, 0}, CPointF{10, 0});
        path.AddLine(from, to);
        path.CloseFigure();
        return path;
    };
    auto arc = [](CRectF rect, float start, float sweep) {
        CGraphicsPath path;
        path.AddArc(rect, start, sweep);
        path.AddLine(CPointF{10, 10}, CPointF{0, 10});
        return path;
    };
    const CGraphicsPath bad[] = {
        line(CPointF{10, nan}, CPointF{0, 10}), line(CPointF{10, 10}, CPointF{-inf, 10}),
        arc(CRectF{0, 0, nan, 10}, 0, 90),      arc(CRectF{0, 0, 10, 10}, inf, 90),
        arc(CRectF{0, 0, 10, 10}, 0, nan),
    };
    for (const CGraphicsPath& path : bad) {
        CImage image(12, 12);
        CGraphics graphics(image);
        EXPECT_EQ(graphics.FillPath(CSolidBrush(kWhite), path), CDrawStatus::InvalidParameter);
        EXPECT_EQ(graphics.GetLastStatus(), CDrawStatus::InvalidParameter);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 12; ++x)
                ASSERT_EQ(image.GetPixel(x, y), 0u) << x << "," << y;
    }
    // The same shapes with numbers fill.
    CImage image(12, 12);
    CGraphics graphics(image);
    EXPECT_EQ(graphics.FillPath(CSolidBrush(kWhite), line(CPointF{10, 10}, CPointF{0, 10})),
              CDrawStatus::Ok);
    EXPECT_EQ(Alpha(image, 5, 5), 255u);
}

TEST(GraphicsBrushes, TexturesTileFromTheOrigin)
{
    auto texture = std::make_shared<CImage>(2, 2);
    texture->SetPixel(0, 0, 0xFFFF0000u);
    texture->SetPixel(1, 0, 0xFF00FF00u);
    texture->SetPixel(0, 1, 0xFF0000FFu);
    texture->SetPixel(1, 1, kWhite);
    for (CSmoothingMode mode : {CSmoothingMode::None, CSmoothingMode::HighQuality}) {
        CImage image(6, 6);
        CGraphics graphics(image);
        graphics.SetSmoothingMode(mode);
        ASSERT_EQ(graphics.FillRectangle(CTextureBrush(texture), CRectF{0, 0, 6, 6}),
                  CDrawStatus::Ok);
        // Anti-aliased, with pixel centres on whole coordinates, the outer
        // pixels are only partly covered; the tiles stay on whole pixels.
        int border = mode == CSmoothingMode::None ? 0 : 1;
        for (int y = border; y < 6 - border; ++y)
            for (int x = border; x < 6 - border; ++x)
                ASSERT_EQ(image.GetPixel(x, y), texture->GetPixel(x % 2, y % 2)) << x << "," << y;
    }
    CImage image(2, 2);
    CGraphics graphics(image);
    EXPECT_EQ(graphics.FillRectangle(CTextureBrush(nullptr), CRectF{0, 0, 2, 2}),
              CDrawStatus::InvalidParameter);
}

TEST(GraphicsClip, NothingIsDrawnOutsideTheClip)
{
    CImage image(10, 10);
    CGraphics graphics(image);
    ASSERT_EQ(graphics.SetClip(CRectF{2, 2, 3, 3}), CDrawStatus::Ok);
    graphics.FillRectangle(CSolidBrush(kWhite), CRectF{0, 0, 10, 10});
    EXPECT_EQ(Alpha(image, 2, 2), 255u);
    EXPECT_EQ(Alpha(image, 4, 4), 255u);
    EXPECT_EQ(Alpha(image, 5, 5), 0u);
    EXPECT_EQ(Alpha(image, 1, 1), 0u);
    graphics.ResetClip();
    graphics.FillRectangle(CSolidBrush(kWhite), CRectF{0, 0, 10, 10});
    EXPECT_EQ(Alpha(image, 9, 9), 255u);
}

TEST(GraphicsImages, TheColourMatrixScalesAlpha)
{
    CImage red(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            red.SetPixel(x, y, 0xFFFF0000u);
    CImage image(4, 4);
    CGraphics graphics(image);
    graphics.Clear(kWhite);
    CColorMatrix half = CColorMatrix::AlphaScale(0.5f);
    ASSERT_EQ(graphics.DrawImage(red, CRectF{0, 0, 4, 4}, CRectF{0, 0, 4, 4}, &half),
              CDrawStatus::Ok);
    std::uint32_t pixel = image.GetPixel(2, 2);
    EXPECT_EQ(pixel >> 24, 255u);
    EXPECT_EQ((pixel >> 16) & 0xFF, 255u);
    EXPECT_NEAR(static_cast<int>(Green(image, 2, 2)), 128, 2);

    // A general matrix: red becomes green.
    CColorMatrix swap;
    swap.m[0][0] = 0;
    swap.m[0][1] = 1;
    EXPECT_FALSE(swap.IsAlphaScaleOnly());
    graphics.DrawImage(red, CRectF{0, 0, 4, 4}, CRectF{0, 0, 4, 4}, &swap);
    EXPECT_EQ(image.GetPixel(1, 1), 0xFF00FF00u);
}

TEST(GraphicsImages, APartIsDrawnAtItsPlaceAndTransparencyKeepsTheBackground)
{
    CImage source(8, 8);
    source.SetPixel(5, 6, 0xFF00FF00u);
    CImage image(3, 3);
    CGraphics graphics(image);
    graphics.Clear(kBlack);
    ASSERT_EQ(graphics.DrawImage(source, CRectF{0, 0, 3, 3}, CRectF{4, 5, 3, 3}), CDrawStatus::Ok);
    EXPECT_EQ(image.GetPixel(1, 1), 0xFF00FF00u);
    EXPECT_EQ(image.GetPixel(0, 0), kBlack);
    EXPECT_EQ(graphics.DrawImage(source, CRectF{0, 0, 3, 3}, CRectF{0, 0, 0, 3}),
              CDrawStatus::InvalidParameter);
}

TEST(EncodePng, KeepsAlphaThroughADecode)
{
    CImage image(3, 2);
    image.SetPixel(2, 1, 0x40FF8000u);
    std::string png;
    ASSERT_EQ(EncodePng(image, png), CDrawStatus::Ok);
    std::shared_ptr<CImage> back =
        DecodeImage(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetPixel(2, 1), 0x40FF8000u);
    EXPECT_EQ(back->GetPixel(0, 0) >> 24, 0u);
}

class GraphicsText : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { test::EnsureOffscreenGui(); }

    // Columns (left and right) where anything was drawn; -1 when nothing.
    static void InkedColumns(const CImage& image, int& left, int& right)
    {
        left = right = -1;
        for (int x = 0; x < image.GetWidth(); ++x)
            for (int y = 0; y < image.GetHeight(); ++y)
                if (Green(image, x, y) < 128) {
                    if (left < 0)
                        left = x;
                    right = x;
                }
    }
};

TEST_F(GraphicsText, JapaneseTextIsMeasuredOnOneLineAtThePointSize)
{
    CImage image(200, 60);
    CGraphics graphics(image);
    CFont font(9.0f);
    ASSERT_EQ(font.GetLastStatus(), CDrawStatus::Ok);
    CStringFormat format;
    format.noWrap = true;
    CRectF bounds;
    ASSERT_EQ(
        graphics.MeasureString(L"ザルメイト日本語", font, CRectF{0, 0, 200, 60}, format, bounds),
        CDrawStatus::Ok);
    // 9 points are 12 pixels; one line is a little taller than that.
    EXPECT_GT(bounds.height, 11.0f);
    EXPECT_LT(bounds.height, 24.0f);
    EXPECT_GT(bounds.width, 8 * 9.0f);

    CRectF narrow;
    graphics.MeasureString(L"ザルメイト ザルメイト ザルメイト", font, CRectF{0, 0, 40, 60}, format,
                           narrow);
    EXPECT_LT(narrow.height, 24.0f);
}

TEST_F(GraphicsText, TextIsAlignedNearOrFarAndClippedToItsRectangle)
{
    CFont font(12.0f);
    CStringFormat format;
    format.noWrap = true;
    CSolidBrush black(kBlack);

    CImage nearImage(200, 40);
    {
        CGraphics graphics(nearImage);
        graphics.Clear(kWhite);
        ASSERT_EQ(graphics.DrawString(L"あいう", font, CRectF{10, 5, 180, 30}, format, black),
                  CDrawStatus::Ok);
    }
    int left = 0;
    int right = 0;
    InkedColumns(nearImage, left, right);
    ASSERT_GE(left, 10);
    EXPECT_LT(left, 16);
    EXPECT_LT(right, 100);

    format.alignment = CStringAlignment::Far;
    CImage farImage(200, 40);
    {
        CGraphics graphics(farImage);
        graphics.Clear(kWhite);
        graphics.DrawString(L"あいう", font, CRectF{10, 5, 180, 30}, format, black);
    }
    InkedColumns(farImage, left, right);
    EXPECT_GT(right, 183);
    EXPECT_LT(right, 190);
    EXPECT_GT(left, 100);

    // A long text stops at its rectangle.
    format.alignment = CStringAlignment::Near;
    CImage clipped(200, 40);
    {
        CGraphics graphics(clipped);
        graphics.Clear(kWhite);
        graphics.DrawString(L"あいうえおかきくけこさしすせそ", font, CRectF{10, 5, 60, 30}, format,
                            black);
    }
    InkedColumns(clipped, left, right);
    EXPECT_GT(right, 60);
    EXPECT_LT(right, 70);
}

TEST_F(GraphicsText, LatinTextIsSetProportionallyInTheEnglishSerifAtFullColour)
{
    // Asked for English, the generic serif is a Latin face, not the Mincho
    // face a Japanese locale gives.
    std::wstring latin = ResolveFontFamily("serif", "en");
    EXPECT_FALSE(latin.empty());
    EXPECT_NE(latin, L"IPAMincho");
    EXPECT_NE(latin, L"IPAPMincho");

    CImage image(300, 40);
    CGraphics graphics(image);
    CFont font(8.0f);
    CStringFormat format;
    format.noWrap = true;
    CRectF thin;
    CRectF wide;
    graphics.MeasureString(L"iiiiiiii", font, CRectF{}, format, thin);
    graphics.MeasureString(L"MMMMMMMM", font, CRectF{}, format, wide);
    EXPECT_LT(thin.width * 2, wide.width);

    // The strokes of small digits reach (nearly) the brush's colour; thin
    // Mincho strokes stayed near 0x1D grey.
    graphics.Clear(kWhite);
    graphics.DrawString(L"8:00:07", font, CRectF{2, 2, 200, 30}, format, CSolidBrush(kBlack));
    unsigned darkest = 255;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 300; ++x)
            darkest = std::min(darkest, Green(image, x, y));
    EXPECT_LE(darkest, 0x10u);
}

TEST_F(GraphicsText, EllipsisShortensOnlyALineTooWideAndStopsInsideTheRectangle)
{
    CFont font(8.0f);
    CStringFormat format;
    format.noWrap = true;
    format.ellipsis = true;
    const std::wstring longName = L"ザルメイトのとても長いニックネームです😀😀😀";
    CImage image(200, 30);
    CGraphics graphics(image);
    CRectF cut;
    ASSERT_EQ(graphics.MeasureString(longName, font, CRectF{10, 5, 80, 20}, format, cut),
              CDrawStatus::Ok);
    EXPECT_LE(cut.width, 80.0f);
    EXPECT_GT(cut.width, 60.0f);
    CStringFormat plain;
    plain.noWrap = true;
    CRectF whole;
    graphics.MeasureString(longName, font, CRectF{10, 5, 80, 20}, plain, whole);
    EXPECT_GT(whole.width, 150.0f);

    // A text that fits keeps its width.
    CRectF fits;
    CRectF fitsPlain;
    graphics.MeasureString(L"ab", font, CRectF{10, 5, 80, 20}, format, fits);
    graphics.MeasureString(L"ab", font, CRectF{10, 5, 80, 20}, plain, fitsPlain);
    EXPECT_EQ(fits.width, fitsPlain.width);

    graphics.Clear(kWhite);
    graphics.DrawString(longName, font, CRectF{10, 5, 80, 20}, format, CSolidBrush(kBlack));
    int left = 0;
    int right = 0;
    InkedColumns(image, left, right);
    EXPECT_GE(left, 10);
    EXPECT_LT(right, 90);
    // The ellipsis itself stands near the end of the room.
    EXPECT_GT(right, 75);
}

TEST_F(GraphicsText, EmojiAreDrawnInColour)
{
    CImage image(60, 40);
    CGraphics graphics(image);
    graphics.Clear(kWhite);
    CFont font(12.0f);
    CStringFormat format;
    format.noWrap = true;
    ASSERT_EQ(graphics.DrawString(L"😀", font, CRectF{5, 5, 50, 30}, format, CSolidBrush(kBlack)),
              CDrawStatus::Ok);
    // A colour face: pixels far from grey (the face's yellow), whatever
    // the brush.
    int coloured = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) {
            std::uint32_t p = image.GetPixel(x, y);
            int r = (p >> 16) & 0xFF;
            int b = p & 0xFF;
            coloured += r - b > 100;
        }
    EXPECT_GT(coloured, 30);
}

} // namespace
} // namespace zk
