#include "fetch/drawing_surface.h"

#include "platform/font_families.h"

#include <QBrush>
#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <new>

namespace zk {

namespace {

// The surface counts 96 pixels to the inch, so that a point size gives the
// same pixel size on every screen.
constexpr int kDotsPerMeter = 3780; // 96 dpi
constexpr double kFullTurn = 360.0;
// Latin text is set in the serif face fontconfig chooses for English; it
// is asked for by language, since under a Japanese locale the generic serif
// is a Mincho face with thin, evenly spaced Latin letters. Without an
// answer Qt's own serif choice stands in.
constexpr const char* kGenericFamily = "serif";
constexpr const char* kLatinLanguage = "en";
// The families behind it, tried in order for what it lacks: Japanese in a
// proportional Mincho face first, then the fixed-pitch one and any other
// Japanese serif, and last the colour emoji that nicknames carry.
const char* const kFallbackFamilies[] = {"IPAPMincho", "IPAMincho", "Noto Serif CJK JP",
                                         "Noto Color Emoji"};

// The family list of every font, asked for once.
const QStringList& FontFamilies()
{
    static const QStringList families = [] {
        QStringList list;
        std::wstring latin = ResolveFontFamily(kGenericFamily, kLatinLanguage);
        list.append(latin.empty() ? QString::fromLatin1(kGenericFamily)
                                  : QString::fromStdWString(latin));
        for (const char* family : kFallbackFamilies)
            list.append(QString::fromLatin1(family));
        return list;
    }();
    return families;
}

QImage::Format QtFormat(CPixelFormat format)
{
    switch (format) {
    case CPixelFormat::Argb32:
        return QImage::Format_ARGB32;
    case CPixelFormat::Rgb32:
        return QImage::Format_RGB32;
    case CPixelFormat::Rgb24:
        return QImage::Format_BGR888;
    case CPixelFormat::Rgb555:
        return QImage::Format_RGB555;
    case CPixelFormat::Indexed8:
        return QImage::Format_Indexed8;
    }
    return QImage::Format_Invalid;
}

// A view of the image's own pixels: drawing writes through a view of a
// mutable image, while Qt copies a view of a const one before it would ever
// write to it.
template <class TImage> QImage ViewOf(TImage& image)
{
    if (image.GetWidth() <= 0 || image.GetHeight() <= 0 || !image.GetScan0())
        return {};
    QImage view(image.GetScan0(), image.GetWidth(), image.GetHeight(),
                static_cast<qsizetype>(image.GetStride()), QtFormat(image.GetPixelFormat()));
    view.setDotsPerMeterX(kDotsPerMeter);
    view.setDotsPerMeterY(kDotsPerMeter);
    if (image.GetPixelFormat() == CPixelFormat::Indexed8) {
        QList<QRgb> colors(image.GetPalette().begin(), image.GetPalette().end());
        // An index beyond the palette reads as transparent black rather than
        // as undefined memory.
        colors.resize(256, 0u);
        view.setColorTable(colors);
    }
    return view;
}

bool HasGui()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

QRectF ToQt(const CRectF& rect)
{
    return QRectF(rect.x, rect.y, rect.width, rect.height);
}

bool IsFinite(const CRectF& rect)
{
    return std::isfinite(rect.x) && std::isfinite(rect.y) && std::isfinite(rect.width) &&
           std::isfinite(rect.height);
}

bool IsFinite(const CPointF& point)
{
    return std::isfinite(point.x) && std::isfinite(point.y);
}

// A coordinate that is not a number would reach Qt, which cannot say that
// the path is wrong; such a path is refused, as the other shapes are.
bool IsFinite(const CGraphicsPath::Segment& segment)
{
    switch (segment.type) {
    case CGraphicsPath::Segment::Type::Arc:
        return IsFinite(segment.rect) && std::isfinite(segment.startAngle) &&
               std::isfinite(segment.sweepAngle);
    case CGraphicsPath::Segment::Type::Line:
        return IsFinite(segment.from) && IsFinite(segment.to);
    case CGraphicsPath::Segment::Type::Close:
        return true;
    }
    return false;
}

QString ToQString(const std::wstring& text)
{
    return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The angle on the ellipse's circle (counter-clockwise, y upwards, as Qt
// measures arcs) of the point that lies in the given direction from the
// centre (clockwise, y downwards).
double ParametricAngle(double degrees, double width, double height)
{
    double radians = degrees * M_PI / 180.0;
    double c = std::cos(radians);
    double s = std::sin(radians);
    if (width <= 0 || height <= 0)
        return -degrees;
    return std::atan2(-s / height, c / width) * 180.0 / M_PI;
}

// Start and sweep of an arc in Qt's terms.
void ArcToQt(const CRectF& rect, double start, double sweep, double& qtStart, double& qtSweep)
{
    qtStart = ParametricAngle(start, rect.width, rect.height);
    if (sweep >= kFullTurn || sweep <= -kFullTurn) {
        qtSweep = sweep > 0 ? -kFullTurn : kFullTurn;
        return;
    }
    double delta = ParametricAngle(start + sweep, rect.width, rect.height) - qtStart;
    // The sweep keeps its direction and stays within one turn.
    if (sweep > 0) {
        while (delta > 0)
            delta -= kFullTurn;
        while (delta <= -kFullTurn)
            delta += kFullTurn;
    } else if (sweep < 0) {
        while (delta < 0)
            delta += kFullTurn;
        while (delta >= kFullTurn)
            delta -= kFullTurn;
    } else {
        delta = 0;
    }
    qtSweep = delta;
}

QPainterPath ToQt(const CGraphicsPath& path)
{
    QPainterPath result;
    result.setFillRule(Qt::OddEvenFill);
    bool inFigure = false;
    for (const CGraphicsPath::Segment& segment : path.GetSegments()) {
        switch (segment.type) {
        case CGraphicsPath::Segment::Type::Arc: {
            double start = 0;
            double sweep = 0;
            ArcToQt(segment.rect, segment.startAngle, segment.sweepAngle, start, sweep);
            QRectF rect = ToQt(segment.rect);
            if (!inFigure)
                result.arcMoveTo(rect, start);
            result.arcTo(rect, start, sweep);
            inFigure = true;
            break;
        }
        case CGraphicsPath::Segment::Type::Line:
            if (!inFigure)
                result.moveTo(segment.from.x, segment.from.y);
            else
                result.lineTo(segment.from.x, segment.from.y);
            result.lineTo(segment.to.x, segment.to.y);
            inFigure = true;
            break;
        case CGraphicsPath::Segment::Type::Close:
            if (inFigure)
                result.closeSubpath();
            inFigure = false;
            break;
        }
    }
    return result;
}

std::uint8_t ToByte(float value)
{
    if (!(value > 0))
        return 0;
    if (value >= 1)
        return 255;
    return static_cast<std::uint8_t>(std::lround(value * 255.0f));
}

// The source part with the matrix applied to every pixel, as 32-bit ARGB.
QImage ApplyMatrix(const QImage& source, const QRect& part, const CColorMatrix& matrix)
{
    QImage result = source.copy(part).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            float in[5] = {qRed(row[x]) / 255.0f, qGreen(row[x]) / 255.0f, qBlue(row[x]) / 255.0f,
                           qAlpha(row[x]) / 255.0f, 1.0f};
            float out[4] = {};
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 5; ++i)
                    out[j] += in[i] * matrix.m[i][j];
            row[x] = qRgba(ToByte(out[0]), ToByte(out[1]), ToByte(out[2]), ToByte(out[3]));
        }
    }
    return result;
}

