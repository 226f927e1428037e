#pragma once

#include "fetch/draw_status.h"
#include "fetch/image.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zk {

// The drawing surface: everything the program draws goes through these few
// objects, so the 2D library underneath stays out of the windows and the
// bitmap tools. Coordinates are in pixels, y downwards; angles are in
// degrees, clockwise from the x axis, and on an ellipse an angle names the
// direction of the point as seen from the centre. Colours are 0xAARRGGBB,
// alpha not premultiplied. Every operation reports a status.

struct CPointF
{
    float x = 0;
    float y = 0;
};

struct CRectF
{
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;
};

enum class CSmoothingMode
{
    Default,
    HighSpeed,
    HighQuality,
    None,
    AntiAlias,
};

enum class CInterpolationMode
{
    Default,
    LowQuality,
    HighQuality,
    Bilinear,
    Bicubic,
    NearestNeighbor,
    HighQualityBilinear,
    HighQualityBicubic,
};

// Where pixel centres lie: at whole coordinates (Default, HighSpeed, None),
// or half a pixel in (HighQuality, Half), where a rectangle from (0, 0) to
// (w, h) covers exactly w × h pixels.
enum class CPixelOffsetMode
{
    Default,
    HighSpeed,
    HighQuality,
    None,
    Half,
};

// A colour transform applied to every source pixel of an image: the row
// (r, g, b, a, 1), components from 0 to 1, times the matrix.
struct CColorMatrix
{
    float m[5][5] = {
        {1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}};

    // The matrix that scales alpha only, for fading an image in or out.
    static CColorMatrix AlphaScale(float scale);
    // True when the matrix changes nothing but alpha, by a factor.
    bool IsAlphaScaleOnly() const;
};

class CBrush
{
public:
    enum class Kind
    {
        Solid,
        Texture,
    };

    Kind GetKind() const { return m_kind; }
    std::uint32_t GetColor() const { return m_color; }
    const std::shared_ptr<CImage>& GetTexture() const { return m_texture; }

protected:
    CBrush(Kind kind, std::uint32_t color, std::shared_ptr<CImage> texture)
        : m_kind(kind), m_color(color), m_texture(std::move(texture))
    {}

private:
    Kind m_kind;
    std::uint32_t m_color;
    std::shared_ptr<CImage> m_texture;
};

class CSolidBrush : public CBrush
{
public:
    explicit CSolidBrush(std::uint32_t argb) : CBrush(Kind::Solid, argb, nullptr) {}
};

// Tiles the image from the origin of the graphics.
class CTextureBrush : public CBrush
{
public:
    explicit CTextureBrush(std::shared_ptr<CImage> image)
        : CBrush(Kind::Texture, 0, std::move(image))
    {}
};

class CPen
{
public:
    explicit CPen(std::uint32_t argb, float width = 1.0f) : m_color(argb), m_width(width) {}

    std::uint32_t GetColor() const { return m_color; }
    float GetWidth() const { return m_width; }

private:
    std::uint32_t m_color;
    float m_width;
};

// A path of figures made of arcs and lines; each new piece of a figure is
// joined to the previous one by a straight line. Filled with the alternate
// (even-odd) rule.
class CGraphicsPath
{
public:
    struct Segment
    {
        enum class Type
        {
            Arc,
            Line,
            Close,
        };
        Type type;
        CRectF rect;      // arc: the ellipse's bounding box
        float startAngle; // arc: degrees, clockwise
        float sweepAngle; // arc: degrees, clockwise when positive
        CPointF from, to; // line
    };

    void AddArc(const CRectF& rect, float startAngle, float sweepAngle);
    void AddLine(const CPointF& from, const CPointF& to);
    // Closes the current figure; the next piece starts a new one.
    void CloseFigure();

    const std::vector<Segment>& GetSegments() const { return m_segments; }

private:
    std::vector<Segment> m_segments;
};

enum class CFontStyle
{
    Regular,
    Bold,
};

// A font of the generic serif family, with Japanese glyphs, at a size in
// points (a point is 1/72 inch and the surface has 96 pixels per inch).
// Fonts need the program's GUI to be started; without it the font reports
// WrongState and nothing is drawn with it.
class CFont
{
public:
    explicit CFont(float pointSize, CFontStyle style = CFontStyle::Regular);
    ~CFont();
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;

