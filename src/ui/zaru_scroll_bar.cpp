#include "ui/zaru_scroll_bar.h"

#include "fetch/drawing_surface.h"
#include "platform/window.h"

#include <algorithm>

namespace zk {

namespace {

std::uint32_t WithAlpha(std::uint8_t alpha, std::uint32_t rgb)
{
    return (std::uint32_t(alpha) << 24) | rgb;
}

// A rectangle drawn on pixel centres, so that a one-pixel pen covers whole
// pixels.
CRectF PixelCentres(const RECT& rect)
{
    return {rect.left + 0.5f, rect.top + 0.5f, float(rect.Width() - 1), float(rect.Height() - 1)};
}

} // namespace

void CZaruScrollBar::SetRect(const RECT& rect)
{
    m_rect = rect;
    UpdateThumb();
}

std::int64_t CZaruScrollBar::ShareHeight() const
{
    return Range() > 0 ? m_page * m_rect.Height() / Range() : m_rect.Height();
}

bool CZaruScrollBar::IsThumbAtLeastHeight() const
{
    return ShareHeight() < kMinThumbHeight && m_rect.Height() > kMinThumbHeight && Range() > m_page;
}

std::int64_t CZaruScrollBar::PositionsPerTrack(std::int64_t pixels) const
{
    if (!IsThumbAtLeastHeight())
        return pixels * Range() / std::max<std::int64_t>(m_rect.Height(), 1);
    return pixels * (Range() - m_page) / (m_rect.Height() - kMinThumbHeight);
}

void CZaruScrollBar::UpdateThumb()
{
    std::int64_t height = m_rect.Height();
    std::int64_t range = Range();
    m_thumb = m_rect;
    if (range <= 0)
        return;
    if (IsThumbAtLeastHeight()) {
        std::int64_t track = height - kMinThumbHeight;
        std::int64_t offset = (std::int64_t(m_position) - m_minimum) * track / (range - m_page);
        m_thumb.top =
            static_cast<std::int32_t>(m_rect.top + std::clamp<std::int64_t>(offset, 0, track));
        m_thumb.bottom = m_thumb.top + kMinThumbHeight;
        return;
    }
    m_thumb.top = static_cast<std::int32_t>(m_rect.top + m_position * height / range);
    if (std::int64_t(m_position) + m_page - 1 < m_maximum)
        m_thumb.bottom = static_cast<std::int32_t>(m_thumb.top + m_page * height / range);
    else
        m_thumb.bottom = m_rect.bottom;
}

bool CZaruScrollBar::SetMaximum(int maximum)
{
    if (maximum == m_maximum || maximum < m_minimum)
        return false;
    m_maximum = maximum;
    if (m_position > m_maximum)
        MoveTo(m_maximum);
    UpdateThumb();
    return true;
}

bool CZaruScrollBar::SetPage(int page)
{
    int limited = static_cast<int>(std::min<std::int64_t>(page, Range()));
    if (limited == m_page)
        return false;
    m_page = limited;
    UpdateThumb();
    return true;
}

bool CZaruScrollBar::SetRange(int maximum, int page)
{
    bool changed = false;
    if (maximum != m_maximum && maximum >= m_minimum) {
        m_maximum = maximum;
        changed = true;
    }
    int limited = static_cast<int>(std::min<std::int64_t>(page, Range()));
    if (limited != m_page) {
        m_page = limited;
        changed = true;
    }
    UpdateThumb();
    // Only the position moves here, and only back: a view scrolled to the
    // end of a list that lost people shows the rest of it, not the empty
    // slots past its end.
    std::int64_t last = std::max<std::int64_t>(LastWholePage(), m_minimum);
    if (m_position > last)
        MoveTo(static_cast<int>(last));
    return changed;
}

std::int64_t CZaruScrollBar::LastWholePage() const
{
    return std::int64_t(m_maximum) - m_page + 1;
}

bool CZaruScrollBar::SetPosition(int position)
{
    return MoveTo(std::clamp(position, m_minimum, m_maximum));
}

bool CZaruScrollBar::ScrollTo(int position)
{
    std::int64_t last = LastWholePage();
    std::int64_t clamped =
        std::max<std::int64_t>(std::min<std::int64_t>(position, last), m_minimum);
    return MoveTo(static_cast<int>(std::clamp<std::int64_t>(clamped, m_minimum, m_maximum)));
}

bool CZaruScrollBar::MoveTo(int position)
{
    if (position == m_position)
        return false;
    m_position = position;
    UpdateThumb();
    if (m_owner)
        m_owner->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(m_commandId));
    return true;
}

