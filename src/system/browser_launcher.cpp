#include "system/browser_launcher.h"

#include "platform/process.h"
#include "platform/ui_services.h"
#include "platform/window_system.h"

#include <algorithm>
#include <vector>

namespace zk {

namespace {

// The desktop's opener of URLs and files (xdg-utils).
constexpr const wchar_t* kSystemOpener = L"xdg-open";

// The desktop handlers still running. Only the window's thread opens pages
// and polls them.
std::vector<pid_t> g_handlers;

void Beep()
{
    if (HasWindowSystem())
        MessageBeep();
}

bool Launch(const std::wstring& program, const std::wstring& url)
{
    if (Succeeded(StartDetachedProcess(program, {url})))
        return true;
    Beep();
    return false;
}

// The handler answers by its exit status whether it found something to open
// the page with, so it is kept as a child and looked at from the timer:
// waiting for it here would stop the window for as long as it runs.
bool LaunchHandler(const std::wstring& url)
{
    pid_t pid = -1;
    if (!Succeeded(StartChildProcess(kSystemOpener, {url}, pid))) {
        Beep();
        return false;
    }
    g_handlers.push_back(pid);
    return true;
}

} // namespace

bool OpenUrl(const std::wstring& browserPath, const std::wstring& url)
{
    if (browserPath.empty())
        return LaunchHandler(url);
    return Launch(browserPath, url);
}

bool OpenUrlWithSystemHandler(const std::wstring& url)
{
    return LaunchHandler(url);
}

int PollUrlHandlers()
{
    int failed = 0;
    auto ended = [&failed](pid_t pid) {
        int exitCode = 0;
        if (!PollProcess(pid, exitCode))
            return false;
        failed += exitCode != 0;
        return true;
    };
    g_handlers.erase(std::remove_if(g_handlers.begin(), g_handlers.end(), ended), g_handlers.end());
    for (int i = 0; i < failed; ++i)
        Beep();
    return failed;
}

int GetPendingUrlHandlers()
{
    return static_cast<int>(g_handlers.size());
}

} // namespace zk
