#pragma once

#include "base/simple_err.h"
#include "fetch/download_progress_callback.h"
#include "platform/browser_cache.h"
#include "platform/system_time.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace zk {

// Messages of the download.
constexpr std::uint32_t kMsgDownloadStageFailed = 1; // no text of its own
constexpr std::uint32_t kMsgDownloadFailed = 2000;
constexpr std::uint32_t kMsgDownloadSkipped = 2001;
constexpr std::uint32_t kMsgImageLoadFailed = 2002;
constexpr std::uint32_t kMsgDownloading = 2005;
constexpr std::uint32_t kMsgCacheFileMissing = 40049;

// The download part of a task: one URL, fetched from the browser's cache or
// over HTTP into a temporary file, skipped when the server's Last-Modified
// equals the time the caller already has.
class CDownloadTaskImpl
{
public:
    // Takes the URL, with form data after "::"; E_FAIL when it cannot be
    // split (the URL fields are then empty).
    HRESULT SetUrl(std::wstring_view text);
    void Download(CDownloadProgressCallback& progress, CSimpleErr& err);

    // Copies the browser's cache file of the URL into a private temporary
    // file named in outPath; empty on failure, with the reason in err.
    static void DownloadToCacheCopy(const std::wstring& url, std::wstring& outPath,
                                    IBindStatusCallback* callback, CSimpleErr& err);

    std::wstring m_host;
    std::wstring m_url; // as decoded and trimmed: the key that finds the friend again
    std::wstring m_path;
    std::wstring m_portText; // empty for port 80
    std::wstring m_scheme;   // with its ":"
    std::wstring m_extra;    // the query, with its "?"
    std::wstring m_directory;
    std::wstring m_fileName;
    std::wstring m_extension;
    std::wstring m_referer;
    std::map<std::wstring, std::wstring> m_formData;
    std::wstring m_charset;
    // In: the time stored with the friend. Out: the server's Last-Modified.
    SYSTEMTIME m_lastModified{};
    std::wstring m_suggestedFileName;
    std::wstring m_downloadedFile;

private:
    void ClearUrlFields();
};

// Parses "name=value" pairs joined by "&" into the map; a later equal name
// replaces the value, pieces of another shape are ignored.
void ParseFormData(std::wstring_view text, std::map<std::wstring, std::wstring>& formData);

// Whether two times name the same moment. The day of the week is left out:
// the list file does not store it, so a time read back from it has none,
// while the server's time has one.
bool IsSameModifiedTime(const SYSTEMTIME& a, const SYSTEMTIME& b);

} // namespace zk
