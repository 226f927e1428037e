#include "platform/x11_display.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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

namespace {

// The selection a compositing manager owns for a screen (EWMH's
// _NET_WM_CM_Sn).
std::string CompositorSelectionName(Display* display)
{
    return "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
}

// Where the fields of an XFixes selection notify event lie on the wire:
// type, subtype, sequence number, window, owner, selection, then the times.
constexpr std::size_t kSelectionEventSubtype = 1;
constexpr std::size_t kSelectionEventOwner = 8;
constexpr std::size_t kSelectionEventSelection = 12;
// The top bit of an event's type marks one another client sent.
constexpr std::uint8_t kSentEventBit = 0x80;

std::uint32_t WireWord(const std::uint8_t* event, std::size_t at)
{
    std::uint32_t word;
    std::memcpy(&word, event + at, sizeof word);
    return word;
}

} // namespace

bool HasCompositingManager(Display* display)
{
    if (!display)
        return false;
    // Only an existing atom can have an owner.
    Atom selection = XInternAtom(display, CompositorSelectionName(display).c_str(), True);
    return selection != None && XGetSelectionOwner(display, selection) != None;
}

bool WatchCompositingManager(Display* display, CCompositorWatch& watch)
{
    int eventBase = 0;
    int errorBase = 0;
    if (!display || !XFixesQueryExtension(display, &eventBase, &errorBase))
        return false;
    // Made if missing: a compositing manager that starts later takes this
    // very atom.
    Atom selection = XInternAtom(display, CompositorSelectionName(display).c_str(), False);
    if (selection == None)
        return false;
    XFixesSelectSelectionInput(display, DefaultRootWindow(display), selection,
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    XFlush(display);
    watch.eventType = eventBase + XFixesSelectionNotify;
    watch.selection = selection;
    return true;
}

bool ReadCompositorChange(const CCompositorWatch& watch, const void* event, bool& owned)
{
    auto* bytes = static_cast<const std::uint8_t*>(event);
    if (watch.eventType < 0 || (bytes[0] & ~kSentEventBit) != watch.eventType ||
        WireWord(bytes, kSelectionEventSelection) != watch.selection)
        return false;
    // A selection whose owner's window or connection went has no owner, as
    // one given up has.
    owned = bytes[kSelectionEventSubtype] == XFixesSetSelectionOwnerNotify &&
            WireWord(bytes, kSelectionEventOwner) != None;
    return true;
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
