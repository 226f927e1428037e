#include "ui/zaru_circle_button.h"

#include "fetch/drawing_surface.h"

#include <algorithm>

namespace zk {

CZaruCircleButton::CZaruCircleButton(std::shared_ptr<CImage> smallImage,
                                     std::shared_ptr<CImage> largeImage, int hitCode)
    : m_small(std::move(smallImage)), m_large(std::move(largeImage)), m_hitCode(hitCode)
{}

int CZaruCircleButton::GetMaxGrowth() const
{
    if (!m_small || !m_large)
        return 0;
    return std::max(0, m_large->GetWidth() / 2 - m_small->GetWidth() / 2);
}

bool CZaruCircleButton::SetCenter(int x, int y)
{
    if (x == m_centerX && y == m_centerY)
        return false;
    m_centerX = x;
    m_centerY = y;
    return true;
}

RECT CZaruCircleButton::GetBounds() const
{
    int radius = (m_small ? m_small->GetWidth() / 2 : 0) + GetMaxGrowth();
    return {m_centerX - radius, m_centerY - radius, m_centerX + radius + 1, m_centerY + radius + 1};
}

bool CZaruCircleButton::Hit(int x, int y) const
{
    if (!m_small)
        return false;
    std::int64_t radius = m_small->GetWidth() / 2 + m_growth;
    std::int64_t dx = std::int64_t(x) - m_centerX;
    std::int64_t dy = std::int64_t(y) - m_centerY;
    return dx * dx + dy * dy <= radius * radius;
}

bool CZaruCircleButton::Tick(std::uint32_t time, int x, int y)
{
    bool hover = Hit(x, y);
    if (hover != m_hover) {
        // The first tick of a change only starts the clock.
        m_hover = hover;
        m_changeTime = time;
        m_growthAtChange = m_growth;
        return false;
    }
    int most = GetMaxGrowth();
    // Unsigned difference: right across the wrap of the millisecond count.
    std::uint32_t elapsed = std::min<std::uint32_t>(time - m_changeTime, kGrowMs);
    int step = static_cast<int>(elapsed * most / kGrowMs);
    int growth =
        m_hover ? std::min(most, m_growthAtChange + step) : std::max(0, m_growthAtChange - step);
    if (growth == m_growth)
        return false;
    m_growth = growth;
    return true;
}

void CZaruCircleButton::Paint(CGraphics& graphics) const
{
    if (!m_small)
        return;
    float width = float(m_small->GetWidth());
    float height = float(m_small->GetHeight());
    float left = m_centerX - float(m_small->GetWidth() / 2);
    float top = m_centerY - float(m_small->GetHeight() / 2);
    if (m_growth == 0 || !m_large) {
        graphics.DrawImage(*m_small, {left, top, width, height});
        return;
    }
    float g = float(m_growth);
    graphics.DrawImage(*m_large, {left - g, top - g, width + 2 * g, height + 2 * g});
}

} // namespace zk
