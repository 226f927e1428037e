#include "support/xvfb_session.h"

#include "platform/image_codec.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zk::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Each program gets ten times what it needs on a loaded machine.
constexpr auto kServerTimeout = 20s;
constexpr auto kManagerTimeout = 20s;
constexpr auto kEndTimeout = 10s;
constexpr auto kToolTimeout = 20s;
constexpr int kColourDepth = 24;

bool InPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

// Opens its own short-lived connection for each question, so that nothing
// is left connected to a server that is about to end.
template <class F> bool AskServer(const std::string& display, F question)
{
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection)
        return false;
    bool answer = question(connection);
    XCloseDisplay(connection);
    return answer;
}

bool HasWindowManager(Display* connection)
{
    Atom check = XInternAtom(connection, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(connection, DefaultRootWindow(connection), check, 0, 1, False,
                                    XA_WINDOW, &type, &format, &count, &after, &data);
    bool present = status == Success && type == XA_WINDOW && count == 1;
    if (data)
        XFree(data);
    return present;
}

bool HasCompositor(Display* connection)
{
    std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(connection));
    return XGetSelectionOwner(connection, XInternAtom(connection, name.c_str(), False)) != None;
}

// The window manager claims the screen before it reads its first events,
// and a window mapped in between may stay unmanaged and unmapped for good.
// Ready means: it mapped a window of our own.
bool WindowManagerMapsWindows(const std::string& display, std::chrono::milliseconds timeout)
{
    ::Display* connection = XOpenDisplay(display.c_str());
    if (!connection)
        return false;
    Window root = DefaultRootWindow(connection);
    Window probe = XCreateSimpleWindow(connection, root, 0, 0, 8, 8, 0, 0, 0);
    bool mapped = WaitUntil(
        [&] {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(connection, probe, &attributes) &&
                attributes.map_state == IsViewable)
                return true;
            // Asked again until it is heard: a lost request is what is
            // being waited out.
            XMapWindow(connection, probe);
            XSync(connection, False);
            return false;
        },
        timeout);
    XDestroyWindow(connection, probe);
    XCloseDisplay(connection);
    return mapped;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

} // namespace

std::string WhyNoXvfb()
{
    for (const char* program : {"Xvfb", "xdotool", "import", "openbox", "xcompmgr"}) {
        if (!InPath(program))
            return std::string(program) + " is not installed (scripts/install-deps installs it)";
    }
    return {};
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval)
{
    auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(interval);
    }
    return true;
}

std::uint32_t CScreenshot::At(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return 0;
    return pixels[static_cast<std::size_t>(y) * width + x];
}

std::string ColourText(std::uint32_t argb)
{
    char text[16];
    std::snprintf(text, sizeof text, "#%06X", argb & 0xFFFFFF);
    return text;
}

CXvfbSession::~CXvfbSession()
{
    Stop();
}

std::vector<std::string> CXvfbSession::Environment() const
{
    // A server without access control needs no cookie; an inherited one
    // would point at another server's. The toolkit wants a private runtime
    // folder, which the session's own (mode 0700) is.
    return {"DISPLAY=" + m_display, "XAUTHORITY=" + (m_dir.Path() / "no-xauthority").string(),
            "XDG_RUNTIME_DIR=" + m_dir.Path().string()};
}

std::string CXvfbSession::Log() const
{
    std::ifstream in(m_dir.Path() / "servers.log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

pid_t CXvfbSession::Spawn(const std::vector<std::string>& args, int displayFd, std::string& error)
{
    std::string logPath = (m_dir.Path() / "servers.log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (displayFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, displayFd, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        if (text.rfind("DISPLAY=", 0) != 0 && text.rfind("XAUTHORITY=", 0) != 0)
            environment.push_back(text);
    }
    if (!m_display.empty()) {
        for (const std::string& entry : Environment())
            environment.push_back(entry);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    int result = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        error = "cannot run " + args[0] + ": " + std::strerror(result);
        return -1;
    }
    return pid;
}

bool CXvfbSession::StartServer(const CXvfbOptions& options, std::string& error)
{
    // Xvfb picks a free display number itself and writes it to the pipe once
    // it accepts connections.
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = "pipe failed";
        return false;
    }
    std::string screen = std::to_string(options.width) + "x" + std::to_string(options.height) +
                         "x" + std::to_string(kColourDepth);
    m_server = Spawn(
        {"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-wr", "-noreset"},
        pipeFds[1], error);
    close(pipeFds[1]);
    std::string number;
    auto deadline = Clock::now() + kServerTimeout;
    while (m_server > 0 && number.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd fd{pipeFds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[32];
        ssize_t length = read(pipeFds[0], buffer, sizeof buffer);
        if (length <= 0)
            break;
        number.append(buffer, static_cast<std::size_t>(length));
    }
    close(pipeFds[0]);
    if (m_server <= 0)
        return false;
    if (number.find('\n') == std::string::npos) {
        error = "Xvfb did not report its display number";
        return false;
    }
    m_display = ":" + number.substr(0, number.find('\n'));
    if (!WaitUntil([&] { return AskServer(m_display, [](::Display*) { return true; }); },
                   kServerTimeout)) {
        error = "Xvfb on " + m_display + " takes no connection";
        return false;
    }
    return true;
}

bool CXvfbSession::Start(const CXvfbOptions& options, std::string& error)
{
    Stop();
    bool started = StartServer(options, error);
    if (started && options.windowManager) {
        m_windowManager = Spawn({"openbox", "--sm-disable"}, -1, error);
        started =
            m_windowManager > 0 &&
            WaitUntil([&] { return AskServer(m_display, HasWindowManager); }, kManagerTimeout) &&
            WindowManagerMapsWindows(m_display, kManagerTimeout);
        if (!started && error.empty())
            error = "openbox did not take the screen of " + m_display;
    }
    if (started && options.compositor)
        started = StartCompositor(error);
    if (!started) {
        error += "\n" + Log();
        Stop();
    }
    return started;
}

bool CXvfbSession::StartCompositor(std::string& error)
{
    if (m_compositor > 0)
        return true;
    m_compositor = Spawn({"xcompmgr"}, -1, error);
    bool started = m_compositor > 0 &&
                   WaitUntil([&] { return AskServer(m_display, HasCompositor); }, kManagerTimeout);
    if (!started && error.empty())
        error = "xcompmgr did not take the compositing selection of " + m_display;
    return started;
}

bool CXvfbSession::StopCompositor()
{
    End(m_compositor);
    return WaitUntil([&] { return !AskServer(m_display, HasCompositor); }, kManagerTimeout);
}

void CXvfbSession::End(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    bool gone = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, kEndTimeout);
    if (!gone) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

void CXvfbSession::Stop()
{
    // The managers first: they are clients of the server.
    End(m_compositor);
    End(m_windowManager);
    End(m_server);
    m_display.clear();
}

CProcessResult CXvfbSession::Xdotool(const std::vector<std::string>& args) const
{
    std::vector<std::string> command{"xdotool"};
    command.insert(command.end(), args.begin(), args.end());
    return RunProcess(command, Environment(), kToolTimeout);
}

bool CXvfbSession::MouseMove(int x, int y) const
{
    // "--sync" waits until the pointer has moved, which never happens when
    // it already stands there: xdotool then gives up only after seconds.
    CProcessResult where = Xdotool({"getmouselocation", "--shell"});
    std::string here = "X=" + std::to_string(x) + "\nY=" + std::to_string(y) + "\n";
    if (where.exitCode == 0 && where.out.rfind(here, 0) == 0)
        return true;
    return Xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y)}).exitCode == 0;
}