bool IsWhole(float value)
{
    return std::floor(value) == value;
}

bool IsUsable(const CBrush& brush)
{
    return brush.GetKind() != CBrush::Kind::Texture || brush.GetTexture();
}

// Keeps the painter's state around one drawing step, whatever it throws.
class CSavedState
{
public:
    explicit CSavedState(QPainter& painter) : m_painter(painter) { m_painter.save(); }
    ~CSavedState() { m_painter.restore(); }
    CSavedState(const CSavedState&) = delete;
    CSavedState& operator=(const CSavedState&) = delete;

private:
    QPainter& m_painter;
};

} // namespace

CColorMatrix CColorMatrix::AlphaScale(float scale)
{
    CColorMatrix matrix;
    matrix.m[3][3] = scale;
    return matrix;
}

bool CColorMatrix::IsAlphaScaleOnly() const
{
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) {
            if (i == 3 && j == 3)
                continue;
            float identity = i == j ? 1.0f : 0.0f;
            // The last column is never read.
            if (j != 4 && m[i][j] != identity)
                return false;
        }
    return true;
}

void CGraphicsPath::AddArc(const CRectF& rect, float startAngle, float sweepAngle)
{
    Segment segment{};
    segment.type = Segment::Type::Arc;
    segment.rect = rect;
    segment.startAngle = startAngle;
    segment.sweepAngle = sweepAngle;
    m_segments.push_back(segment);
}

