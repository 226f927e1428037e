// A frame window on the real window system, for the GUI tests: it reports
// what happens to it on standard output, one event a line ("created x y w h",
// "moved x y", "sized w h", "command id", "closed"), and ends with code 0
// when its window is closed. After each paint it reports "painted P shapes S":
// the paints so far and the shapes the window system cut for them. With
// --redraws N the window paints N times more at each size it takes (and at
// each press of the space bar), a tick apart.
//
//   zk_frame_window_demo [--at X Y WIDTH HEIGHT] [--redraws N]

#include "frame_window_demo.h"

#include "platform/message_loop.h"
#include "platform/qt_window_system.h"
#include "platform/window.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// Fontconfig and D-Bus (which the toolkit opens for accessibility) keep a
// few blocks for the life of the process; the leak checker of sanitizer
// builds is told so.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

namespace zk::test::demo {
namespace {

// The window of the demo. Only its painting and hit test are its own; the
// rest is the framework's default processing, which the tests exercise.
class CDemoFrame : public CWindow
{
public:
    CDemoFrame(const CQtWindowSystem& system, int redraws) : m_system(system), m_redraws(redraws) {}

protected:
    int OnCreate() override
    {
        Paint();
        RedrawAgain(m_redraws);
        return 0;
    }

    void OnTimer(int id) override
    {
        if (id != kRedrawTimer)
            return;
        Paint();
        if (--m_redrawsLeft <= 0)
            KillTimer(kRedrawTimer);
    }

    void OnKeyDown(int key) override
    {
        if (key == VK_SPACE)
            RedrawAgain(m_redraws);
    }

    void OnDestroy() override
    {
        std::printf("closed\n");
        PostQuitMessage(0);
    }

    void OnMove(int x, int y) override { std::printf("moved %d %d\n", x, y); }

    void OnSize(int width, int height) override
    {
        std::printf("sized %d %d\n", width, height);
        Paint();
        RedrawAgain(m_redraws);
    }

    void OnCommand(int /*code*/, int id) override { std::printf("command %d\n", id); }

    void OnGetMinMaxInfo(SIZE& minTrackSize) override { minTrackSize = {kMinWidth, kMinHeight}; }

    int OnNcHitTest(POINT screen) override
    {
        POINT point = ScreenToClient(screen);
        RECT client = GetClientRect();
        int width = static_cast<int>(client.right);
        int height = static_cast<int>(client.bottom);
        if (InCircle(point.x, point.y, width - kCloseFromRight))
            return HTCLOSE;
        if (InCircle(point.x, point.y, width - kMinimizeFromRight))
            return HTMINBUTTON;
        bool left = point.x < kBorder;
        bool right = point.x >= width - kBorder;
        bool bottom = point.y >= height - kBorder;
        if (bottom && left)
            return HTBOTTOMLEFT;
        if (bottom && right)
            return HTBOTTOMRIGHT;
        if (left)
            return HTLEFT;
        if (right)
            return HTRIGHT;
        if (bottom)
            return HTBOTTOM;
        if (point.y < kCaptionHeight)
            return HTCAPTION;
        return HTCLIENT;
    }

private:
    static constexpr int kRedrawTimer = 1;
    static constexpr unsigned kRedrawTickMs = 10;

    void RedrawAgain(int count)
    {
        if (count <= 0)
            return;
        m_redrawsLeft = count;
        SetTimer(kRedrawTimer, kRedrawTickMs);
    }

    // True inside the button circle whose centre is at x and the buttons'
    // height.
    static bool InCircle(int x, int y, int centreX)
    {
        int dx = x - centreX;
        int dy = y - kCloseFromTop;
        return dx * dx + dy * dy <= kCloseRadius * kCloseRadius;
    }

    // True outside the quarter circles of the four corners.
    static bool OutsideCorner(int x, int y, int width, int height)
    {
        int cx = x < kCornerRadius            ? kCornerRadius
                 : x >= width - kCornerRadius ? width - kCornerRadius
                                              : -1;
        int cy = y < kCornerRadius             ? kCornerRadius
                 : y >= height - kCornerRadius ? height - kCornerRadius
                                               : -1;
        if (cx < 0 || cy < 0)
            return false;
        // Distances from pixel centres, in half pixels.
        int dx = 2 * x + 1 - 2 * cx;
        int dy = 2 * y + 1 - 2 * cy;
        return dx * dx + dy * dy > 4 * kCornerRadius * kCornerRadius;
    }

    void Paint()
    {
        RECT client = GetClientRect();
        int width = static_cast<int>(client.right);
        int height = static_cast<int>(client.bottom);
        if (width <= 0 || height <= 0)
            return;
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                std::uint32_t colour = y < kCaptionHeight ? kCaptionColour : kBodyColour;
                if (InCircle(x, y, width - kCloseFromRight))
                    colour = kCloseColour;
                if (InCircle(x, y, width - kMinimizeFromRight))
                    colour = kMinimizeColour;
                if (x >= kHalfLeft && x < kHalfRight && y >= height - kHalfFromBottom &&
                    y < height - kHalfFromBottom + kHalfRows)
                    colour = kHalfColour;
                if (OutsideCorner(x, y, width, height))
                    colour = 0; // premultiplied: nothing at all
                pixels[static_cast<std::size_t>(y) * width + x] = colour;
            }
        }
        UpdateLayeredWindow(pixels.data(), width, height, static_cast<std::size_t>(width) * 4);
        ++m_paints;
        std::printf("painted %d shapes %llu\n", m_paints,
                    static_cast<unsigned long long>(m_system.ShapesCut()));
    }

    const CQtWindowSystem& m_system;
    int m_redraws;
    int m_redrawsLeft = 0;
    int m_paints = 0;
};

} // namespace
} // namespace zk::test::demo

int main(int argc, char** argv)
{
    using namespace zk;
    // The test follows the events as they happen.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    RECT at{100, 100, 400, 300};
    int redraws = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--at") == 0 && i + 4 < argc) {
            int x = std::atoi(argv[i + 1]);
            int y = std::atoi(argv[i + 2]);
            at = {x, y, x + std::atoi(argv[i + 3]), y + std::atoi(argv[i + 4])};
            i += 4;
        } else if (std::strcmp(argv[i], "--redraws") == 0 && i + 1 < argc) {
            redraws = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--at X Y WIDTH HEIGHT] [--redraws N]\n", argv[0]);
            return 2;
        }
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
    int code = 1;
    {
        test::demo::CDemoFrame frame(*system, redraws);
        if (frame.Create(nullptr, at, test::demo::kTitle,
                         WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX,
                         WS_EX_LAYERED | WS_EX_TOPMOST)) {
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
    return code;
}
