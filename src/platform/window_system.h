#pragma once

#include "platform/window_types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zk {

class CMenu;
class CWindow;

// One native window behind a CWindow: the few things a toolkit must do for
// it. Its events go back through the CWindow's Peer... calls.
class IWindowPeer
{
public:
    virtual ~IWindowPeer() = default;

    virtual void SetGeometry(const RECT& rect) = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual bool IsVisible() const = 0;
    virtual void Minimize() = 0;
    virtual void Restore() = 0;
    virtual bool IsMinimized() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual void SetMinimumSize(SIZE size) = 0;
    virtual void Activate() = 0;
    virtual bool IsActive() const = 0;
    virtual void ShowBitmap(const std::uint32_t* pixels, int width, int height,
                            std::size_t stride) = 0;
    // Hands a move or resize to the window manager; false where none can do
    // it, and the window then follows the pointer by itself.
    virtual bool StartSystemMove() = 0;
    virtual bool StartSystemResize(int hitCode) = 0;
    virtual void SetCursor(CCursor cursor) = 0;
    virtual void StartTimer(int id, unsigned elapseMs) = 0;
    virtual void StopTimer(int id) = 0;
};

struct CMonitorInfo
{
    RECT monitor; // the whole screen
    RECT work;    // without panels and docks
};

// The process-wide services of the window system: windows, the message
// loop, screens, the pointer, the clipboard, message boxes and menus.
class IWindowSystem
{
public:
    virtual ~IWindowSystem() = default;

    virtual std::unique_ptr<IWindowPeer> CreatePeer(CWindow& window, CWindow* owner,
                                                    const std::wstring& title, std::uint32_t style,
                                                    std::uint32_t exStyle) = 0;

    // Runs the task from the message loop, after what is already queued.
    virtual void Post(std::function<void()> task) = 0;
    // The main loop: runs until Quit and answers its code. Idle handlers of
    // the message loop run whenever the queue has run dry.
    virtual int RunLoop() = 0;
    virtual void Quit(int code) = 0;
    // A nested loop: runs until done is true (checked after each message)
    // or the program quits.
    virtual void RunNestedLoop(const bool& done) = 0;
    // Tells nested loops to look at their flags again.
    virtual void WakeNestedLoops() = 0;

    // What a system without a setting of its own takes (the toolkit's
    // default too).
    static constexpr unsigned kDefaultDoubleClickMs = 400;

    virtual POINT GetCursorPos() const = 0;
    // Every monitor, the primary one first; never empty.
    virtual std::vector<CMonitorInfo> GetMonitors() const = 0;
    virtual void Beep() = 0;
    // The longest time between the two clicks of a double-click.
    virtual unsigned GetDoubleClickTime() const { return kDefaultDoubleClickMs; }
    virtual bool SetClipboardText(const std::wstring& text) = 0;
    virtual std::wstring GetClipboardText() const = 0;
    // Answers IDOK, IDYES or IDNO as the user chose; IDCANCEL when a
    // question was dismissed without an answer (Escape, the close button, or
    // the program's loop ended under it).
    virtual int MessageBox(CWindow* owner, const std::wstring& text, const std::wstring& title,
                           std::uint32_t type) = 0;
    // Shows the menu at the screen point and answers the chosen command id,
    // 0 when the user chose nothing.
    virtual int TrackPopupMenu(const CMenu& menu, POINT screen, CWindow* owner) = 0;
};

// The window system every window uses; the program installs the real one at
// start, tests a fake one. Not owned.
void SetWindowSystem(IWindowSystem* system);
IWindowSystem& GetWindowSystem();
bool HasWindowSystem();

} // namespace zk