void CGraphicsPath::AddLine(const CPointF& from, const CPointF& to)
{
    Segment segment{};
    segment.type = Segment::Type::Line;
    segment.from = from;
    segment.to = to;
    m_segments.push_back(segment);
}

void CGraphicsPath::CloseFigure()
{
    Segment segment{};
    segment.type = Segment::Type::Close;
    m_segments.push_back(segment);
}

struct CFont::Impl
{
    QFont font;
};

CFont::CFont(float pointSize, CFontStyle style)
{
    if (!(pointSize > 0) || !std::isfinite(pointSize)) {
        m_status = CDrawStatus::InvalidParameter;
        return;
    }
    // Qt's font database exists only once the GUI has started.
    if (!HasGui()) {
        m_status = CDrawStatus::WrongState;
        return;
    }
    try {
        m_impl = std::make_unique<Impl>();
        m_impl->font.setFamilies(FontFamilies());
        m_impl->font.setStyleHint(QFont::Serif);
        m_impl->font.setPointSizeF(pointSize);
        m_impl->font.setBold(style == CFontStyle::Bold);
    } catch (const std::bad_alloc&) {
        m_impl.reset();
        m_status = CDrawStatus::OutOfMemory;
    }
}

CFont::~CFont() = default;

struct CGraphics::Impl
{
    QImage view;
    QPainter painter;
    CSmoothingMode smoothing = CSmoothingMode::Default;
    CInterpolationMode interpolation = CInterpolationMode::Default;
    CPixelOffsetMode pixelOffset = CPixelOffsetMode::Default;

    bool IsAntialiased() const
    {
        return smoothing == CSmoothingMode::HighQuality || smoothing == CSmoothingMode::AntiAlias;
    }

    // Qt puts pixel centres half a pixel in. Where they are meant to lie on
    // whole coordinates, shapes move by half a pixel so that a one-pixel
    // line on a whole coordinate covers exactly one row of pixels. Without
    // anti-aliasing both conventions hit the same pixels.
    double ShapeOffset() const
    {
        if (!IsAntialiased())
            return 0.0;
        if (pixelOffset == CPixelOffsetMode::HighQuality || pixelOffset == CPixelOffsetMode::Half)
            return 0.0;
        return 0.5;
    }

    bool IsHighQualityScaling() const
    {
        return interpolation == CInterpolationMode::HighQuality ||
               interpolation == CInterpolationMode::HighQualityBicubic ||
               interpolation == CInterpolationMode::HighQualityBilinear;
    }

    QBrush ToQt(const CBrush& brush, double offset) const
    {
        if (brush.GetKind() == CBrush::Kind::Solid)
            return QBrush(QColor::fromRgba(brush.GetColor()));
        QBrush texture(ViewOf(*brush.GetTexture()));
        // The tiles stay on whole pixels when shapes move by half a pixel.
        if (offset != 0.0)
            texture.setTransform(QTransform::fromTranslate(-offset, -offset));
        return texture;
    }
};

CGraphics::CGraphics(CImage& target)
{
    if (target.GetPixelFormat() == CPixelFormat::Indexed8) {
        Report(CDrawStatus::WrongState);
        return;
    }
    try {
        auto impl = std::make_unique<Impl>();
        impl->view = ViewOf(target);
        if (impl->view.isNull()) {
            Report(CDrawStatus::InvalidParameter);
            return;
        }
        if (!impl->painter.begin(&impl->view)) {
            Report(CDrawStatus::GenericError);
            return;
        }
        impl->painter.setRenderHint(QPainter::Antialiasing, false);
        impl->painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        m_impl = std::move(impl);
    } catch (const std::bad_alloc&) {
        Report(CDrawStatus::OutOfMemory);
    }
}

CGraphics::~CGraphics()
{
    if (m_impl && m_impl->painter.isActive())
        m_impl->painter.end();
}

