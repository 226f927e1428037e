#pragma once

#include "platform/rect.h"

#include <cstdint>
#include <memory>

namespace zk {

class CGraphics;
class CImage;

// A round title button (close, minimise). It grows from its small image to
// its large one while the pointer is over it and shrinks back when the
// pointer leaves, linearly over kGrowMs. Its hit code tells the window what
// a press on it means. Points are in window coordinates.
class CZaruCircleButton
{
public:
    static constexpr std::uint32_t kGrowMs = 100;

    CZaruCircleButton(std::shared_ptr<CImage> smallImage, std::shared_ptr<CImage> largeImage,
                      int hitCode);

    int GetHitCode() const { return m_hitCode; }
    int GetCenterX() const { return m_centerX; }
    int GetCenterY() const { return m_centerY; }
    int GetGrowth() const { return m_growth; }
    // The most it grows: half the difference of the two images' widths.
    int GetMaxGrowth() const;
    // Answers whether the centre moved.
    bool SetCenter(int x, int y);

    // Inside the circle of the small image's radius plus the growth.
    bool Hit(int x, int y) const;
    // The square the button covers at its largest.
    RECT GetBounds() const;
    // Follows the pointer at the time in milliseconds; answers whether the
    // size changed.
    bool Tick(std::uint32_t time, int x, int y);
    void Paint(CGraphics& graphics) const;

private:
    std::shared_ptr<CImage> m_small;
    std::shared_ptr<CImage> m_large;
    int m_centerX = 0;
    int m_centerY = 0;
    bool m_hover = false;
    // When the hover last changed, and the growth then: a change halfway
    // through turns round from where it stands.
    std::uint32_t m_changeTime = 0;
    int m_growthAtChange = 0;
    int m_growth = 0;
    int m_hitCode;
};

} // namespace zk
