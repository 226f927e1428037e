#pragma once

#include <cstdint>

namespace zk {

class CGraphics;
class CWindow;

// A drawn widget of a skinned window. It keeps a little state (hot,
// pressed), answers which of its parts lies at a point, and paints from its
// state only. Every operation that reacts to input or time answers whether
// something visible changed, so that the window redraws only then. Points
// are in window coordinates.
class CWidget
{
public:
    virtual ~CWidget() = default;

    virtual bool HitTest(int x, int y) const = 0;
    // Arranges the widget's children.
    virtual void Layout() = 0;
    // Follows the pointer (hover) at the time given in milliseconds.
    virtual bool Tick(std::uint32_t time, int x, int y) = 0;
    virtual bool ButtonDown(std::uint32_t keys, int x, int y) = 0;
    virtual bool ButtonUp(std::uint32_t keys, int x, int y) = 0;
    // The owner window's capture went to the window given (or none).
    virtual bool CaptureChanged(CWindow* newCapture) = 0;
    virtual void Paint(CGraphics& graphics) = 0;
};

} // namespace zk