CDrawStatus CGraphics::SetSmoothingMode(CSmoothingMode mode)
{
    if (!m_impl)
        return Report(CDrawStatus::WrongState);
    m_impl->smoothing = mode;
    m_impl->painter.setRenderHint(QPainter::Antialiasing, m_impl->IsAntialiased());
    return Report(CDrawStatus::Ok);
}

CDrawStatus CGraphics::SetInterpolationMode(CInterpolationMode mode)
{
    if (!m_impl)
        return Report(CDrawStatus::WrongState);
    m_impl->interpolation = mode;
    m_impl->painter.setRenderHint(QPainter::SmoothPixmapTransform,
                                  mode != CInterpolationMode::NearestNeighbor);
    return Report(CDrawStatus::Ok);
}

CDrawStatus CGraphics::SetPixelOffsetMode(CPixelOffsetMode mode)
{
    if (!m_impl)
        return Report(CDrawStatus::WrongState);
    m_impl->pixelOffset = mode;
    return Report(CDrawStatus::Ok);
}

CDrawStatus CGraphics::Clear(std::uint32_t argb)
{
    if (!m_impl)
        return Report(CDrawStatus::WrongState);
    QPainter& p = m_impl->painter;
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(0, 0, m_impl->view.width(), m_impl->view.height()), QColor::fromRgba(argb));
    p.restore();
    return Report(CDrawStatus::Ok);
}

CDrawStatus CGraphics::DrawImage(const CImage& image, const CRectF& dest)
{
    CRectF src{0, 0, static_cast<float>(image.GetWidth()), static_cast<float>(image.GetHeight())};
    return DrawImage(image, dest, src);
}

CDrawStatus CGraphics::DrawImage(const CImage& image, const CRectF& dest, const CRectF& src,
                                 const CColorMatrix* matrix)
{
    if (!m_impl)
        return Report(CDrawStatus::WrongState);
    if (!IsFinite(dest) || !IsFinite(src) || src.width <= 0 || src.height <= 0)
        return Report(CDrawStatus::InvalidParameter);
    try {
        QImage source = ViewOf(image);
        if (source.isNull())
            return Report(CDrawStatus::InvalidParameter);
        QRectF sourceRect = ToQt(src);
        QRectF target = ToQt(dest);
        bool wholePart =
            IsWhole(src.x) && IsWhole(src.y) && IsWhole(src.width) && IsWhole(src.height);
        QRect part(static_cast<int>(src.x), static_cast<int>(src.y), static_cast<int>(src.width),
                   static_cast<int>(src.height));

        QPainter& p = m_impl->painter;
        CSavedState saved(p);
        if (matrix && !matrix->IsAlphaScaleOnly()) {
            // A general matrix needs the pixels; the part is cut out first so
            // only what is drawn is transformed.
            QRect bounded = wholePart ? part : sourceRect.toAlignedRect();
            source = ApplyMatrix(source, bounded, *matrix);
            sourceRect.translate(-bounded.x(), -bounded.y());
            part.translate(-bounded.x(), -bounded.y());
        } else if (matrix) {
            p.setOpacity(std::clamp(matrix->m[3][3], 0.0f, 1.0f));
        }

        int width = static_cast<int>(std::lround(target.width()));
        int height = static_cast<int>(std::lround(target.height()));
        bool scaled =
            target.width() != sourceRect.width() || target.height() != sourceRect.height();
        if (m_impl->IsHighQualityScaling() && wholePart && scaled && width > 0 && height > 0) {
            // Qt's painter samples a shrunk image without averaging; a
            // high-quality scale is done beforehand, on the part alone, so
            // every source pixel counts.
            QImage cut = source.copy(part).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QImage smooth =
                cut.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            p.drawImage(target, smooth, QRectF(0, 0, smooth.width(), smooth.height()));
        } else {
            p.drawImage(target, source, sourceRect);
        }
        return Report(CDrawStatus::Ok);
    } catch (const std::bad_alloc&) {
        return Report(CDrawStatus::OutOfMemory);
    }
}

template <class TDraw> CDrawStatus CGraphics::FillShape(const CBrush& brush, bool valid, TDraw draw)
{
    if (!m_impl)
        return Report(CDrawStatus::WrongState);
    if (!valid || !IsUsable(brush))
        return Report(CDrawStatus::InvalidParameter);
    try {
        QPainter& p = m_impl->painter;
        double offset = m_impl->ShapeOffset();
        CSavedState saved(p);
        if (offset != 0.0)
            p.translate(offset, offset);
        p.setPen(Qt::NoPen);
        p.setBrush(m_impl->ToQt(brush, offset));
        draw(p);
        return Report(CDrawStatus::Ok);
    } catch (const std::bad_alloc&) {
        return Report(CDrawStatus::OutOfMemory);
    }
}

