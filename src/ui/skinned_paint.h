#pragma once

namespace zk {

class CDibSection;
class CZaruFrameLayout;

// The corners of every skinned window are rounded with this radius, and
// their outline faded over a band of this width.
inline constexpr double kSkinCornerRadius = 15.0;
inline constexpr double kSkinEdgeBand = 1.0;

// Lets the layout draw the whole window into the surface, then makes every
// pixel opaque, rounds and fades the four corners and edges, and
// premultiplies the colours for showing.
void PaintSkinned(CDibSection& surface, CZaruFrameLayout& layout);

} // namespace zk
