#pragma once

#include "platform/rect.h"

#include <cstdint>

namespace zk {

class CGraphics;
class CWindow;

// A vertical scroll bar whose position counts pixels of the content. It
// tells its window of every change of position by WM_COMMAND with its id,
// and of nothing else. Points are in window coordinates.
class CZaruScrollBar
{
public:
    static constexpr int kDotMargin = 4;
    static constexpr int kDotGap = 3;
    static constexpr int kDotSize = 5;
    // Thumbs shorter than this have no room for the three grip dots.
    static constexpr int kGripHeight = 2 * kDotGap + 3 * kDotSize + 2 * kDotMargin;
    // A thumb is never shorter than its grip: with a long list the share of
    // the view would leave nothing to see or grab.
    static constexpr int kMinThumbHeight = kGripHeight;
    static constexpr int kWheelStep = 12;
    static constexpr std::uint32_t kOutlineColor = 0x8E8E8E;
    static constexpr std::uint32_t kThumbColor = 0x999999;
    static constexpr std::uint32_t kDotColor = 0xCCFFFFFF;

    explicit CZaruScrollBar(int commandId) : m_commandId(commandId) {}

    void SetOwner(CWindow* owner) { m_owner = owner; }
    int GetCommandId() const { return m_commandId; }
    const RECT& GetRect() const { return m_rect; }
    void SetRect(const RECT& rect);
    const RECT& GetThumbRect() const { return m_thumb; }
    void SetSelected(bool selected) { m_selected = selected; }

    int GetMinimum() const { return m_minimum; }
    int GetMaximum() const { return m_maximum; }
    int GetPage() const { return m_page; }
    int GetPosition() const { return m_position; }
    bool IsHover() const { return m_hover; }
    bool IsDragging() const { return m_dragging; }

    // The content size; the position follows a shrinking maximum.
    bool SetMaximum(int maximum);
    // The view size, at most the range.
    bool SetPage(int page);
    // The content and the view size at once, as a view sets them when it
    // is rebuilt: the position then keeps a whole page in view wherever the
    // content allows, so that a shorter content or a taller view leaves no
    // empty room below the end of the content. It tells of a move once.
    bool SetRange(int maximum, int page);
    // Any position of the range.
    bool SetPosition(int position);
    // A position that keeps a whole page in view.
    bool ScrollTo(int position);
    bool ScrollBy(int delta) { return ScrollTo(m_position + delta); }

    bool ButtonDown(int x, int y);
    bool MouseMove(int x, int y);
    bool ButtonUp(int x, int y);
    bool Wheel(int delta);
    bool Tick(int x, int y);
    // A drag ends when the window loses the mouse.
    bool CaptureChanged(CWindow* newCapture);
    void Paint(CGraphics& graphics) const;

private:
    // The number of positions, maximum − minimum + 1.
    std::int64_t Range() const { return std::int64_t(m_maximum) - m_minimum + 1; }
    void UpdateThumb();
    // The thumb's height by its share of the range, before the least height.
    std::int64_t ShareHeight() const;
    // While the thumb is held at its least height, positions spread over the
    // track it leaves free: the last position puts it at the bottom.
    bool IsThumbAtLeastHeight() const;
    std::int64_t PositionsPerTrack(std::int64_t pixels) const;
    // The last position that still shows a whole page.
    std::int64_t LastWholePage() const;
    bool MoveTo(int position);
    int DragPosition(int y) const;

    CWindow* m_owner = nullptr;
    int m_commandId;
    RECT m_rect;
    RECT m_thumb;
    bool m_selected = false;
    int m_minimum = 0;
    int m_maximum = 100;
    int m_page = 10;
    int m_position = 0;
    int m_dragStartPosition = 0;
    int m_dragStartX = 0;
    int m_dragStartY = 0;
    bool m_hover = false;
    bool m_dragging = false;
};

} // namespace zk