CDrawStatus CGraphics::FillRectangle(const CBrush& brush, const CRectF& rect)
{
    return FillShape(brush, IsFinite(rect), [&](QPainter& p) { p.drawRect(ToQt(rect)); });
}

CDrawStatus CGraphics::FillEllipse(const CBrush& brush, const CRectF& rect)
{
    return FillShape(brush, IsFinite(rect), [&](QPainter& p) { p.drawEllipse(ToQt(rect)); });
}

CDrawStatus CGraphics::FillPie(const CBrush& brush, const CRectF& rect, float startAngle,
                               float sweepAngle)
{
    bool valid = IsFinite(rect) && std::isfinite(startAngle) && std::isfinite(sweepAngle);
    return FillShape(brush, valid, [&](QPainter& p) {
        double start = 0;
        double sweep = 0;
        ArcToQt(rect, startAngle, sweepAngle, start, sweep);
        QRectF box = ToQt(rect);
        QPainterPath pie;
        pie.moveTo(box.center());
        pie.arcTo(box, start, sweep);
        pie.closeSubpath();
        p.drawPath(pie);
    });
}

CDrawStatus CGraphics::FillPath(const CBrush& brush, const CGraphicsPath& path)
{
    const std::vector<CGraphicsPath::Segment>& segments = path.GetSegments();
    bool valid =
        std::all_of(segments.begin(), segments.end(),
                    [](const CGraphicsPath::Segment& segment) { return IsFinite(segment); });
    return FillShape(brush, valid, [&](QPainter& p) { p.drawPath(ToQt(path)); });
}

template <class TDraw> CDrawStatus CGraphics::StrokeShape(const CPen& pen, bool valid, TDraw draw)
{
    if (!m_impl)
        return Report(CDrawStatus::WrongState);
    if (!valid || !(pen.GetWidth() >= 0))
        return Report(CDrawStatus::InvalidParameter);
    QPainter& p = m_impl->painter;
    CSavedState saved(p);
    double offset = m_impl->ShapeOffset();
    if (offset != 0.0)
        p.translate(offset, offset);
    QPen qtPen(QColor::fromRgba(pen.GetColor()), pen.GetWidth());
    p.setBrush(Qt::NoBrush);
    draw(p, qtPen);
    return Report(CDrawStatus::Ok);
}

CDrawStatus CGraphics::DrawRectangle(const CPen& pen, const CRectF& rect)
{
    return StrokeShape(pen, IsFinite(rect), [&](QPainter& p, QPen& qtPen) {
        p.setPen(qtPen);
        p.drawRect(ToQt(rect));
    });
}

CDrawStatus CGraphics::DrawLine(const CPen& pen, const CPointF& from, const CPointF& to)
{
    bool valid = IsFinite(from) && IsFinite(to);
    return StrokeShape(pen, valid, [&](QPainter& p, QPen& qtPen) {
        qtPen.setCapStyle(Qt::FlatCap);
        p.setPen(qtPen);
        p.drawLine(QPointF(from.x, from.y), QPointF(to.x, to.y));
    });
}