    CDrawStatus GetLastStatus() const { return m_status; }

    struct Impl;
    const Impl* GetImpl() const { return m_impl.get(); }

private:
    CDrawStatus m_status = CDrawStatus::Ok;
    std::unique_ptr<Impl> m_impl;
};

enum class CStringAlignment
{
    Near,
    Center,
    Far,
};

struct CStringFormat
{
    CStringAlignment alignment = CStringAlignment::Near;     // horizontal
    CStringAlignment lineAlignment = CStringAlignment::Near; // vertical
    bool noWrap = false;
    // Text is clipped to its layout rectangle unless this is set.
    bool noClip = false;
    // A single line (noWrap) wider than the layout rectangle ends in an
    // ellipsis where it is cut, between whole characters, so that it stops
    // inside the rectangle.
    bool ellipsis = false;
};

// A drawing target over an image: what is drawn lands in the image's own
// pixels. The image must outlive the graphics; an indexed image cannot be
// drawn into (WrongState).
class CGraphics
{
public:
    explicit CGraphics(CImage& target);
    ~CGraphics();
    CGraphics(const CGraphics&) = delete;
    CGraphics& operator=(const CGraphics&) = delete;

    // The status of the latest operation, or of the construction.
    CDrawStatus GetLastStatus() const { return m_status; }

    CDrawStatus SetSmoothingMode(CSmoothingMode mode);
    CDrawStatus SetInterpolationMode(CInterpolationMode mode);
    CDrawStatus SetPixelOffsetMode(CPixelOffsetMode mode);

    // Every pixel inside the clip becomes the colour, alpha included.
    CDrawStatus Clear(std::uint32_t argb);

    CDrawStatus DrawImage(const CImage& image, const CRectF& dest);
    // The part src of the image, scaled into dest; the matrix, when given,
    // transforms the source colours first.
    CDrawStatus DrawImage(const CImage& image, const CRectF& dest, const CRectF& src,
                          const CColorMatrix* matrix = nullptr);

    CDrawStatus FillRectangle(const CBrush& brush, const CRectF& rect);
    CDrawStatus FillEllipse(const CBrush& brush, const CRectF& rect);
    CDrawStatus FillPie(const CBrush& brush, const CRectF& rect, float startAngle,
                        float sweepAngle);
    CDrawStatus FillPath(const CBrush& brush, const CGraphicsPath& path);
    CDrawStatus DrawRectangle(const CPen& pen, const CRectF& rect);
    CDrawStatus DrawLine(const CPen& pen, const CPointF& from, const CPointF& to);

    // The rectangle the text takes when laid out in the layout rectangle.
    CDrawStatus MeasureString(const std::wstring& text, const CFont& font, const CRectF& layout,
                              const CStringFormat& format, CRectF& bounds);
    CDrawStatus DrawString(const std::wstring& text, const CFont& font, const CRectF& layout,
                           const CStringFormat& format, const CBrush& brush);

    // Drawing is limited to the rectangle until ResetClip.
    CDrawStatus SetClip(const CRectF& rect);
    CDrawStatus ResetClip();

    // Records a status from a step done outside the graphics, such as a
    // path fill helper.
    CDrawStatus SetLastStatus(CDrawStatus status) { return m_status = status; }

private:
    struct Impl;
    CDrawStatus Report(CDrawStatus status) { return m_status = status; }
    // The common steps of the shape and text operations: the state and
    // argument checks in their order, the pixel offset, the painter's state.
    template <class TDraw> CDrawStatus FillShape(const CBrush& brush, bool valid, TDraw draw);
    template <class TDraw> CDrawStatus StrokeShape(const CPen& pen, bool valid, TDraw draw);
    CDrawStatus CheckText(const CFont& font, const CRectF& layout, bool usable);

    std::unique_ptr<Impl> m_impl;
    CDrawStatus m_status = CDrawStatus::Ok;
};

// Encodes the image as PNG: 32-bit images with their alpha, others opaque.
CDrawStatus EncodePng(const CImage& image, std::string& data);

} // namespace zk
