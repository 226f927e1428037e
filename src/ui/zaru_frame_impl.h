#pragma once

#include "ui/layered_frame_impl.h"
#include "ui/skinned_paint.h"

namespace zk {

// The skinned main window: a layered top-most window with a thick frame
// (its borders resize it) and a minimise button. T holds its layout, a
// CZaruFrameLayout, and gives it with GetLayout().
template <class T> class CZaruFrameImpl : public CLayeredFrameImpl<T>
{
public:
    static constexpr std::uint32_t kStyle =
        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;
    static constexpr std::uint32_t kExStyle = WS_EX_LAYERED | WS_EX_TOPMOST;

    void Layout() override { Self().GetLayout().Layout(this); }
    void Paint(CDibSection& surface) override { PaintSkinned(surface, Self().GetLayout()); }

protected:
    int OnNcHitTest(POINT screen) override
    {
        return Self().GetLayout().HitTest(screen.x, screen.y);
    }

    bool OnToolTip(POINT point, std::wstring& text, RECT& area) override
    {
        return Self().GetLayout().GetToolTip(point, text, area);
    }

    void OnKeyDown(int key) override
    {
        if (Self().GetLayout().OnKeyDown(key))
            this->Redraw();
    }

private:
    T& Self() { return static_cast<T&>(*this); }
};

} // namespace zk