namespace {

// A layout rectangle without width or height has no bound that way.
constexpr double kUnbounded = 1 << 24;

QRectF LayoutRect(const CRectF& layout)
{
    return QRectF(layout.x, layout.y, layout.width > 0 ? layout.width : kUnbounded,
                  layout.height > 0 ? layout.height : kUnbounded);
}

int TextFlags(const CStringFormat& format, const CRectF& layout)
{
    // By alignment: near, centre, far.
    static const int kAcross[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
    static const int kDown[] = {Qt::AlignTop, Qt::AlignVCenter, Qt::AlignBottom};
    int flags = format.noWrap ? Qt::TextSingleLine : Qt::TextWordWrap;
    // Alignment needs a bound to align against.
    if (layout.width > 0)
        flags |= kAcross[static_cast<int>(format.alignment)];
    else
        flags |= Qt::AlignLeft;
    if (layout.height > 0)
        flags |= kDown[static_cast<int>(format.lineAlignment)];
    else
        flags |= Qt::AlignTop;
    return flags;
}

// The text as it is set in the layout: a single line that does not fit
// the width is shortened with an ellipsis by Qt, which cuts only between
// whole characters (a surrogate pair or a cluster with its marks stays
// whole or goes whole).
QString LaidOutText(const std::wstring& text, const QPainter& painter, const CStringFormat& format,
                    const CRectF& layout)
{
    QString laidOut = ToQString(text);
    if (!format.ellipsis || !format.noWrap || !(layout.width > 0))
        return laidOut;
    QFontMetricsF metrics(painter.font(), painter.device());
    return metrics.elidedText(laidOut, Qt::ElideRight, layout.width, Qt::TextSingleLine);
}

} // namespace

CDrawStatus CGraphics::CheckText(const CFont& font, const CRectF& layout, bool usable)
{
    if (!m_impl)
        return Report(CDrawStatus::WrongState);
    if (font.GetLastStatus() != CDrawStatus::Ok || !font.GetImpl())
        return Report(font.GetLastStatus() == CDrawStatus::Ok ? CDrawStatus::WrongState
                                                              : font.GetLastStatus());
    if (!IsFinite(layout) || !usable)
        return Report(CDrawStatus::InvalidParameter);
    return CDrawStatus::Ok;
}

CDrawStatus CGraphics::MeasureString(const std::wstring& text, const CFont& font,
                                     const CRectF& layout, const CStringFormat& format,
                                     CRectF& bounds)
{
    bounds = CRectF{};
    if (CheckText(font, layout, true) != CDrawStatus::Ok)
        return m_status;
    try {
        QPainter& p = m_impl->painter;
        CSavedState saved(p);
        p.setFont(font.GetImpl()->font);
        QRectF box = p.boundingRect(LayoutRect(layout), TextFlags(format, layout),
                                    LaidOutText(text, p, format, layout));
        bounds = CRectF{static_cast<float>(box.x()), static_cast<float>(box.y()),
                        static_cast<float>(box.width()), static_cast<float>(box.height())};
        return Report(CDrawStatus::Ok);
    } catch (const std::bad_alloc&) {
        return Report(CDrawStatus::OutOfMemory);
    }
}

CDrawStatus CGraphics::DrawString(const std::wstring& text, const CFont& font, const CRectF& layout,
                                  const CStringFormat& format, const CBrush& brush)
{
    if (CheckText(font, layout, IsUsable(brush)) != CDrawStatus::Ok)
        return m_status;
    try {
        QPainter& p = m_impl->painter;
        CSavedState saved(p);
        QRectF box = LayoutRect(layout);
        if (!format.noClip && layout.width > 0 && layout.height > 0)
            p.setClipRect(box, Qt::IntersectClip);
        p.setFont(font.GetImpl()->font);
        p.setPen(QPen(m_impl->ToQt(brush, 0.0), 0));
        p.drawText(box, TextFlags(format, layout), LaidOutText(text, p, format, layout));
        return Report(CDrawStatus::Ok);
    } catch (const std::bad_alloc&) {
        return Report(CDrawStatus::OutOfMemory);
    }
}

CDrawStatus CGraphics::SetClip(const CRectF& rect)
{
    if (!m_impl)
        return Report(CDrawStatus::WrongState);
    if (!IsFinite(rect))
        return Report(CDrawStatus::InvalidParameter);
    m_impl->painter.setClipRect(ToQt(rect), Qt::ReplaceClip);
    return Report(CDrawStatus::Ok);
}

CDrawStatus CGraphics::ResetClip()
{
    if (!m_impl)
        return Report(CDrawStatus::WrongState);
    m_impl->painter.setClipping(false);
    return Report(CDrawStatus::Ok);
}

CDrawStatus EncodePng(const CImage& image, std::string& data)
{
    data.clear();
    try {
        QImage view = ViewOf(image);
        if (view.isNull())
            return CDrawStatus::InvalidParameter;
        QByteArray bytes;
        QBuffer buffer(&bytes);
        if (!buffer.open(QIODevice::WriteOnly) || !view.save(&buffer, "PNG"))
            return CDrawStatus::GenericError;
        data.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        return CDrawStatus::Ok;
    } catch (const std::bad_alloc&) {
        data.clear();
        return CDrawStatus::OutOfMemory;
    }
}

} // namespace zk
