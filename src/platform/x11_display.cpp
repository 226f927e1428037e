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

bool HasCompositingManager(Display* display)
{
    if (!display)
        return false;
    std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    // Only an existing atom can have an owner.
    Atom selection = XInternAtom(display, name.c_str(), True);
    return selection != None && XGetSelectionOwner(display, selection) != None;
}

} // namespace zk
