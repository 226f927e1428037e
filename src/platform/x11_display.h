#pragma once

#include <string>

namespace zk {

// The few questions asked of the X server directly, outside the toolkit.

// True when the display named by DISPLAY can be opened; otherwise a one-line
// reason.
bool CanOpenDisplay(std::string& error);

// True while a compositing manager owns the screen's selection, so that
// windows with alpha are blended with what lies below them.
bool HasCompositingManager();

} // namespace zk
