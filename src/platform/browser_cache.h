#pragma once

#include "platform/result_code.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

// Progress states of a transfer, as reported to a bind status callback.
constexpr std::uint32_t BINDSTATUS_FINDINGRESOURCE = 1;
constexpr std::uint32_t BINDSTATUS_BEGINDOWNLOADDATA = 4;
constexpr std::uint32_t BINDSTATUS_DOWNLOADINGDATA = 5;
constexpr std::uint32_t BINDSTATUS_ENDDOWNLOADDATA = 6;

// Bind flag: take the resource from the cache only, never from the network.
constexpr std::uint32_t BINDF_OFFLINEOPERATION = 8;

// Receives the progress of a transfer and may stop it: a negative result of
// OnProgress ends the transfer with that result.
class IBindStatusCallback
{
public:
    virtual HRESULT GetBindInfo(std::uint32_t& bindFlags) = 0;
    virtual HRESULT OnProgress(std::uint32_t progress, std::uint32_t progressMax,
                               std::uint32_t statusCode, std::wstring_view statusText) = 0;

protected:
    ~IBindStatusCallback() = default;
};

// Looks the URL up in the web browser's cache and names the cache file that
// holds it. The file belongs to the browser: callers copy it and never move
// or delete it. Linux desktops share no browser cache, so without a cache
// folder nothing is ever found (HresultFromErrno(ENOENT)). The callback is
// asked before the lookup; a refusal ends it with the callback's result.
HRESULT DownloadToCacheFile(const std::wstring& url, std::wstring& cacheFile,
                            IBindStatusCallback* callback);

// Makes the lookup search a folder: one file per URL, named by
// BrowserCacheFileName. An empty folder turns the cache off again.
void SetBrowserCacheFolder(const std::wstring& folder);

// The name of a URL's file in the cache folder: the URL with every character
// other than ASCII letters, digits, "-", "." and "_" percent-encoded in UTF-8.
std::wstring BrowserCacheFileName(std::wstring_view url);

} // namespace zk
