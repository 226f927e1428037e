#include "ui/zaru_normal_button.h"

#include "fetch/drawing_surface.h"
#include "platform/window.h"

namespace zk {

std::uint8_t CZaruNormalButton::GetAlpha() const
{
    if (m_pressed && m_hot)
        return kAlphaPressed;
    if (m_selected || m_hot)
        return kAlphaHot;
    return kAlphaNormal;
}

bool CZaruNormalButton::HitTest(int x, int y) const
{
    if (!m_owner)
        return false;
    // While another widget of the window holds the mouse, this one is not
    // under it.
    if (CWindow::GetCapture() == m_owner && !m_pressed)
        return false;
    return PtInRect(m_rect, {x, y});
}

bool CZaruNormalButton::Tick(std::uint32_t /*time*/, int x, int y)
{
    bool hot = HitTest(x, y);
    if (hot == m_hot)
        return false;
    m_hot = hot;
    return true;
}

bool CZaruNormalButton::ButtonDown(std::uint32_t /*keys*/, int x, int y)
{
    if (!m_owner || !HitTest(x, y))
        return false;
    m_hot = true;
    m_pressed = true;
    m_owner->SetCapture();
    return true;
}

bool CZaruNormalButton::ButtonUp(std::uint32_t /*keys*/, int x, int y)
{
    // While its click is still going out (what it opened runs a loop of its
    // own) the button takes no other release: that one belongs to another
    // widget, whose hold on the mouse must stay.
    if (m_inClick)
        return false;
    bool hit = HitTest(x, y);
    if (!m_pressed) {
        if (hit == m_hot)
            return false;
        m_hot = hit;
        return true;
    }
    // The click goes out while the button is still marked, so that what it
    // opens finds it pressed; losing the capture meanwhile does not cancel it.
    m_inClick = true;
    if (hit && m_owner)
        m_owner->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(m_commandId));
    m_inClick = false;
    m_pressed = false;
    m_hot = hit;
    if (m_owner && CWindow::GetCapture() == m_owner)
        CWindow::ReleaseCapture();
    return true;
}

bool CZaruNormalButton::CaptureChanged(CWindow* /*newCapture*/)
{
    if (!m_owner || !m_pressed || m_inClick)
        return false;
    m_pressed = false;
    return true;
}

void CZaruNormalButton::Paint(CGraphics& graphics)
{
    if (!m_image || m_rect.IsEmpty())
        return;
    CRectF dest{float(m_rect.left), float(m_rect.top), float(m_rect.Width()),
                float(m_rect.Height())};
    CRectF source{0, 0, float(m_image->GetWidth()), float(m_image->GetHeight())};
    std::uint8_t alpha = GetAlpha();
    if (alpha == kAlphaPressed) {
        graphics.DrawImage(*m_image, dest, source);
        return;
    }
    CColorMatrix matrix = CColorMatrix::AlphaScale(alpha / 255.0f);
    graphics.DrawImage(*m_image, dest, source, &matrix);
}

} // namespace zk
