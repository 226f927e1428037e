#include "platform/x11_display.h"

#include <X11/Xlib.h>
#include <cstdlib>

namespace zk {

bool CanOpenDisplay(std::string& error)
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        error = "no display: DISPLAY is not set";
        return false;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        error = std::string("cannot open display ") + name;
        return false;
    }
    XCloseDisplay(display);
    return true;
}

bool HasCompositingManager()
{
    // A connection of its own, kept for the run: the question is asked at
    // every repaint of a window's shape.
    static Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    static Atom selection = [] {
        std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
        return XInternAtom(display, name.c_str(), False);
    }();
    return XGetSelectionOwner(display, selection) != None;
}

} // namespace zk
