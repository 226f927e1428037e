#pragma once

namespace zk {

class CTextureBrush;

// The skin pieces every window shares, made once at start-up before the
// first window and released at the end.
bool CreateSkinResources();
void ReleaseSkinResources();

// The dotted line between cells and under the detail popup's content;
// nullptr while the resources are not made.
const CTextureBrush* GetDottedSeparatorBrush();

} // namespace zk
