#pragma once

#include "platform/rect.h"

#include <string>
#include <vector>

// Xlib's Display, without Xlib's macros in every file that includes this.
struct _XDisplay;

namespace zk {

// The few questions asked of the X server directly, outside the toolkit.

// True when the display named by DISPLAY can be opened; otherwise a one-line
// reason.
bool CanOpenDisplay(std::string& error);

// True while a compositing manager owns the selection of the display's
// default screen, so that windows with alpha are blended with what lies
// below them. Asked on the toolkit's own connection: a connection of its
// own would outlive the server it was opened on (and the first request
// after the server went would end the process).
bool HasCompositingManager(_XDisplay* display);

// How the server tells this connection that the compositing manager's
// selection changed hands: the event code and the selection's atom.
struct CCompositorWatch
{
    int eventType = -1;
    unsigned long selection = 0;
};

// Asks the server to send an event whenever the selection of the display's
// compositing manager is taken, given up or lost with its owner, so that
// whether one runs is known without asking each time. False when the server
// cannot (no XFixes).
bool WatchCompositingManager(_XDisplay* display, CCompositorWatch& watch);

// Reads one event as the server sent it (xcb's wire layout): true when it is
// the watched selection's change, with whether a compositing manager owns
// it now.
bool ReadCompositorChange(const CCompositorWatch& watch, const void* event, bool& owned);

// Lets the window take pointer input only on the rectangles (in window
// coordinates); elsewhere presses go to what lies below. False when the
// server cannot shape windows.
bool SetInputShape(_XDisplay* display, unsigned long window, const std::vector<RECT>& rects);

} // namespace zk
