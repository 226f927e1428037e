#pragma once

#include "platform/rect.h"
#include "platform/window_types.h"
#include "ui/zaru_circle_button.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zk {

class CGraphics;
class CImage;
class CWindow;

// The skin of a window: the striped frame around an inner area, the title
// lettering, the round title buttons at the top right, and which part of the
// window lies under a point (caption, border, corner, button, client). The
// layouts of the main window and the popups build on it.
class CZaruFrameLayout
{
public:
    // Border and caption thickness around the inner area.
    static constexpr int kMarginLeft = 5;
    static constexpr int kMarginTop = 27;
    static constexpr int kMarginRight = 5;
    static constexpr int kMarginBottom = 16;
    // The first round button's centre lies this far from the right edge,
    // every button's centre this far below the top; each next one is
    // kTitleButtonSpacing further left.
    static constexpr int kTitleButtonRight = 16;
    static constexpr int kTitleButtonTop = 14;
    static constexpr int kTitleButtonSpacing = 23;
    // Where the title lettering sits.
    static constexpr int kTitleLogoLeft = 16;
    static constexpr int kTitleLogoTop = 8;
    // The tooltips of the close and minimise buttons.
    static constexpr std::uint32_t kCloseToolTipId = 2414;
    static constexpr std::uint32_t kMinimizeToolTipId = 2415;

    CZaruFrameLayout();
    virtual ~CZaruFrameLayout();

    // Reads the window's rectangle and places the inner area and the round
    // buttons; answers whether a button moved.
    bool Layout(CWindow* window);
    // The hit code at a point in screen coordinates.
    virtual int HitTest(int x, int y) const;
    // Grows and shrinks the round buttons after the pointer (window
    // coordinates) at the time in milliseconds; answers whether any changed.
    bool Tick(std::uint32_t time, int x, int y);
    void PaintFrame(CGraphics& graphics) const;
    // Draws the whole window: the frame, then what a layout shows inside.
    virtual void Paint(CGraphics& graphics) { PaintFrame(graphics); }
    // The tooltip at a point (window coordinates): its text and the
    // rectangle it belongs to; false where there is none. Here: the round
    // title buttons.
    virtual bool GetToolTip(POINT point, std::wstring& text, RECT& area) const;
    // A key pressed in the window; answers whether to redraw. Here: none
    // is taken.
    virtual bool OnKeyDown(int /*key*/) { return false; }
    // Adds a round title button left of the others, its images by id.
    void AddRoundButton(int smallId, int largeId, int hitCode);

    void SetTitleLogo(std::shared_ptr<CImage> logo) { m_titleLogo = std::move(logo); }

    CWindow* GetOwner() const { return m_owner; }
    const RECT& GetWindowRect() const { return m_windowRect; }
    const RECT& GetLocalRect() const { return m_localRect; }
    const RECT& GetInnerRect() const { return m_innerRect; }
    const std::vector<std::shared_ptr<CZaruCircleButton>>& GetRoundButtons() const
    {
        return m_roundButtons;
    }

protected:
    CWindow* m_owner = nullptr;
    RECT m_windowRect;
    RECT m_localRect;
    RECT m_innerRect;
    std::shared_ptr<CImage> m_background;
    std::shared_ptr<CImage> m_titleLogo;
    std::vector<std::shared_ptr<CZaruCircleButton>> m_roundButtons;
};

} // namespace zk
