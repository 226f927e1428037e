#include "platform/window.h"

#include "platform/message_loop.h"
#include "platform/window_system.h"

#include <algorithm>

namespace zk {

namespace {

CWindow* g_capture = nullptr;

int LowWord(std::uintptr_t value)
{
    return static_cast<int>(value & 0xFFFF);
}

int HighWord(std::uintptr_t value)
{
    return static_cast<int>((value >> 16) & 0xFFFF);
}

bool TouchesLeft(int hit)
{
    return hit == HTLEFT || hit == HTTOPLEFT || hit == HTBOTTOMLEFT;
}

bool TouchesRight(int hit)
{
    return hit == HTRIGHT || hit == HTTOPRIGHT || hit == HTBOTTOMRIGHT;
}

bool TouchesTop(int hit)
{
    return hit == HTTOP || hit == HTTOPLEFT || hit == HTTOPRIGHT;
}

bool TouchesBottom(int hit)
{
    return hit == HTBOTTOM || hit == HTBOTTOMLEFT || hit == HTBOTTOMRIGHT;
}

} // namespace

bool IsSizingHitCode(int hitCode)
{
    return hitCode >= HTLEFT && hitCode <= HTBOTTOMRIGHT;
}

CWindow::CWindow() : m_self(std::make_shared<CWindow*>(this)) {}

CWindow::~CWindow()
{
    // A window destroyed by its owner object goes without its handlers: the
    // derived part is already gone.
    if (g_capture == this)
        g_capture = nullptr;
    *m_self = nullptr;
    m_peer.reset();
}

bool CWindow::Create(CWindow* owner, const RECT& rect, const std::wstring& title,
                     std::uint32_t style, std::uint32_t exStyle)
{
    if (m_peer || !HasWindowSystem())
        return false;
    m_owner = owner;
    m_title = title;
    m_style = style;
    m_exStyle = exStyle;
    m_enabled = true;
    m_peer = GetWindowSystem().CreatePeer(*this, owner, title, style, exStyle);
    if (!m_peer)
        return false;
    if (m_style & WS_THICKFRAME)
        m_peer->SetMinimumSize(MinTrackSize());
    m_rect = rect;
    m_peer->SetGeometry(rect);
    if (OnCreate() == -1) {
        DestroyWindow();
        return false;
    }
    // A new window hears where it is and how big, as after any move.
    if (m_peer) {
        OnMove(m_rect.left, m_rect.top);
        if (m_peer)
            OnSize(static_cast<int>(m_rect.Width()), static_cast<int>(m_rect.Height()));
    }
    return m_peer != nullptr;
}

void CWindow::DestroyWindow()
{
    if (!m_peer)
        return;
    if (g_capture == this)
        ReleaseCapture();
    OnDestroy();
    m_peer.reset();
    if (m_inModalLoop) {
        m_modalDone = true;
        GetWindowSystem().WakeNestedLoops();
    }
}

RECT CWindow::GetClientRect() const
{
    return {0, 0, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top};
}

POINT CWindow::ScreenToClient(POINT point) const
{
    return {point.x - m_rect.left, point.y - m_rect.top};
}

POINT CWindow::ClientToScreen(POINT point) const
{
    return {point.x + m_rect.left, point.y + m_rect.top};
}

bool CWindow::MoveWindow(const RECT& rect, bool /*repaint*/)
{
    if (!m_peer)
        return false;
    m_peer->SetGeometry(rect);
    PeerGeometryChanged(rect);
    return true;
}

void CWindow::ShowWindow(int command)
{
    if (!m_peer)
        return;
    switch (command) {
    case SW_HIDE:
        m_peer->SetVisible(false);
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
        m_peer->Minimize();
        break;
    case SW_RESTORE:
        m_peer->Restore();
        break;
    default:
        m_peer->SetVisible(true);
        break;
    }
}

bool CWindow::IsWindowVisible() const
{
    return m_peer && m_peer->IsVisible();
}

bool CWindow::IsIconic() const
{
    return m_peer && m_peer->IsMinimized();
}

void CWindow::EnableWindow(bool enable)
{
    if (!m_peer || enable == m_enabled)
        return;
    m_enabled = enable;
    if (!enable && g_capture == this)
        ReleaseCapture();
    m_peer->SetEnabled(enable);
}

void CWindow::SetForegroundWindow()
{
    if (m_peer)
        m_peer->Activate();
}

bool CWindow::IsActiveWindow() const
{
    return m_peer && m_peer->IsActive();
}

std::intptr_t CWindow::SendMessage(std::uint32_t message, std::uintptr_t wParam,
                                   std::intptr_t lParam)
{
    if (!m_peer)
        return 0;
    return Dispatch(message, wParam, lParam);
}

void CWindow::PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (!m_peer)
        return;
    std::weak_ptr<CWindow*> self = m_self;
    GetWindowSystem().Post([self, message, wParam, lParam] {
        auto alive = self.lock();
        if (!alive || !*alive || !(*alive)->m_peer)
            return;
        MSG msg{*alive, message, wParam, lParam};
        if (CMessageLoop* loop = GetMessageLoop()) {
            loop->ArmIdle();
            if (loop->PreTranslateMessage(msg))
                return;
        }
        (*alive)->Dispatch(msg.message, msg.wParam, msg.lParam);
    });
}

