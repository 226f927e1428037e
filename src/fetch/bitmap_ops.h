#pragma once

#include "fetch/dib.h"
#include "fetch/drawing_surface.h"
#include "platform/rect.h"
#include "platform/result_code.h"

#include <memory>
#include <vector>

namespace zk {

// The bitmap tools shared by the avatar thumbnails and the skinned windows.
// All pixel work is on 32-bit pixels, bytes blue, green, red, alpha, alpha
// not premultiplied unless Premultiply was called.

// A drawing-surface bitmap for the DIB. With share, a 32- or 8-bit DIB is
// drawn into directly (32-bit ARGB, or indexed with the DIB's colour table)
// and must outlive the bitmap; otherwise the bitmap is a copy: 8 bits
// indexed, 16 bits RGB 555, 24 and 32 bits RGB (alpha ignored). Empty on
// failure.
std::shared_ptr<CImage> BitmapOverDib(CDib& dib, bool share);

// A new bitmap that owns a copy of the DIB's pixels: 32-bit ARGB with the
// alpha flag (indexed for an 8-bit DIB), otherwise by depth as above.
std::shared_ptr<CImage> CopyDibToBitmap(const CDib& dib, bool alpha);

// Draws the source rectangle of the image into the target rectangle of the
// bitmap with the interpolation given, pixel centres half a pixel in.
bool DrawScaled(const CImage& source, const RECT& sourceRect, CImage& target,
                const RECT& targetRect, CInterpolationMode mode);

// Makes the chosen corners transparent, anti-aliased, by scaling alpha with
// the coverage of a quarter ellipse. The radii are limited to half the
// width and height. E_INVALIDARG unless the DIB has 32-bit pixels.
HRESULT RoundCorners(CDib& dib, double radiusX, double radiusY, bool topLeft, bool bottomLeft,
                     bool bottomRight, bool topRight);

// Lowers alpha along the chosen edges and inside the chosen rounded corners,
// so that the outline of a rounded window is anti-aliased over a band of the
// given width. Colour bytes stay. E_INVALIDARG unless 32-bit.
HRESULT EdgeFade(CDib& dib, double radiusX, double radiusY, double band, bool topLeft,
                 bool bottomLeft, bool bottomRight, bool topRight, bool leftEdge, bool topEdge,
                 bool rightEdge, bool bottomEdge);

// The share of a pixel at distance d inside an edge that a band of width b
// covers, and the table of the band's lines: entry i is the share of the
// line i pixels in from the edge.
double EdgeFadeCoverage(double d, double band);
std::vector<double> EdgeFadeBandTable(double band);

// Fills a rectangle whose corners are quarter circles of the radius. The
// status is also kept as the graphics' last status.
CDrawStatus FillRoundedRect(CGraphics& graphics, const CBrush& brush, const CRectF& rect,
                            float radius);

} // namespace zk
