#include "system/browser_launcher.h"

#include "platform/process.h"
#include "platform/text_convert.h"
#include "platform/ui_services.h"
#include "platform/window_system.h"
#include "system/tls_key_log_file.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace zk {

namespace {

// The desktop's opener of URLs and files (xdg-utils).
constexpr const wchar_t* kSystemOpener = L"xdg-open";

std::mutex g_keyLogLock;
std::wstring g_keyLog;

// The desktop handlers still running. Only the window's thread opens pages
// and polls them.
std::vector<pid_t> g_handlers;

void Beep()
{
    if (HasWindowSystem())
        MessageBeep();
}

// What a browser started for the portal's pages is told: the key log, so
// that the program can read the pages it fetches over HTTPS.
std::vector<std::string> BrowserEnvironment(bool withKeyLog)
{
    std::vector<std::string> environment;
    if (withKeyLog) {
        std::lock_guard<std::mutex> guard(g_keyLogLock);
        if (!g_keyLog.empty())
            environment.push_back(std::string(kTlsKeyLogVariable) + "=" + WideToUtf8(g_keyLog));
    }
    return environment;
}

bool Launch(const std::wstring& program, const std::wstring& url)
{
    if (Succeeded(StartDetachedProcess(program, {url}, BrowserEnvironment(true))))
        return true;
    Beep();
    return false;
}

// The handler answers by its exit status whether it found something to open
// the page with, so it is kept as a child and looked at from the timer:
// waiting for it here would stop the window for as long as it runs. The
// browser it starts inherits the key log.
bool LaunchHandler(const std::wstring& url, bool withKeyLog)
{
    pid_t pid = -1;
    if (!Succeeded(StartChildProcess(kSystemOpener, {url}, pid, BrowserEnvironment(withKeyLog)))) {
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
        return LaunchHandler(url, true);
    return Launch(browserPath, url);
}

bool OpenUrlWithSystemHandler(const std::wstring& url)
{
    // The maker's page is no page of the portal.
    return LaunchHandler(url, false);
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

void SetBrowserTlsKeyLogFile(const std::wstring& path)
{
    std::lock_guard<std::mutex> guard(g_keyLogLock);
    g_keyLog = path;
}

} // namespace zk