int CZaruScrollBar::DragPosition(int y) const
{
    return static_cast<int>(m_dragStartPosition +
                            PositionsPerTrack(std::int64_t(y) - m_dragStartY));
}

bool CZaruScrollBar::ButtonDown(int x, int y)
{
    if (!PtInRect(m_rect, {x, y}))
        return false;
    if (!PtInRect(m_thumb, {x, y})) {
        // A press beside the thumb centres the thumb on the pointer.
        std::int64_t target =
            IsThumbAtLeastHeight()
                ? PositionsPerTrack(std::int64_t(y) - m_rect.top - kMinThumbHeight / 2) + m_minimum
                : PositionsPerTrack(std::int64_t(y) - m_rect.top) + m_minimum - m_page / 2;
        ScrollTo(static_cast<int>(std::clamp<std::int64_t>(target, m_minimum, m_maximum)));
    }
    m_dragStartPosition = m_position;
    m_dragStartX = x;
    m_dragStartY = y;
    m_hover = true;
    m_dragging = true;
    if (m_owner)
        m_owner->SetCapture();
    return true;
}

bool CZaruScrollBar::MouseMove(int /*x*/, int y)
{
    if (!m_dragging)
        return false;
    return ScrollTo(DragPosition(y));
}

bool CZaruScrollBar::ButtonUp(int x, int y)
{
    bool hover = PtInRect(m_rect, {x, y});
    if (!m_dragging) {
        if (hover == m_hover)
            return false;
        m_hover = hover;
        return true;
    }
    ScrollTo(DragPosition(y));
    m_dragging = false;
    m_hover = hover;
    if (m_owner && CWindow::GetCapture() == m_owner)
        CWindow::ReleaseCapture();
    return true;
}

bool CZaruScrollBar::Wheel(int delta)
{
    // Twelve pixels a notch; turning the wheel towards the user scrolls down.
    return ScrollTo(static_cast<int>(m_position + std::int64_t(delta) * kWheelStep / -WHEEL_DELTA));
}

bool CZaruScrollBar::Tick(int x, int y)
{
    bool hover = PtInRect(m_rect, {x, y});
    if (hover == m_hover)
        return false;
    m_hover = hover;
    return true;
}

bool CZaruScrollBar::CaptureChanged(CWindow* newCapture)
{
    if (!m_dragging || (m_owner && newCapture == m_owner))
        return false;
    m_dragging = false;
    return true;
}

void CZaruScrollBar::Paint(CGraphics& graphics) const
{
    if (m_rect.IsEmpty())
        return;
    std::uint8_t alpha = m_dragging ? 255 : (m_selected || m_hover) ? 229 : 127;
    graphics.DrawRectangle(CPen(WithAlpha(alpha, kOutlineColor)), PixelCentres(m_rect));
    if (m_thumb.IsEmpty())
        return;
    graphics.FillRectangle(CSolidBrush(WithAlpha(alpha, kThumbColor)), PixelCentres(m_thumb));
    int thumbHeight = static_cast<int>(m_thumb.Height());
    int thumbWidth = static_cast<int>(m_thumb.Width());
    if (thumbHeight < kGripHeight || thumbWidth < kDotSize)
        return;
    float x = float(m_thumb.left + (thumbWidth - kDotSize) / 2);
    float y = float(m_thumb.top + kDotMargin + (thumbHeight - kGripHeight) / 2);
    CSolidBrush dots(kDotColor);
    for (int i = 0; i < 3; ++i, y += kDotSize + kDotGap)
        graphics.FillEllipse(dots, {x, y, float(kDotSize), float(kDotSize)});
}

} // namespace zk
