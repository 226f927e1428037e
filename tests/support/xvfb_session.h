#pragma once

#include "platform/rect.h"
#include "support/child_process.h"
#include "support/test_env.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zk::test {

// Why tests on a real X server cannot run here (a program they need is
// missing); empty when they can.
std::string WhyNoXvfb();

// Skips the calling test when Xvfb or the tools that drive it are missing,
// except under CI, where a missing tool is a failure.
#define ZK_REQUIRE_XVFB()                                                                          \
    do {                                                                                           \
        std::string zk_why = ::zk::test::WhyNoXvfb();                                              \
        if (!zk_why.empty()) {                                                                     \
            if (::zk::test::IsCi())                                                                \
                FAIL() << "CI=true but " << zk_why;                                                \
            GTEST_SKIP() << "no X server for GUI tests: " << zk_why;                               \
        }                                                                                          \
    } while (0)

// Polls the condition until it holds or the time is up; answers whether it
// held. Waits on a real server poll instead of sleeping a guessed time.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval = std::chrono::milliseconds(20));

// A picture of the screen: 0xAARRGGBB, top row first, no row padding.
struct CScreenshot
{
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    // The pixel at the point; 0 outside the picture.
    std::uint32_t At(int x, int y) const;
};

// The colour of a pixel without its alpha, for messages.
std::string ColourText(std::uint32_t argb);

struct CXvfbOptions
{
    bool windowManager = false; // openbox
    bool compositor = false;    // xcompmgr
    int width = 1280;
    int height = 800;
};

// An X server of its own for one test: Xvfb on a display number it picks
// itself, and optionally a window manager and a compositing manager on it.
// Each program is waited for until it is ready and is ended by its pid when
// the session stops. The root window is white, so that a pixel where no
// window is can be told from an unpainted (black) one.
class CXvfbSession
{
public:
    CXvfbSession() = default;
    ~CXvfbSession();
    CXvfbSession(const CXvfbSession&) = delete;
    CXvfbSession& operator=(const CXvfbSession&) = delete;

    // Starts the server and what the options ask for; on failure everything
    // started is ended again and the reason (with the programs' output) is
    // in error.
    bool Start(const CXvfbOptions& options, std::string& error);
    void Stop();
    // Starts xcompmgr on the running server, or ends it, and waits until
    // the compositing selection has an owner, or none.
    bool StartCompositor(std::string& error);
    bool StopCompositor();

    // ":N", for DISPLAY.
    const std::string& Display() const { return m_display; }
    // Entries for a child's environment that send it to this server.
    std::vector<std::string> Environment() const;
    // What the started programs wrote so far, for failure messages.
    std::string Log() const;

    // Runs xdotool with the arguments on this display.
    CProcessResult Xdotool(const std::vector<std::string>& args) const;
    bool MouseMove(int x, int y) const;
    bool MouseDown(int button = 1) const;
    bool MouseUp(int button = 1) const;
    bool Click(int x, int y, int button = 1) const;
    // Presses the left button at from, moves to to in steps (so that every
    // listener sees motion), and releases it there.
    bool Drag(int fromX, int fromY, int toX, int toY, int steps = 8) const;
    // Ids of the visible windows whose whole name is name.
    std::vector<std::string> FindWindows(const std::string& name) const;
    // The window's rectangle on the screen.
    bool GetWindowGeometry(const std::string& id, RECT& rect) const;

    // Takes a picture of the whole screen. When ZK_GUI_SCREENSHOTS names a
    // folder, the picture is also kept there as <saveAs>.png, cut to the
    // region when one is given.
    bool Screenshot(CScreenshot& shot, std::string& error, const std::string& saveAs = {},
                    const RECT& region = {}) const;

private:
    pid_t Spawn(const std::vector<std::string>& args, int displayFd, std::string& error);
    bool StartServer(const CXvfbOptions& options, std::string& error);
    void End(pid_t& pid);

    CTempDir m_dir;
    std::string m_display;
    pid_t m_server = -1;
    pid_t m_windowManager = -1;
    pid_t m_compositor = -1;
};

} // namespace zk::test
