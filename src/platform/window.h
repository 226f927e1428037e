#pragma once

#include "platform/window_types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zk {

class IWindowPeer;

// A top-level window of the program. A window of a Part derives from it
// (through the window templates) and overrides the handlers of the messages
// it handles; what it leaves alone gets the default processing a window
// system gives: a press on the caption moves the window, on a border
// resizes it when it has a thick frame, the close and minimise codes close
// and minimise it, a right-button release asks for the context menu.
//
// Everything here runs on the user-interface thread. The toolkit below is
// reached only through the window system (window_system.h), so a window can
// be driven by a fake one in tests.
class CWindow
{
public:
    CWindow();
    virtual ~CWindow();
    CWindow(const CWindow&) = delete;
    CWindow& operator=(const CWindow&) = delete;

    // Makes the window (hidden) at the rectangle in screen coordinates and
    // calls OnCreate; false when the window system cannot make it or
    // OnCreate answers -1. The owner, when given, stays below the window.
    bool Create(CWindow* owner, const RECT& rect, const std::wstring& title, std::uint32_t style,
                std::uint32_t exStyle);
    // Calls OnDestroy and lets the native window go. Safe inside a handler.
    void DestroyWindow();
    bool IsWindow() const { return m_peer != nullptr; }

    RECT GetWindowRect() const { return m_rect; }
    RECT GetClientRect() const;
    POINT ScreenToClient(POINT point) const;
    POINT ClientToScreen(POINT point) const;
    // Moves and sizes the window; OnMove and OnSize follow at once when the
    // position or size changed.
    bool MoveWindow(const RECT& rect, bool repaint = true);
    void ShowWindow(int command);
    bool IsWindowVisible() const;
    bool IsIconic() const;
    // A disabled window takes no mouse or key input (an owner while its
    // popup runs).
    void EnableWindow(bool enable);
    bool IsWindowEnabled() const { return m_enabled; }
    void SetForegroundWindow();
    bool IsActiveWindow() const;
    const std::wstring& GetWindowText() const { return m_title; }
    CWindow* GetOwner() const { return m_owner; }

