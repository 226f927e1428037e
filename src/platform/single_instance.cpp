#include "platform/single_instance.h"

#include "platform/text_convert.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zk {

namespace {

// A folder fit for the lock: a real folder (not a link) of this user that
// nobody else may write.
bool IsPrivateFolder(const std::string& path, std::string& why)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode) && info.st_uid != ::getuid()) {
        // Someone else made it first: the lock is blocked by that user.
        why = path + " belongs to another user (uid " + std::to_string(info.st_uid) +
              "), who blocks the lock; remove it or set XDG_RUNTIME_DIR";
        return false;
    }
    if (!S_ISDIR(info.st_mode) || (info.st_mode & 022) != 0) {
        why = path + " is not a folder of this user alone";
        return false;
    }
    return true;
}

std::wstring Trimmed(const std::wstring& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && std::iswspace(text[first]))
        ++first;
    while (last > first && std::iswspace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

Atom AtomOf(Display* display, const char* name)
{
    return XInternAtom(display, name, False);
}

// A property as items of the given format; empty when it is missing.
template <class T>
std::vector<T> ReadProperty(Display* display, Window window, Atom property, Atom type)
{
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::vector<T> items;
    if (XGetWindowProperty(display, window, property, 0, 1 << 16, False, type, &actualType,
                           &actualFormat, &count, &remaining, &data) != Success)
        return items;
    if (data && actualType == type) {
        // Xlib hands 32-bit items as longs.
        if (actualFormat == 32) {
            auto* longs = reinterpret_cast<unsigned long*>(data);
            items.assign(longs, longs + count);
        } else if (actualFormat == 8) {
            items.assign(data, data + count);
        }
    }
    if (data)
        XFree(data);
    return items;
}

std::wstring WindowTitle(Display* display, Window window)
{
    auto utf8 = ReadProperty<unsigned char>(display, window, AtomOf(display, "_NET_WM_NAME"),
                                            AtomOf(display, "UTF8_STRING"));
    if (!utf8.empty())
        return Utf8ToWide(std::string(utf8.begin(), utf8.end()));
    char* name = nullptr;
    std::wstring title;
    if (XFetchName(display, window, &name) && name) {
        title = Utf8ToWide(name);
        XFree(name);
    }
    return title;
}

std::vector<Window> TopLevelWindows(Display* display, bool& managed)
{
    Window root = DefaultRootWindow(display);
    auto clients =
        ReadProperty<unsigned long>(display, root, AtomOf(display, "_NET_CLIENT_LIST"), XA_WINDOW);
    managed = !clients.empty();
    if (managed)
        return std::vector<Window>(clients.begin(), clients.end());
    // Without a window manager the program's windows are the root's children.
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<Window> windows;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count) && children) {
        windows.assign(children, children + count);
        XFree(children);
    }
    return windows;
}

bool IsMinimized(Display* display, Window window)
{
    Atom wmState = AtomOf(display, "WM_STATE");
    auto state = ReadProperty<unsigned long>(display, window, wmState, wmState);
    if (!state.empty() && state[0] == IconicState)
        return true;
    auto netState =
        ReadProperty<unsigned long>(display, window, AtomOf(display, "_NET_WM_STATE"), XA_ATOM);
    Atom hidden = AtomOf(display, "_NET_WM_STATE_HIDDEN");
    for (unsigned long atom : netState) {
        if (atom == hidden)
            return true;
    }
    return false;
}

void Activate(Display* display, Window window, bool managed)
{
    if (!managed) {
        XRaiseWindow(display, window);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        return;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = AtomOf(display, "_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // a request on the user's behalf
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

void AskForAttention(Display* display, Window window)
{
    XWMHints* hints = XGetWMHints(display, window);
    XWMHints fresh{};
    XWMHints* target = hints ? hints : &fresh;
    target->flags |= XUrgencyHint;
    XSetWMHints(display, window, target);
    if (hints)
        XFree(hints);
}

} // namespace

CInstanceLock::~CInstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string CInstanceLock::LockFolder(std::string& why)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && IsPrivateFolder(runtime, why))
        return runtime;
    // The fallback lives under the user's own home, where no other user
    // can make the folder first (a shared temporary folder would let anyone
    // block the lock, or hand over a folder of their own).
    std::string state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && xdg[0] == '/')
        state = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        state = std::string(home) + "/.local/state";
    else {
        why = "neither XDG_RUNTIME_DIR, XDG_STATE_HOME nor HOME is set";
        return {};
    }
    std::string folder = state + "/zarumatekit";
    // Each missing step of the path is made for this user alone.
    for (std::size_t at = state.find('/', 1);; at = folder.find('/', at + 1)) {
        std::string step = folder.substr(0, at);
        if (::mkdir(step.c_str(), 0700) != 0 && errno != EEXIST) {
            why = step + ": " + std::strerror(errno);
            return {};
        }
        if (at == std::string::npos)
            break;
    }
    if (!IsPrivateFolder(folder, why))
        return {};
    return folder;
}

CInstanceLock::Result CInstanceLock::Acquire(const std::string& name, std::string& why)
{
    std::string folder = LockFolder(why);
    if (folder.empty())
        return Result::Unavailable;
    std::string path = folder + "/" + name + ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = path + ": " + std::strerror(errno);
        return Result::Unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return Result::Running;
        why = path + ": " + std::strerror(err);
        return Result::Unavailable;
    }
    m_fd = fd;
    return Result::First;
}

bool BringWindowForward(const std::wstring& title)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    bool managed = false;
    Window found = 0;
    for (Window window : TopLevelWindows(display, managed)) {
        if (Trimmed(WindowTitle(display, window)) == title)
            found = window;
    }
    if (found) {
        if (IsMinimized(display, found))
            AskForAttention(display, found);
        else
            Activate(display, found, managed);
        XFlush(display);
    }
    XCloseDisplay(display);
    return found != 0;
}

} // namespace zk
