#include "platform/x11_display.h"

#include <X11/Xlib.h>
#include <X11/extensions/shape.h>
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

bool SetInputShape(Display* display, unsigned long window, const std::vector<RECT>& rects)
{
    int eventBase = 0;
    int errorBase = 0;
    if (!display || !XShapeQueryExtension(display, &eventBase, &errorBase))
        return false;
    std::vector<XRectangle> shape;
    shape.reserve(rects.size());
    for (const RECT& rect : rects) {
        shape.push_back({static_cast<short>(rect.left), static_cast<short>(rect.top),
                         static_cast<unsigned short>(rect.Width()),
                         static_cast<unsigned short>(rect.Height())});
    }
    // The rectangles come row by row, left to right: already in bands.
    XShapeCombineRectangles(display, window, ShapeInput, 0, 0, shape.data(),
                            static_cast<int>(shape.size()), ShapeSet, YXBanded);
    XFlush(display);
    return true;
}

} // namespace zk