bool CXvfbSession::MouseDown(int button) const
{
    return Xdotool({"mousedown", std::to_string(button)}).exitCode == 0;
}

bool CXvfbSession::MouseUp(int button) const
{
    return Xdotool({"mouseup", std::to_string(button)}).exitCode == 0;
}

bool CXvfbSession::Click(int x, int y, int button) const
{
    return MouseMove(x, y) && Xdotool({"click", std::to_string(button)}).exitCode == 0;
}

namespace {

constexpr int kWindowManagerTakeOverMs = 300;

} // namespace

bool CXvfbSession::Drag(int fromX, int fromY, int toX, int toY, int steps) const
{
    if (!MouseMove(fromX, fromY) || !MouseDown(1))
        return false;
    // A window manager takes the pointer over a moment after the press (the
    // window hands it the move); motion before that is no part of the drag,
    // and on a busy machine that moment is long.
    std::this_thread::sleep_for(std::chrono::milliseconds(kWindowManagerTakeOverMs));
    bool moved = true;
    for (int step = 1; step <= steps && moved; ++step) {
        moved =
            MouseMove(fromX + (toX - fromX) * step / steps, fromY + (toY - fromY) * step / steps);
    }
    // The button goes up even when a move failed, so that no grab is left.
    bool released = MouseUp(1);
    return moved && released;
}

std::vector<std::string> CXvfbSession::FindWindows(const std::string& name) const
{
    CProcessResult found = Xdotool({"search", "--onlyvisible", "--name", "^" + name + "$"});
    if (found.exitCode != 0)
        return {};
    return SplitLines(found.out);
}

bool CXvfbSession::GetWindowGeometry(const std::string& id, RECT& rect) const
{
    CProcessResult result = Xdotool({"getwindowgeometry", "--shell", id});
    if (result.exitCode != 0)
        return false;
    int x = 0, y = 0, width = 0, height = 0, seen = 0;
    for (const std::string& line : SplitLines(result.out)) {
        auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string key = line.substr(0, equals);
        int value = std::atoi(line.c_str() + equals + 1);
        if (key == "X")
            x = value, ++seen;
        else if (key == "Y")
            y = value, ++seen;
        else if (key == "WIDTH")
            width = value, ++seen;
        else if (key == "HEIGHT")
            height = value, ++seen;
    }
    rect = {x, y, x + width, y + height};
    return seen == 4;
}

bool CXvfbSession::Screenshot(CScreenshot& shot, std::string& error, const std::string& saveAs,
                              const RECT& region) const
{
    std::filesystem::path file = m_dir.Path() / "screen.png";
    CProcessResult taken =
        RunProcess({"import", "-display", m_display, "-window", "root", "png32:" + file.string()},
                   Environment(), kToolTimeout);
    if (taken.exitCode != 0) {
        error = "import failed: " + taken.err;
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    if (DecodeImageArgb(data.data(), data.size(), shot.width, shot.height, shot.pixels) !=
        CDecodeStatus::Ok) {
        error = "the screenshot is no PNG";
        return false;
    }
    const char* keep = std::getenv("ZK_GUI_SCREENSHOTS");
    if (keep && *keep && !saveAs.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(keep, ignored);
        std::filesystem::path kept = std::filesystem::path(keep) / (saveAs + ".png");
        if (region.IsEmpty()) {
            std::filesystem::copy_file(file, kept,
                                       std::filesystem::copy_options::overwrite_existing, ignored);
        } else {
            std::string crop = std::to_string(region.Width()) + "x" +
                               std::to_string(region.Height()) + "+" + std::to_string(region.left) +
                               "+" + std::to_string(region.top);
            RunProcess({"convert", file.string(), "-crop", crop, "+repage", kept.string()}, {},
                       kToolTimeout);
        }
    }
    return true;
}

} // namespace zk::test
