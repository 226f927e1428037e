// The skinned main-window frame on the real window system, for the GUI
// tests: a layered window with the striped skin, the title lettering and the
// round close and minimise buttons, its inner area white. Like the plain
// frame demo it reports on standard output, one event a line ("compositor
// 0|1", "created x y w h", "moved x y", "sized w h", "closed"), and ends with
// code 0 when its window is closed.
//
//   zk_skinned_frame_demo [--at X Y WIDTH HEIGHT]

#include "fetch/drawing_surface.h"
#include "platform/tick_count.h"
#include "platform/message_loop.h"
#include "platform/qt_window_system.h"
#include "platform/ui_services.h"
#include "res/resource_ids.h"
#include "ui/skin_image.h"
#include "ui/skin_resources.h"
#include "ui/zaru_frame_impl.h"
#include "ui/zaru_frame_layout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Fontconfig and D-Bus (which the toolkit opens for accessibility) keep a
// few blocks for the life of the process; the leak checker of sanitizer
// builds is told so.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

namespace zk::test::demo {
namespace {

constexpr wchar_t kSkinnedTitle[] = L"zk skinned frame demo";
constexpr std::uint32_t kInnerColour = 0xFFFFFFFF;
constexpr int kTimerId = 1;
// As the main window's timer.
constexpr unsigned kTimerPeriodMs = 25;
constexpr int kMinWidth = 156;
constexpr int kMinHeight = 30;

// The frame's skin with a plain white inside, where the main window shows
// its list.
class CWhiteFrameLayout : public CZaruFrameLayout
{
public:
    void Paint(CGraphics& graphics) override
    {
        PaintFrame(graphics);
        const RECT& inner = GetInnerRect();
        graphics.FillRectangle(CSolidBrush(kInnerColour),
                               CRectF{float(inner.left), float(inner.top), float(inner.Width()),
                                      float(inner.Height())});
    }
};

class CSkinnedDemoFrame : public CZaruFrameImpl<CSkinnedDemoFrame>
{
public:
    CSkinnedDemoFrame()
    {
        m_layout.SetTitleLogo(LoadSkinImage(IDB_TITLE_LOGO));
        m_layout.AddRoundButton(IDB_CLOSE_SMALL, IDB_CLOSE_LARGE, HTCLOSE);
        m_layout.AddRoundButton(IDB_MINIMIZE_SMALL, IDB_MINIMIZE_LARGE, HTMINBUTTON);
    }

    CZaruFrameLayout& GetLayout() { return m_layout; }

protected:
    int OnCreate() override
    {
        Layout();
        Redraw();
        SetTimer(kTimerId, kTimerPeriodMs);
        return 0;
    }

    void OnDestroy() override
    {
        KillTimer(kTimerId);
        std::printf("closed\n");
        PostQuitMessage(0);
    }

    void OnMove(int x, int y) override
    {
        CZaruFrameImpl::OnMove(x, y);
        std::printf("moved %d %d\n", x, y);
    }

    void OnSize(int width, int height) override
    {
        CZaruFrameImpl::OnSize(width, height);
        std::printf("sized %d %d\n", width, height);
    }

    void OnGetMinMaxInfo(SIZE& least) override { least = {kMinWidth, kMinHeight}; }

    // The round buttons follow the pointer as in the main window.
    void OnTimer(int id) override
    {
        if (id != kTimerId)
            return;
        POINT cursor = GetCursorPos();
        const RECT& window = m_layout.GetWindowRect();
        if (m_layout.Tick(TickCountMs(), cursor.x - window.left, cursor.y - window.top))
            Redraw();
    }

private:
    CWhiteFrameLayout m_layout;
};

} // namespace
} // namespace zk::test::demo

int main(int argc, char** argv)
{
    using namespace zk;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    RECT at{100, 100, 400, 300};
    if (argc == 6 && std::strcmp(argv[1], "--at") == 0) {
        int x = std::atoi(argv[2]);
        int y = std::atoi(argv[3]);
        at = {x, y, x + std::atoi(argv[4]), y + std::atoi(argv[5])};
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--at X Y WIDTH HEIGHT]\n", argv[0]);
        return 2;
    }

    std::string error;
    int qtArgc = 1;
    auto system = CQtWindowSystem::Start(qtArgc, argv, error);
    if (!system) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    SetWindowSystem(system.get());
    CMessageLoop loop;
    SetMessageLoop(&loop);
    CreateSkinResources();
    int code = 1;
    {
        test::demo::CSkinnedDemoFrame frame;
        if (frame.CreateEx(nullptr, at, test::demo::kSkinnedTitle)) {
            frame.ShowWindow(SW_SHOW);
            std::printf("compositor %d\n", system->HasCompositor() ? 1 : 0);
            RECT rect = frame.GetWindowRect();
            std::printf("created %d %d %d %d\n", rect.left, rect.top,
                        static_cast<int>(rect.Width()), static_cast<int>(rect.Height()));
            code = loop.Run();
        } else {
            std::fprintf(stderr, "cannot create the window\n");
        }
    }
    SetMessageLoop(nullptr);
    ReleaseSkinResources();
    SetWindowSystem(nullptr);
    return code;
}
