#include "ui/skinned_paint.h"

#include "fetch/bitmap_ops.h"
#include "fetch/dib.h"
#include "fetch/drawing_surface.h"
#include "ui/zaru_frame_layout.h"

namespace zk {

void PaintSkinned(CDibSection& surface, CZaruFrameLayout& layout)
{
    if (!surface.GetBitmap())
        return;
    {
        CGraphics graphics(*surface.GetBitmap());
        layout.Paint(graphics);
    }
    surface.SetAlpha(255);
    RoundCorners(surface, kSkinCornerRadius, kSkinCornerRadius, true, true, true, true);
    EdgeFade(surface, kSkinCornerRadius, kSkinCornerRadius, kSkinEdgeBand, true, true, true, true,
             true, true, true, true);
    surface.Premultiply();
}

} // namespace zk
