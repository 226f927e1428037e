#include "system/browser_launcher.h"

#include "platform/process.h"
#include "platform/text_convert.h"
#include "platform/ui_services.h"
#include "platform/window_system.h"
#include "system/tls_key_log_file.h"

#include <mutex>

namespace zk {

namespace {

// The desktop's opener of URLs and files (xdg-utils).
constexpr const wchar_t* kSystemOpener = L"xdg-open";

std::mutex g_keyLogLock;
std::wstring g_keyLog;

bool Launch(const std::wstring& program, const std::wstring& url, bool withKeyLog = true)
{
    std::vector<std::string> environment;
    if (withKeyLog) {
        std::lock_guard<std::mutex> guard(g_keyLogLock);
        if (!g_keyLog.empty())
            environment.push_back(std::string(kTlsKeyLogVariable) + "=" + WideToUtf8(g_keyLog));
    }
    if (Succeeded(StartDetachedProcess(program, {url}, environment)))
        return true;
    if (HasWindowSystem())
        MessageBeep();
    return false;
}

} // namespace

bool OpenUrl(const std::wstring& browserPath, const std::wstring& url)
{
    return Launch(browserPath.empty() ? kSystemOpener : browserPath, url);
}

bool OpenUrlWithSystemHandler(const std::wstring& url)
{
    // The maker's page is no page of the portal.
    return Launch(kSystemOpener, url, false);
}

void SetBrowserTlsKeyLogFile(const std::wstring& path)
{
    std::lock_guard<std::mutex> guard(g_keyLogLock);
    g_keyLog = path;
}

} // namespace zk
