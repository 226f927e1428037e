#include "system/browser_launcher.h"

#include "platform/process.h"
#include "platform/ui_services.h"
#include "platform/window_system.h"

namespace zk {

namespace {

// The desktop's opener of URLs and files (xdg-utils).
constexpr const wchar_t* kSystemOpener = L"xdg-open";

bool Launch(const std::wstring& program, const std::wstring& url)
{
    if (Succeeded(StartDetachedProcess(program, {url})))
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
    return Launch(kSystemOpener, url);
}

} // namespace zk
