#include "platform/ui_services.h"

#include "platform/window.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace zk {

namespace {

// Squared distance from the point to the rectangle, zero inside it.
std::int64_t DistanceSquared(const RECT& rect, POINT point)
{
    std::int64_t dx = 0;
    std::int64_t dy = 0;
    if (point.x < rect.left)
        dx = std::int64_t(rect.left) - point.x;
    else if (point.x >= rect.right)
        dx = std::int64_t(point.x) - rect.right + 1;
    if (point.y < rect.top)
        dy = std::int64_t(rect.top) - point.y;
    else if (point.y >= rect.bottom)
        dy = std::int64_t(point.y) - rect.bottom + 1;
    return dx * dx + dy * dy;
}

} // namespace

POINT GetCursorPos()
{
    return GetWindowSystem().GetCursorPos();
}

CMonitorInfo MonitorFromPoint(POINT point)
{
    auto monitors = GetWindowSystem().GetMonitors();
    const CMonitorInfo* nearest = &monitors.front();
    std::int64_t best = std::numeric_limits<std::int64_t>::max();
    for (const CMonitorInfo& monitor : monitors) {
        std::int64_t distance = DistanceSquared(monitor.monitor, point);
        if (distance < best) {
            best = distance;
            nearest = &monitor;
        }
    }
    return *nearest;
}

CMonitorInfo GetPrimaryMonitor()
{
    return GetWindowSystem().GetMonitors().front();
}

RECT GetVirtualScreenRect()
{
    auto monitors = GetWindowSystem().GetMonitors();
    RECT all = monitors.front().monitor;
    for (const CMonitorInfo& monitor : monitors) {
        all.left = std::min(all.left, monitor.monitor.left);
        all.top = std::min(all.top, monitor.monitor.top);
        all.right = std::max(all.right, monitor.monitor.right);
        all.bottom = std::max(all.bottom, monitor.monitor.bottom);
    }
    return all;
}

RECT MoveRectInside(RECT rect, const RECT& bounds)
{
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    if (rect.right > bounds.right)
        dx = bounds.right - rect.right;
    if (rect.left + dx < bounds.left)
        dx = bounds.left - rect.left;
    if (rect.bottom > bounds.bottom)
        dy = bounds.bottom - rect.bottom;
    if (rect.top + dy < bounds.top)
        dy = bounds.top - rect.top;
    return OffsetRect(rect, dx, dy);
}

unsigned GetDoubleClickTime()
{
    return GetWindowSystem().GetDoubleClickTime();
}

void MessageBeep()
{
    GetWindowSystem().Beep();
}

bool SetClipboardText(const std::wstring& text)
{
    return GetWindowSystem().SetClipboardText(text);
}

std::wstring GetClipboardText()
{
    return GetWindowSystem().GetClipboardText();
}

int MessageBox(CWindow* owner, const std::wstring& text, const std::wstring& title,
               std::uint32_t type)
{
    CWindow::ReleaseCapture();
    return GetWindowSystem().MessageBox(owner, text, title, type);
}

int TrackPopupMenu(const CMenu& menu, std::uint32_t flags, POINT screen, CWindow* owner)
{
    CWindow::ReleaseCapture();
    int chosen = GetWindowSystem().TrackPopupMenu(menu, screen, owner);
    if (flags & TPM_RETURNCMD)
        return chosen;
    if (chosen != 0 && owner && !(flags & TPM_NONOTIFY))
        owner->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(chosen));
    return chosen != 0;
}

} // namespace zk
