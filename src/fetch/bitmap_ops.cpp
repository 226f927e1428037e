#include "fetch/bitmap_ops.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace zk {

namespace {

constexpr std::uint32_t kOpaqueWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kOpaqueBlack = 0xFF000000u;
// The mask pie: the quarter from 180° round to 90° is left out, the rest
// covers the corner block from its outer corner.
constexpr float kMaskPieStart = 180.0f;
constexpr float kMaskPieSweep = 270.0f;

enum Corner
{
    kTopLeft,
    kBottomLeft,
    kBottomRight,
    kTopRight,
    kCornerCount
};

// Position in the bitmap of the pixel (x, y) of a corner block, counted
// from that corner towards the inside.
void MirrorIntoCorner(Corner corner, int width, int height, int x, int y, int& bx, int& by)
{
    bool right = corner == kBottomRight || corner == kTopRight;
    bool bottom = corner == kBottomLeft || corner == kBottomRight;
    bx = right ? width - 1 - x : x;
    by = bottom ? height - 1 - y : y;
}

// A radius limited to half the side, the half in whole pixels. NaN and
// negative radii count as none.
double ClampRadius(double radius, int side)
{
    double half = side / 2;
    if (!(radius > 0))
        return 0;
    return std::min(radius, half);
}

std::uint8_t* AlphaAt(CDib& dib, int x, int y)
{
    return dib.GetRow(y) + 4 * static_cast<std::size_t>(x) + 3;
}

// Rounded to the nearest byte, halves to even.
std::uint8_t RoundToByte(double share)
{
    double value = std::nearbyint(255.0 * share);
    if (!(value > 0))
        return 0;
    return value >= 255 ? 255 : static_cast<std::uint8_t>(value);
}

void LowerAlpha(std::uint8_t* alpha, std::uint8_t limit)
{
    if (*alpha > limit)
        *alpha = limit;
}

bool HasDibPixels(const CDib& dib)
{
    return dib.HasHeader() && dib.HasBits();
}

std::shared_ptr<CImage> CopyRows(const CDib& dib, CPixelFormat format)
{
    if (dib.GetCompression() != BI_RGB)
        return {};
    std::shared_ptr<CImage> copy = CImage::Create(dib.GetWidth(), dib.GetHeight(), format);
    if (!copy)
        return {};
    std::size_t rowBytes = std::min(copy->GetStride(), dib.GetStride());
    for (int y = 0; y < dib.GetHeight(); ++y)
        std::memcpy(copy->GetRow(y), dib.GetRow(y), rowBytes);
    if (format == CPixelFormat::Rgb32) {
        // The drawing library takes the fourth byte of an RGB pixel for
        // opaque; a DIB may hold anything there.
        for (int y = 0; y < copy->GetHeight(); ++y) {
            std::uint8_t* row = copy->GetRow(y);
            for (int x = 0; x < copy->GetWidth(); ++x)
                row[4 * x + 3] = 255;
        }
    }
    if (format == CPixelFormat::Indexed8)
        copy->SetPalette(dib.GetPalette());
    return copy;
}

} // namespace

