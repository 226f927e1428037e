#pragma once

#include "platform/window_system.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zk {

// The window system of the desktop: X11 through Qt Widgets. Windows are
// frameless top-level widgets that show the bitmap their CWindow hands
// them, with per-pixel alpha where a compositing manager runs and a shape
// cut from the alpha where none does.
class CQtWindowSystem : public IWindowSystem
{
public:
    ~CQtWindowSystem() override;

    // Opens the display named by DISPLAY (also under a Wayland desktop, where
    // XWayland serves it: always-on-top, placement and finding the running
    // window need X11). Empty with a one-line reason when no display can be
    // opened.
    static std::unique_ptr<CQtWindowSystem> Start(int& argc, char** argv, std::string& error);

    std::unique_ptr<IWindowPeer> CreatePeer(CWindow& window, CWindow* owner,
                                            const std::wstring& title, std::uint32_t style,
                                            std::uint32_t exStyle) override;
    void Post(std::function<void()> task) override;
    int RunLoop() override;
    void Quit(int code) override;
    void RunNestedLoop(const bool& done) override;
    void WakeNestedLoops() override;
    POINT GetCursorPos() const override;
    std::vector<CMonitorInfo> GetMonitors() const override;
    void Beep() override;
    unsigned GetDoubleClickTime() const override;
    bool SetClipboardText(const std::wstring& text) override;
    std::wstring GetClipboardText() const override;
    int MessageBox(CWindow* owner, const std::wstring& text, const std::wstring& title,
                   std::uint32_t type) override;
    int TrackPopupMenu(const CMenu& menu, POINT screen, CWindow* owner) override;

    // True while a compositing manager draws the screen, so that alpha
    // shows through; otherwise windows are cut to the shape of their alpha.
    bool HasCompositor() const;

    // Window shapes cut so far, one a size or compositor change of a
    // window: the work the windows did, for tests to count. The windows
    // count each cut with CountShape.
    std::uint64_t ShapesCut() const;
    void CountShape() const;

    struct Impl;

private:
    CQtWindowSystem();
    std::unique_ptr<Impl> m_impl;
};

// Loads the toolkit's own Japanese texts (the standard buttons, the file
// chooser's labels) into the running application, whatever the locale: the
// program speaks Japanese, and its standard dialogs must too. False when
// the translations are not installed; the texts then stay English.
bool InstallToolkitTranslations();

} // namespace zk