std::intptr_t CWindow::Dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(HighWord(wParam), LowWord(wParam));
        return 0;
    case WM_SYSCOMMAND:
        OnSysCommand(static_cast<std::uint32_t>(wParam & 0xFFF0));
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_APP:
        OnApp(wParam, lParam);
        if (m_inModalLoop) {
            m_modalDone = true;
            GetWindowSystem().WakeNestedLoops();
        }
        return 0;
    default:
        return 0;
    }
}

void CWindow::SetTimer(int id, unsigned elapseMs)
{
    if (m_peer)
        m_peer->StartTimer(id, elapseMs);
}

void CWindow::KillTimer(int id)
{
    if (m_peer)
        m_peer->StopTimer(id);
}

void CWindow::SetCapture()
{
    if (!m_peer || g_capture == this)
        return;
    CWindow* previous = g_capture;
    g_capture = this;
    if (previous)
        previous->OnCaptureChanged(this);
}

void CWindow::ReleaseCapture()
{
    CWindow* holder = g_capture;
    if (!holder)
        return;
    g_capture = nullptr;
    holder->OnCaptureChanged(nullptr);
}

CWindow* CWindow::GetCapture()
{
    return g_capture;
}

void CWindow::SetCursor(CCursor cursor)
{
    if (m_peer)
        m_peer->SetCursor(cursor);
}

void CWindow::UpdateLayeredWindow(const std::uint32_t* pixels, int width, int height,
                                  std::size_t stride)
{
    if (m_peer)
        m_peer->ShowBitmap(pixels, width, height, stride);
}

void CWindow::RunModalLoop()
{
    if (!m_peer || m_inModalLoop)
        return;
    m_inModalLoop = true;
    m_modalDone = false;
    // The window may be destroyed inside the loop; its flag lives on in this
    // object, which the caller keeps.
    GetWindowSystem().RunNestedLoop(m_modalDone);
    m_inModalLoop = false;
}

void CWindow::OnClose()
{
    DestroyWindow();
}

void CWindow::OnRButtonUp(std::uint32_t /*keys*/, POINT point)
{
    OnContextMenu(ClientToScreen(point));
}

void CWindow::OnSysCommand(std::uint32_t command)
{
    switch (command) {
    case SC_MINIMIZE:
        if (m_style & WS_MINIMIZEBOX)
            ShowWindow(SW_MINIMIZE);
        break;
    case SC_RESTORE:
        ShowWindow(SW_RESTORE);
        break;
    case SC_CLOSE:
        SendMessage(WM_CLOSE);
        break;
    default:
        break;
    }
}