    // Sends a message: it is handled before the call returns.
    std::intptr_t SendMessage(std::uint32_t message, std::uintptr_t wParam = 0,
                              std::intptr_t lParam = 0);
    // Posts a message: it is handled later by the message loop, after the
    // message filters had their look. Dropped when the window is gone.
    void PostMessage(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

    // One timer per id; setting an id again restarts it.
    void SetTimer(int id, unsigned elapseMs);
    void KillTimer(int id);

    // The capture sends every mouse message to this window as a client
    // message until it is released. The holder hears OnCaptureChanged
    // whenever it loses the capture: released, taken by another window, a
    // menu or message box opened, or the window deactivated.
    void SetCapture();
    static void ReleaseCapture();
    static CWindow* GetCapture();

    void SetCursor(CCursor cursor);

    // Shows a 32-bit premultiplied bitmap of the window's size, top row
    // first, as the whole window, alpha included. Which pixels are
    // see-through must depend on the size alone (as the skin's round
    // corners do): the window is cut to the first picture of each size.
    void UpdateLayeredWindow(const std::uint32_t* pixels, int width, int height,
                             std::size_t stride);

    // Runs a nested message loop until this window receives WM_APP (which
    // ends it) or the program quits.
    void RunModalLoop();

    // Events from the native window; the window system calls them.
    void PeerMouseButton(CMouseButton button, bool down, POINT screen, std::uint32_t keys);
    void PeerMouseMove(POINT screen, std::uint32_t keys);
    void PeerMouseWheel(int delta, POINT screen, std::uint32_t keys);
    void PeerTimer(int id);
    void PeerGeometryChanged(const RECT& rect);
    void PeerCloseRequested();
    void PeerDeactivated();
    void PeerKeyDown(int key);
    // The tooltip at the screen point: its text and the screen rectangle
    // it belongs to; false where the window has none (or takes no input).
    bool PeerToolTip(POINT screen, std::wstring& text, RECT& area);
    void PeerEndSession();

    static constexpr std::uintptr_t MakeCommandParam(int id, int code = 0)
    {
        return (static_cast<std::uintptr_t>(code & 0xFFFF) << 16) |
               static_cast<std::uintptr_t>(id & 0xFFFF);
    }

protected:
    // Message handlers. Points are in client coordinates unless the name of
    // the parameter says screen.
    virtual int OnCreate() { return 0; }
    virtual void OnDestroy() {}
    // Default: destroy the window.
    virtual void OnClose();
    virtual void OnEndSession(bool /*ending*/) {}
    virtual void OnTimer(int /*id*/) {}
    virtual void OnSize(int /*width*/, int /*height*/) {}
    virtual void OnMove(int /*x*/, int /*y*/) {}
    // The smallest size the user may size the window to.
    virtual void OnGetMinMaxInfo(SIZE& /*minTrackSize*/) {}
    virtual void OnLButtonDown(std::uint32_t /*keys*/, POINT /*point*/) {}
    virtual void OnLButtonUp(std::uint32_t /*keys*/, POINT /*point*/) {}
    virtual void OnRButtonDown(std::uint32_t /*keys*/, POINT /*point*/) {}
    // Default: OnContextMenu at the point.
    virtual void OnRButtonUp(std::uint32_t keys, POINT point);
    virtual void OnMouseMove(std::uint32_t /*keys*/, POINT /*point*/) {}
    virtual void OnMouseWheel(std::uint32_t /*keys*/, int /*delta*/, POINT /*screen*/) {}
    virtual void OnCaptureChanged(CWindow* /*newCapture*/) {}
    virtual void OnContextMenu(POINT /*screen*/) {}
    virtual void OnCommand(int /*code*/, int /*id*/) {}
    // Default: SC_MINIMIZE minimises, SC_RESTORE restores, SC_CLOSE sends
    // WM_CLOSE.
    virtual void OnSysCommand(std::uint32_t command);
    // Answers true when it set the cursor; otherwise the default one for the
    // hit code is set.
    virtual bool OnSetCursor(int /*hitCode*/) { return false; }
    virtual int OnNcHitTest(POINT /*screen*/) { return HTCLIENT; }
    // Defaults: see the class comment.
    virtual void OnNcLButtonDown(int hitCode, POINT screen);
    virtual void OnNcLButtonUp(int hitCode, POINT screen);
    virtual void OnNcRButtonUp(int hitCode, POINT screen);
    virtual void OnKeyDown(int /*key*/) {}
    // The tooltip at the point: its text and the client rectangle it
    // belongs to (the tip goes when the pointer leaves it). Default: none.
    virtual bool OnToolTip(POINT /*point*/, std::wstring& /*text*/, RECT& /*area*/)
    {
        return false;
    }
    virtual void OnApp(std::uintptr_t /*wParam*/, std::intptr_t /*lParam*/) {}

private:
    std::intptr_t Dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    void ClientButton(CMouseButton button, bool down, std::uint32_t keys, POINT point);
    void TrackNonClient(int hitCode, POINT screen);
    bool MoveOrSizeByHand(POINT screen);
    void SetDefaultCursor(int hitCode);
    SIZE MinTrackSize();

    std::unique_ptr<IWindowPeer> m_peer;
    // Posted messages hold this weakly, so that they are dropped once the
    // window is gone.
    std::shared_ptr<CWindow*> m_self;
    CWindow* m_owner = nullptr;
    std::wstring m_title;
    std::uint32_t m_style = 0;
    std::uint32_t m_exStyle = 0;
    RECT m_rect;
    bool m_enabled = true;
    bool m_inModalLoop = false;
    bool m_modalDone = false;

    // A press on a non-client part that is being followed: the close or
    // minimise button until the release, or a move or resize the window
    // does by hand where the window system cannot.
    int m_ncPressed = HTNOWHERE;
    bool m_trackingByHand = false;
    POINT m_trackStart;
    RECT m_trackRect;
};

// Nothing in a window of the program is in a native unit: this is the one
// place that knows that a thick frame resizes and which corner a code names.
bool IsSizingHitCode(int hitCode);

} // namespace zk
