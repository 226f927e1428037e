#pragma once

#include "platform/window_system.h"
#include "platform/window_types.h"

#include <string>

namespace zk {

class CMenu;
class CWindow;

// The user-interface services the windows call, by the names they have
// always had. They go to the installed window system.

POINT GetCursorPos();
// The double-click time of the desktop, in milliseconds.
unsigned GetDoubleClickTime();
// The monitor nearest the point (the primary one when none is).
CMonitorInfo MonitorFromPoint(POINT point);
CMonitorInfo GetPrimaryMonitor();
// The rectangle that holds every monitor.
RECT GetVirtualScreenRect();
// Moves the rectangle the least so that it lies inside the bounds (its
// top-left wins when it is larger).
RECT MoveRectInside(RECT rect, const RECT& bounds);

void MessageBeep();
bool SetClipboardText(const std::wstring& text);
std::wstring GetClipboardText();

// A message box owned by the window; the capture is released first, as a
// modal box takes the mouse.
int MessageBox(CWindow* owner, const std::wstring& text, const std::wstring& title,
               std::uint32_t type);

// Shows the menu at the screen point. With TPM_RETURNCMD the chosen command
// id is answered (0 for none); otherwise it is sent to the owner as
// WM_COMMAND and the answer is whether one was chosen.
int TrackPopupMenu(const CMenu& menu, std::uint32_t flags, POINT screen, CWindow* owner);

} // namespace zk