void CWindow::OnNcLButtonDown(int hitCode, POINT screen)
{
    if (hitCode == HTCLOSE || hitCode == HTMINBUTTON) {
        // The button acts on release over it, so a press can still be taken
        // back by moving away.
        m_ncPressed = hitCode;
        return;
    }
    if (hitCode == HTCAPTION || (IsSizingHitCode(hitCode) && (m_style & WS_THICKFRAME)))
        TrackNonClient(hitCode, screen);
}

void CWindow::OnNcLButtonUp(int hitCode, POINT /*screen*/)
{
    int pressed = m_ncPressed;
    m_ncPressed = HTNOWHERE;
    if (pressed != hitCode)
        return;
    if (hitCode == HTCLOSE)
        PostMessage(WM_SYSCOMMAND, SC_CLOSE);
    else if (hitCode == HTMINBUTTON)
        PostMessage(WM_SYSCOMMAND, SC_MINIMIZE);
}

void CWindow::OnNcRButtonUp(int /*hitCode*/, POINT screen)
{
    OnContextMenu(screen);
}

void CWindow::TrackNonClient(int hitCode, POINT screen)
{
    bool handedOver =
        hitCode == HTCAPTION ? m_peer->StartSystemMove() : m_peer->StartSystemResize(hitCode);
    if (handedOver)
        return;
    // Without a window manager the window follows the pointer itself until
    // the button is released.
    m_ncPressed = hitCode;
    m_trackingByHand = true;
    m_trackStart = screen;
    m_trackRect = m_rect;
}

bool CWindow::MoveOrSizeByHand(POINT screen)
{
    if (!m_trackingByHand)
        return false;
    int dx = screen.x - m_trackStart.x;
    int dy = screen.y - m_trackStart.y;
    RECT rect = m_trackRect;
    if (m_ncPressed == HTCAPTION) {
        rect = OffsetRect(rect, dx, dy);
    } else {
        SIZE least = MinTrackSize();
        if (TouchesLeft(m_ncPressed))
            rect.left = std::min(rect.left + dx, rect.right - least.cx);
        if (TouchesRight(m_ncPressed))
            rect.right = std::max(rect.right + dx, rect.left + least.cx);
        if (TouchesTop(m_ncPressed))
            rect.top = std::min(rect.top + dy, rect.bottom - least.cy);
        if (TouchesBottom(m_ncPressed))
            rect.bottom = std::max(rect.bottom + dy, rect.top + least.cy);
    }
    if (!(rect == m_rect))
        MoveWindow(rect);
    return true;
}

SIZE CWindow::MinTrackSize()
{
    SIZE least{1, 1};
    OnGetMinMaxInfo(least);
    least.cx = std::max(least.cx, 1);
    least.cy = std::max(least.cy, 1);
    return least;
}

void CWindow::SetDefaultCursor(int hitCode)
{
    CCursor cursor = CCursor::Arrow;
    if (m_style & WS_THICKFRAME) {
        switch (hitCode) {
        case HTLEFT:
        case HTRIGHT:
            cursor = CCursor::SizeWE;
            break;
        case HTTOP:
        case HTBOTTOM:
            cursor = CCursor::SizeNS;
            break;
        case HTTOPLEFT:
        case HTBOTTOMRIGHT:
            cursor = CCursor::SizeNWSE;
            break;
        case HTTOPRIGHT:
        case HTBOTTOMLEFT:
            cursor = CCursor::SizeNESW;
            break;
        default:
            break;
        }
    }
    SetCursor(cursor);
}

void CWindow::ClientButton(CMouseButton button, bool down, std::uint32_t keys, POINT point)
{
    switch (button) {
    case CMouseButton::Left:
        down ? OnLButtonDown(keys, point) : OnLButtonUp(keys, point);
        break;
    case CMouseButton::Right:
        down ? OnRButtonDown(keys, point) : OnRButtonUp(keys, point);
        break;
    case CMouseButton::Middle:
        break;
    }
}

