#include "support/fake_window_system.h"

#include "platform/message_loop.h"

#include <algorithm>

namespace zk::test {

CFakeWindowSystem::Peer::~Peer()
{
    auto& peers = system->m_peers;
    peers.erase(std::remove(peers.begin(), peers.end(), this), peers.end());
}

void CFakeWindowSystem::Peer::ShowBitmap(const std::uint32_t* pixels, int w, int h,
                                         std::size_t stride)
{
    ++bitmapsShown;
    width = w;
    height = h;
    bitmap.resize(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        auto row = reinterpret_cast<const std::uint32_t*>(
            reinterpret_cast<const std::uint8_t*>(pixels) + y * stride);
        std::copy(row, row + w, bitmap.begin() + static_cast<std::size_t>(y) * w);
    }
}

bool CFakeWindowSystem::Peer::StartSystemMove()
{
    ++systemMoves;
    return system->m_systemMoveWorks;
}

bool CFakeWindowSystem::Peer::StartSystemResize(int hitCode)
{
    ++systemResizes;
    lastResizeCode = hitCode;
    return system->m_systemMoveWorks;
}

CFakeWindowSystem::CFakeWindowSystem()
{
    SetWindowSystem(this);
}

CFakeWindowSystem::~CFakeWindowSystem()
{
    SetWindowSystem(nullptr);
    for (Peer* peer : m_peers)
        peer->system = nullptr;
}

CFakeWindowSystem::Peer* CFakeWindowSystem::PeerOf(const CWindow& window) const
{
    for (Peer* peer : m_peers) {
        if (peer->window == &window)
            return peer;
    }
    return nullptr;
}

int CFakeWindowSystem::RunPending()
{
    int ran = 0;
    while (!m_queue.empty()) {
        auto task = std::move(m_queue.front());
        m_queue.pop_front();
        task();
        ++ran;
    }
    if (CMessageLoop* loop = GetMessageLoop())
        loop->OnIdle();
    return ran;
}

void CFakeWindowSystem::Press(CWindow& window, POINT screen, CMouseButton button)
{
    m_cursor = screen;
    window.PeerMouseButton(button, true, screen,
                           button == CMouseButton::Left ? MK_LBUTTON : MK_RBUTTON);
}

void CFakeWindowSystem::Release(CWindow& window, POINT screen, CMouseButton button)
{
    m_cursor = screen;
    window.PeerMouseButton(button, false, screen, 0);
}

void CFakeWindowSystem::Move(CWindow& window, POINT screen)
{
    m_cursor = screen;
    window.PeerMouseMove(screen, 0);
}

void CFakeWindowSystem::Click(CWindow& window, POINT screen, CMouseButton button)
{
    Press(window, screen, button);
    Release(window, screen, button);
}

std::unique_ptr<IWindowPeer> CFakeWindowSystem::CreatePeer(CWindow& window, CWindow* owner,
                                                           const std::wstring& title,
                                                           std::uint32_t style,
                                                           std::uint32_t exStyle)
{
    auto peer = std::make_unique<Peer>();
    peer->system = this;
    peer->window = &window;
    peer->owner = owner;
    peer->title = title;
    peer->style = style;
    peer->exStyle = exStyle;
    m_peers.push_back(peer.get());
    return peer;
}

int CFakeWindowSystem::RunLoop()
{
    while (!m_quit && RunPending() > 0) {
    }
    return m_quitCode;
}

void CFakeWindowSystem::Quit(int code)
{
    m_quit = true;
    m_quitCode = code;
}

void CFakeWindowSystem::RunNestedLoop(const bool& done)
{
    ++m_nestedLoops;
    while (!done && !m_quit) {
        if (RunPending() > 0)
            continue;
        if (!m_onNestedLoopIdle)
            break;
        auto drive = std::move(m_onNestedLoopIdle);
        drive();
        RunPending();
        break;
    }
}

bool CFakeWindowSystem::SetClipboardText(const std::wstring& text)
{
    m_clipboard = text;
    return true;
}

void CFakeWindowSystem::RunWhileBoxOpen()
{
    if (!m_whileBoxOpen)
        return;
    auto run = std::move(m_whileBoxOpen);
    m_whileBoxOpen = nullptr;
    run();
}

int CFakeWindowSystem::MessageBox(CWindow* owner, const std::wstring& text,
                                  const std::wstring& title, std::uint32_t type)
{
    m_messageBoxes.push_back({owner, text, title, type});
    RunWhileBoxOpen();
    if (m_messageBoxAnswers.empty())
        return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    int answer = m_messageBoxAnswers.front();
    m_messageBoxAnswers.pop_front();
    return answer;
}

int CFakeWindowSystem::TrackPopupMenu(const CMenu& menu, POINT screen, CWindow* owner)
{
    m_menus.push_back({menu.GetItems(), screen, owner});
    RunWhileBoxOpen();
    if (m_menuChoices.empty())
        return 0;
    int choice = m_menuChoices.front();
    m_menuChoices.pop_front();
    return choice;
}

} // namespace zk::test
