#pragma once

class QWidget;

namespace zk {

class CWindow;

// The toolkit's widget of a window made by the desktop's window system, or
// nullptr; for the platform's own dialogs, which need their owner's widget.
QWidget* WidgetOfWindow(CWindow* window);

} // namespace zk