void CWindow::PeerMouseButton(CMouseButton button, bool down, POINT screen, std::uint32_t keys)
{
    if (!m_peer || !m_enabled)
        return;
    if (CMessageLoop* loop = GetMessageLoop())
        loop->ArmIdle();
    if (button == CMouseButton::Left && !down && m_trackingByHand) {
        MoveOrSizeByHand(screen);
        m_trackingByHand = false;
        m_ncPressed = HTNOWHERE;
        return;
    }
    if (g_capture == this) {
        ClientButton(button, down, keys, ScreenToClient(screen));
        return;
    }
    int hit = OnNcHitTest(screen);
    if (hit == HTCLIENT) {
        if (button == CMouseButton::Left && !down)
            m_ncPressed = HTNOWHERE;
        ClientButton(button, down, keys, ScreenToClient(screen));
        return;
    }
    if (button == CMouseButton::Left)
        down ? OnNcLButtonDown(hit, screen) : OnNcLButtonUp(hit, screen);
    else if (button == CMouseButton::Right && !down)
        OnNcRButtonUp(hit, screen);
}

void CWindow::PeerMouseMove(POINT screen, std::uint32_t keys)
{
    if (!m_peer || !m_enabled)
        return;
    if (MoveOrSizeByHand(screen))
        return;
    if (g_capture == this) {
        OnMouseMove(keys, ScreenToClient(screen));
        return;
    }
    int hit = OnNcHitTest(screen);
    if (!OnSetCursor(hit))
        SetDefaultCursor(hit);
    if (hit == HTCLIENT)
        OnMouseMove(keys, ScreenToClient(screen));
}

void CWindow::PeerMouseWheel(int delta, POINT screen, std::uint32_t keys)
{
    if (!m_peer || !m_enabled)
        return;
    OnMouseWheel(keys, delta, screen);
}

void CWindow::PeerTimer(int id)
{
    if (m_peer)
        OnTimer(id);
}

void CWindow::PeerGeometryChanged(const RECT& rect)
{
    if (!m_peer || rect == m_rect)
        return;
    bool moved = rect.left != m_rect.left || rect.top != m_rect.top;
    bool sized = rect.Width() != m_rect.Width() || rect.Height() != m_rect.Height();
    m_rect = rect;
    if (moved)
        OnMove(rect.left, rect.top);
    if (sized && m_peer)
        OnSize(static_cast<int>(rect.Width()), static_cast<int>(rect.Height()));
}

void CWindow::PeerCloseRequested()
{
    if (m_peer && m_enabled)
        PostMessage(WM_SYSCOMMAND, SC_CLOSE);
}

void CWindow::PeerDeactivated()
{
    if (g_capture == this)
        ReleaseCapture();
    m_ncPressed = HTNOWHERE;
    m_trackingByHand = false;
}

void CWindow::PeerKeyDown(int key)
{
    if (!m_peer || !m_enabled)
        return;
    MSG msg{this, WM_KEYDOWN, static_cast<std::uintptr_t>(key), 0};
    if (CMessageLoop* loop = GetMessageLoop()) {
        loop->ArmIdle();
        if (loop->PreTranslateMessage(msg))
            return;
    }
    OnKeyDown(key);
}

bool CWindow::PeerToolTip(POINT screen, std::wstring& text, RECT& area)
{
    text.clear();
    if (!m_peer || !m_enabled)
        return false;
    RECT client;
    if (!OnToolTip(ScreenToClient(screen), text, client) || text.empty())
        return false;
    POINT topLeft = ClientToScreen({client.left, client.top});
    area = {topLeft.x, topLeft.y, topLeft.x + int(client.Width()),
            topLeft.y + int(client.Height())};
    return true;
}

void CWindow::PeerEndSession()
{
    if (m_peer)
        OnEndSession(true);
}

} // namespace zk
