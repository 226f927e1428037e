#include "platform/browser_cache.h"

#include "platform/text_convert.h"

#include <cerrno>
#include <mutex>
#include <sys/stat.h>

namespace zk {
namespace {

// The cache hands back its path in a buffer of this many characters.
constexpr std::size_t kMaxCachePath = 260;

std::mutex g_folderLock;
std::wstring g_folder;

std::wstring Folder()
{
    std::lock_guard<std::mutex> guard(g_folderLock);
    return g_folder;
}

bool IsPlain(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

} // namespace

void SetBrowserCacheFolder(const std::wstring& folder)
{
    std::lock_guard<std::mutex> guard(g_folderLock);
    g_folder = folder;
}

std::wstring BrowserCacheFileName(std::wstring_view url)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring name;
    for (unsigned char c : WideToUtf8(url)) {
        if (IsPlain(c)) {
            name += static_cast<wchar_t>(c);
        } else {
            name += L'%';
            name += static_cast<wchar_t>(kHex[c >> 4]);
            name += static_cast<wchar_t>(kHex[c & 0x0F]);
        }
    }
    return name;
}

HRESULT DownloadToCacheFile(const std::wstring& url, std::wstring& cacheFile,
                            IBindStatusCallback* callback)
{
    cacheFile.clear();
    // Only the cache is ever searched: nothing here goes to the network,
    // whatever the callback's bind flags ask for.
    if (callback) {
        HRESULT hr = callback->OnProgress(0, 0, BINDSTATUS_FINDINGRESOURCE, url);
        if (Failed(hr))
            return hr;
    }
    std::wstring folder = Folder();
    if (folder.empty())
        return HresultFromErrno(ENOENT);

    std::wstring path = folder;
    if (path.back() != L'/')
        path += L'/';
    path += BrowserCacheFileName(url);
    if (path.size() >= kMaxCachePath)
        return HresultFromErrno(ENAMETOOLONG);

    struct stat info;
    if (::stat(WideToUtf8(path).c_str(), &info) != 0)
        return HresultFromErrno(errno);
    if (!S_ISREG(info.st_mode))
        return HresultFromErrno(ENOENT);
    if (callback) {
        auto size = static_cast<std::uint32_t>(info.st_size);
        HRESULT hr = callback->OnProgress(size, size, BINDSTATUS_ENDDOWNLOADDATA, path);
        if (Failed(hr))
            return hr;
    }
    cacheFile = path;
    return S_OK;
}

} // namespace zk
