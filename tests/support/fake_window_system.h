#pragma once

#include "platform/menu.h"
#include "platform/window.h"
#include "platform/window_system.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zk::test {

// A window system in memory for tests of windows: it keeps what each window
// was told (geometry, timers, cursor, the last bitmap shown), runs posted
// messages when asked, and answers message boxes and menus from a script.
// It installs itself while it lives.
class CFakeWindowSystem : public IWindowSystem
{
public:
    struct Peer : IWindowPeer
    {
        CFakeWindowSystem* system = nullptr;
        CWindow* window = nullptr;
        CWindow* owner = nullptr;
        std::wstring title;
        std::uint32_t style = 0;
        std::uint32_t exStyle = 0;
        RECT geometry;
        bool visible = false;
        bool minimized = false;
        bool enabled = true;
        bool active = false;
        SIZE minimumSize;
        std::map<int, unsigned> timers;
        CCursor cursor = CCursor::Arrow;
        int bitmapsShown = 0;
        int width = 0;
        int height = 0;
        std::vector<std::uint32_t> bitmap; // the last one, without row padding
        int systemMoves = 0;
        int systemResizes = 0;
        int lastResizeCode = 0;

        ~Peer() override;
        void SetGeometry(const RECT& rect) override { geometry = rect; }
        void SetVisible(bool show) override { visible = show; }
        bool IsVisible() const override { return visible; }
        void Minimize() override { minimized = true; }
        void Restore() override { minimized = false; }
        bool IsMinimized() const override { return minimized; }
        void SetEnabled(bool enable) override { enabled = enable; }
        void SetMinimumSize(SIZE size) override { minimumSize = size; }
        void Activate() override { active = true; }
        bool IsActive() const override { return active; }
        void ShowBitmap(const std::uint32_t* pixels, int w, int h, std::size_t stride) override;
        bool StartSystemMove() override;
        bool StartSystemResize(int hitCode) override;
        void SetCursor(CCursor shape) override { cursor = shape; }
        void StartTimer(int id, unsigned ms) override { timers[id] = ms; }
        void StopTimer(int id) override { timers.erase(id); }
    };

    struct MessageBoxCall
    {
        CWindow* owner;
        std::wstring text;
        std::wstring title;
        std::uint32_t type;
    };

    struct MenuCall
    {
        std::vector<CMenu::Item> items;
        POINT screen;
        CWindow* owner;
    };

    CFakeWindowSystem();
    ~CFakeWindowSystem() override;

    // The peer of a window, or nullptr while it has none.
    Peer* PeerOf(const CWindow& window) const;

    // Every window that has a peer now, oldest first.
    const std::vector<Peer*>& Peers() const { return m_peers; }

    // Runs posted messages until none is left; answers how many ran.
    int RunPending();

    // Mouse input at a screen point, as the native window would report it.
    void Press(CWindow& window, POINT screen, CMouseButton button = CMouseButton::Left);
    void Release(CWindow& window, POINT screen, CMouseButton button = CMouseButton::Left);
    void Move(CWindow& window, POINT screen);
    void Click(CWindow& window, POINT screen, CMouseButton button = CMouseButton::Left);

    std::unique_ptr<IWindowPeer> CreatePeer(CWindow& window, CWindow* owner,
                                            const std::wstring& title, std::uint32_t style,
                                            std::uint32_t exStyle) override;
    void Post(std::function<void()> task) override { m_queue.push_back(std::move(task)); }
    int RunLoop() override;
    void Quit(int code) override;
    void RunNestedLoop(const bool& done) override;
    void WakeNestedLoops() override {}
    POINT GetCursorPos() const override { return m_cursor; }
    std::vector<CMonitorInfo> GetMonitors() const override { return m_monitors; }
    void Beep() override { ++m_beeps; }
    unsigned GetDoubleClickTime() const override { return m_doubleClickTime; }
    bool SetClipboardText(const std::wstring& text) override;
    std::wstring GetClipboardText() const override { return m_clipboard; }
    int MessageBox(CWindow* owner, const std::wstring& text, const std::wstring& title,
                   std::uint32_t type) override;
    int TrackPopupMenu(const CMenu& menu, POINT screen, CWindow* owner) override;

    // What the tests set.
    POINT m_cursor;
    std::vector<CMonitorInfo> m_monitors{{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}}};
    bool m_systemMoveWorks = true;
    // 0 lets a test click a popup at once; the guard's tests set a time.
    unsigned m_doubleClickTime = 0;
    std::deque<int> m_messageBoxAnswers; // IDOK when empty
    std::deque<int> m_menuChoices;       // 0 when empty
    // Runs whenever a nested loop has nothing left to do; a test drives the
    // popup from here. A loop that still is not done afterwards ends, so a
    // test cannot hang.
    std::function<void()> m_onNestedLoopIdle;
    // Runs once while the next message box or menu is open, before it
    // answers, as the program's own loop would while the user looks at it.
    std::function<void()> m_whileBoxOpen;

    // What the tests read.
    int m_beeps = 0;
    std::wstring m_clipboard;
    std::vector<MessageBoxCall> m_messageBoxes;
    std::vector<MenuCall> m_menus;
    int m_nestedLoops = 0;
    bool m_quit = false;
    int m_quitCode = 0;

private:
    void RunWhileBoxOpen();

    std::deque<std::function<void()>> m_queue;
    std::vector<Peer*> m_peers;
};

} // namespace zk::test
