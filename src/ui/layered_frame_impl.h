#pragma once

#include "fetch/dib.h"
#include "platform/window.h"

#include <memory>
#include <string>

namespace zk {

// A window that paints itself completely into an off-screen 32-bit bitmap
// and shows that bitmap with its alpha: there is no frame of the window
// system, the window's own hit test decides what is caption and border.
// T gives the window's traits as kStyle and kExStyle.
template <class T> class CLayeredFrameImpl : public CWindow
{
public:
    bool CreateEx(CWindow* owner, const RECT& rect, const std::wstring& title)
    {
        return Create(owner, rect, title, T::kStyle, T::kExStyle);
    }

    // Places every widget after the window's rectangle.
    virtual void Layout() = 0;
    // Draws the whole window into the surface, which has the window's size.
    virtual void Paint(CDibSection& surface) = 0;

    // Paints the window off screen and shows the result. The bitmap is kept
    // while the window's size stays.
    virtual void Redraw()
    {
        if (!IsWindow())
            return;
        RECT rect = GetWindowRect();
        if (rect.IsEmpty())
            return;
        int width = static_cast<int>(rect.Width());
        int height = static_cast<int>(rect.Height());
        if (!m_surface || m_surface->GetWidth() != width || m_surface->GetHeight() != height) {
            m_surface.reset();
            auto surface = std::make_shared<CDibSection>();
            if (!surface->Create(width, height, 32) || !surface->AllocBits())
                return;
            m_surface = std::move(surface);
        }
        Paint(*m_surface);
        UpdateLayeredWindow(reinterpret_cast<const std::uint32_t*>(m_surface->GetBits()), width,
                            height, m_surface->GetStride());
    }

    const std::shared_ptr<CDibSection>& GetSurface() const { return m_surface; }

protected:
    void OnSize(int /*width*/, int /*height*/) override
    {
        Layout();
        Redraw();
    }

    void OnMove(int /*x*/, int /*y*/) override { Layout(); }

    // The minimise button acts at once on the press.
    void OnNcLButtonDown(int hitCode, POINT screen) override
    {
        if (hitCode == HTMINBUTTON) {
            PostMessage(WM_SYSCOMMAND, SC_MINIMIZE);
            return;
        }
        CWindow::OnNcLButtonDown(hitCode, screen);
    }

    // Only the caption offers the window's menu.
    void OnNcRButtonUp(int hitCode, POINT screen) override
    {
        if (hitCode == HTCAPTION)
            OnContextMenu(screen);
    }

private:
    std::shared_ptr<CDibSection> m_surface;
};

} // namespace zk
