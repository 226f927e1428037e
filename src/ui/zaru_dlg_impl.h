#pragma once

#include "ui/layered_frame_impl.h"
#include "ui/skinned_paint.h"

namespace zk {

// A skinned popup: a layered window that moves by its caption but does not
// resize. Closing it ends its modal run (WM_APP) instead of destroying it.
// T holds its layout and gives it with GetLayout().
template <class T> class CZaruDlgImpl : public CLayeredFrameImpl<T>
{
public:
    static constexpr std::uint32_t kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    static constexpr std::uint32_t kExStyle = WS_EX_LAYERED;

    void Layout() override { Self().GetLayout().Layout(this); }
    void Paint(CDibSection& surface) override { PaintSkinned(surface, Self().GetLayout()); }

protected:
    int OnNcHitTest(POINT screen) override
    {
        return Self().GetLayout().HitTest(screen.x, screen.y);
    }
    void OnClose() override { this->PostMessage(WM_APP); }

private:
    T& Self() { return static_cast<T&>(*this); }
};

} // namespace zk