std::shared_ptr<CImage> BitmapOverDib(CDib& dib, bool share)
{
    if (!HasDibPixels(dib))
        return {};
    int bits = dib.GetBitCount();
    if (share && (bits == 32 || bits == 8) && dib.GetCompression() == BI_RGB) {
        try {
            auto bitmap =
                std::make_shared<CImage>(dib.GetWidth(), dib.GetHeight(),
                                         bits == 32 ? CPixelFormat::Argb32 : CPixelFormat::Indexed8,
                                         dib.GetBits(), dib.GetStride());
            if (bits == 8)
                bitmap->SetPalette(dib.GetPalette());
            return bitmap;
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
    CPixelFormat format;
    if (!CDib::PixelFormatOf(bits, false, format))
        return {};
    try {
        return CopyRows(dib, format);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::shared_ptr<CImage> CopyDibToBitmap(const CDib& dib, bool alpha)
{
    if (!HasDibPixels(dib))
        return {};
    CPixelFormat format;
    if (!CDib::PixelFormatOf(dib.GetBitCount(), alpha, format))
        return {};
    try {
        return CopyRows(dib, format);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool DrawScaled(const CImage& source, const RECT& sourceRect, CImage& target,
                const RECT& targetRect, CInterpolationMode mode)
{
    CGraphics graphics(target);
    if (graphics.GetLastStatus() != CDrawStatus::Ok)
        return false;
    if (graphics.SetInterpolationMode(mode) != CDrawStatus::Ok ||
        graphics.SetPixelOffsetMode(CPixelOffsetMode::HighQuality) != CDrawStatus::Ok)
        return false;
    CRectF dest{static_cast<float>(targetRect.left), static_cast<float>(targetRect.top),
                static_cast<float>(targetRect.Width()), static_cast<float>(targetRect.Height())};
    CRectF src{static_cast<float>(sourceRect.left), static_cast<float>(sourceRect.top),
               static_cast<float>(sourceRect.Width()), static_cast<float>(sourceRect.Height())};
    return graphics.DrawImage(source, dest, src) == CDrawStatus::Ok;
}

HRESULT RoundCorners(CDib& dib, double radiusX, double radiusY, bool topLeft, bool bottomLeft,
                     bool bottomRight, bool topRight)
{
    if (dib.GetBitCount() != 32 || !HasDibPixels(dib))
        return E_INVALIDARG;
    int width = dib.GetWidth();
    int height = dib.GetHeight();
    double rx = ClampRadius(radiusX, width);
    double ry = ClampRadius(radiusY, height);
    int w = static_cast<int>(std::ceil(rx));
    int h = static_cast<int>(std::ceil(ry));
    if (w <= 0 || h <= 0)
        return S_OK;

    // The mask holds the coverage of one corner: 255 inside the rounding,
    // falling to 0 outside, in the first byte of each pixel.
    std::shared_ptr<CImage> mask = CImage::Create(w, h, CPixelFormat::Argb32);
    if (!mask)
        return E_OUTOFMEMORY;
    {
        CGraphics graphics(*mask);
        CDrawStatus status = graphics.GetLastStatus();
        if (status == CDrawStatus::Ok)
            status = graphics.Clear(kOpaqueBlack);
        if (status == CDrawStatus::Ok)
            status = graphics.SetSmoothingMode(CSmoothingMode::HighQuality);
        if (status == CDrawStatus::Ok)
            status = graphics.FillPie(
                CSolidBrush(kOpaqueWhite),
                CRectF{0, 0, static_cast<float>(2 * (rx + 1)), static_cast<float>(2 * (ry + 1))},
                kMaskPieStart, kMaskPieSweep);
        if (status != CDrawStatus::Ok)
            return HresultFromDrawStatus(status);
    }

    const bool wanted[kCornerCount] = {topLeft, bottomLeft, bottomRight, topRight};
    for (int corner = 0; corner < kCornerCount; ++corner) {
        if (!wanted[corner])
            continue;
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* maskRow = mask->GetRow(y);
            for (int x = 0; x < w; ++x) {
                unsigned m = maskRow[4 * x];
                if (m == 255)
                    continue;
                int bx = 0;
                int by = 0;
                MirrorIntoCorner(static_cast<Corner>(corner), width, height, x, y, bx, by);
                std::uint8_t* alpha = AlphaAt(dib, bx, by);
                *alpha = static_cast<std::uint8_t>(*alpha * m / 255);
            }
        }
    }
    return S_OK;
}

double EdgeFadeCoverage(double d, double band)
{
    if (!(band > 0)) {
        // A band of no width is a sharp edge: the covered part of the pixel.
        return std::clamp(d + 1, 0.0, 1.0);
    }
    if (d + 1 <= 0)
        return 0;
    if (d < 0)
        return (d + 1) * (d + 1) / (2 * band);
    if (d + 1 <= band)
        return (d + 0.5) / band;
    if (d >= band)
        return 1;
    return (d / band + 1) * (band - d) / 2 + (d + 1 - band);
}

std::vector<double> EdgeFadeBandTable(double band)
{
    std::vector<double> table;
    if (!(band > 0))
        return table;
    // Lines beyond any bitmap's side never matter.
    double entries = std::min(std::ceil(band), double{1 << 16});
    for (int i = 0; i < static_cast<int>(entries); ++i)
        table.push_back(EdgeFadeCoverage(i, band));
    return table;
}

HRESULT EdgeFade(CDib& dib, double radiusX, double radiusY, double band, bool topLeft,
                 bool bottomLeft, bool bottomRight, bool topRight, bool leftEdge, bool topEdge,
                 bool rightEdge, bool bottomEdge)
{
    if (dib.GetBitCount() != 32 || !HasDibPixels(dib))
        return E_INVALIDARG;
    int width = dib.GetWidth();
    int height = dib.GetHeight();
    double rx = ClampRadius(radiusX, width);
    double ry = ClampRadius(radiusY, height);
    int w = static_cast<int>(std::ceil(rx));
    int h = static_cast<int>(std::ceil(ry));

    std::vector<double> table;
    try {
        table = EdgeFadeBandTable(band);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    int lines = static_cast<int>(table.size());
    auto lineLimit = [&](int i) -> std::uint8_t {
        if (i < 0)
            return 0;
        if (i >= lines)
            return 255;
        return RoundToByte(table[static_cast<std::size_t>(i)]);
    };

    // The distance of a corner pixel inside the ellipse of radii rx - 1 and
    // ry - 1: the least of the distance along the ray from the centre and
    // the horizontal and vertical distances to the curve.
    double a = rx - 1;
    double b = ry - 1;
    auto roundedLimit = [&](int x, int y) -> std::uint8_t {
        double px = a - x;
        double py = b - y;
        double theta = std::atan2(py, px);
        double d = std::hypot(a * std::cos(theta), b * std::sin(theta)) - std::hypot(px, py);
        // Outside the curve's reach a candidate is undefined and left out.
        double horizontal = a * std::sqrt(1 - (py / b) * (py / b)) - px;
        double vertical = b * std::sqrt(1 - (px / a) * (px / a)) - py;
        if (std::isfinite(horizontal))
            d = std::min(d, horizontal);
        if (std::isfinite(vertical))
            d = std::min(d, vertical);
        return RoundToByte(EdgeFadeCoverage(d, band));
    };

    const bool rounded[kCornerCount] = {topLeft, bottomLeft, bottomRight, topRight};
    const bool walkable[kCornerCount] = {leftEdge && topEdge, leftEdge && bottomEdge,
                                         rightEdge && bottomEdge, rightEdge && topEdge};
    bool walked[kCornerCount] = {};
    if (w > 0 && h > 0) {
        for (int corner = 0; corner < kCornerCount; ++corner) {
            if (!walkable[corner])
                continue;
            walked[corner] = true;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    std::uint8_t limit =
                        rounded[corner] ? roundedLimit(x, y) : lineLimit(std::min(x, y));
                    int bx = 0;
                    int by = 0;
                    MirrorIntoCorner(static_cast<Corner>(corner), width, height, x, y, bx, by);
                    LowerAlpha(AlphaAt(dib, bx, by), limit);
                }
        }
    }

    // The straight edges run between the corner blocks that were walked.
    int xFrom = 0;
    int xTo = width;
    int bandRows = std::min(lines, height);
    int bandColumns = std::min(lines, width);
    if (topEdge) {
        xFrom = walked[kTopLeft] ? w : 0;
        xTo = walked[kTopRight] ? width - w : width;
        for (int i = 0; i < bandRows; ++i)
            for (int x = xFrom; x < xTo; ++x)
                LowerAlpha(AlphaAt(dib, x, i), lineLimit(i));
    }
    if (bottomEdge) {
        xFrom = walked[kBottomLeft] ? w : 0;
        xTo = walked[kBottomRight] ? width - w : width;
        for (int i = 0; i < bandRows; ++i)
            for (int x = xFrom; x < xTo; ++x)
                LowerAlpha(AlphaAt(dib, x, height - 1 - i), lineLimit(i));
    }
    if (leftEdge) {
        int yFrom = walked[kTopLeft] ? h : 0;
        int yTo = walked[kBottomLeft] ? height - h : height;
        for (int i = 0; i < bandColumns; ++i)
            for (int y = yFrom; y < yTo; ++y)
                LowerAlpha(AlphaAt(dib, i, y), lineLimit(i));
    }
    if (rightEdge) {
        int yFrom = walked[kTopRight] ? h : 0;
        int yTo = walked[kBottomRight] ? height - h : height;
        for (int i = 0; i < bandColumns; ++i)
            for (int y = yFrom; y < yTo; ++y)
                LowerAlpha(AlphaAt(dib, width - 1 - i, y), lineLimit(i));
    }
    return S_OK;
}

CDrawStatus FillRoundedRect(CGraphics& graphics, const CBrush& brush, const CRectF& rect,
                            float radius)
{
    float d = 2 * radius;
    float right = rect.x + rect.width - d;
    float bottom = rect.y + rect.height - d;
    CGraphicsPath path;
    try {
        path.AddArc(CRectF{rect.x, rect.y, d, d}, 270, -90);
        path.AddArc(CRectF{rect.x, bottom, d, d}, 180, -90);
        path.AddArc(CRectF{right, bottom, d, d}, 90, -90);
        path.AddArc(CRectF{right, rect.y, d, d}, 0, -90);
        path.CloseFigure();
    } catch (const std::bad_alloc&) {
        return graphics.SetLastStatus(CDrawStatus::OutOfMemory);
    }
    return graphics.SetLastStatus(graphics.FillPath(brush, path));
}

} // namespace zk
