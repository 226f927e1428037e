#include "fetch/download_task_impl.h"

#include "base/download_url.h"
#include "fetch/bind_status_callback_obj.h"
#include "fetch/file_deleter.h"
#include "fetch/http_request.h"
#include "fetch/temp_file_name.h"
#include "fetch/url_parts.h"
#include "platform/temp_file.h"
#include "platform/text_convert.h"

#include <boost/regex.hpp>

namespace zk {
namespace {

constexpr std::wstring_view kFormSeparator = L"::";
constexpr std::uint16_t kDefaultPort = 80;

bool IsAllZero(const SYSTEMTIME& time)
{
    return time == SYSTEMTIME{};
}

} // namespace

void ParseFormData(std::wstring_view text, std::map<std::wstring, std::wstring>& formData)
{
    static const boost::wregex kPair(L"\\s*(\\S+)\\s*=\\s*(\\S*)\\s*");
    std::size_t begin = 0;
    for (;;) {
        std::size_t end = text.find(L'&', begin);
        std::wstring piece(text.substr(begin, end == std::wstring_view::npos ? end : end - begin));
        try {
            boost::wsmatch match;
            if (boost::regex_match(piece, match, kPair))
                formData[match[1].str()] = match[2].str();
        } catch (const std::exception&) {
            // An engine failure counts as no match.
        }
        if (end == std::wstring_view::npos)
            break;
        begin = end + 1;
    }
}

bool IsSameModifiedTime(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

void CDownloadTaskImpl::ClearUrlFields()
{
    m_host.clear();
    m_url.clear();
    m_path.clear();
    m_portText.clear();
    m_scheme.clear();
    m_extra.clear();
    m_directory.clear();
    m_fileName.clear();
    m_extension.clear();
}

HRESULT CDownloadTaskImpl::SetUrl(std::wstring_view text)
{
    std::size_t separator = text.find(kFormSeparator);
    if (separator != std::wstring_view::npos) {
        ParseFormData(text.substr(separator + kFormSeparator.size()), m_formData);
        text = text.substr(0, separator);
    }

    ClearUrlFields();
    std::wstring url = PrepareDownloadUrl(text);
    CUrlParts parts;
    if (!CrackUrl(url, parts))
        return E_FAIL;

    m_url = url;
    m_host = parts.host;
    m_path = parts.path;
    m_extra = parts.extra;
    std::size_t slash = m_path.find_last_of(L"/\\");
    if (slash == std::wstring::npos) {
        m_fileName = m_path;
    } else {
        m_directory = m_path.substr(0, slash + 1);
        m_fileName = m_path.substr(slash + 1);
    }
    std::size_t dot = m_fileName.rfind(L'.');
    if (dot != std::wstring::npos)
        m_extension = m_fileName.substr(dot + 1);
    if (parts.port != kDefaultPort)
        m_portText = std::to_wstring(parts.port);
    m_scheme = parts.scheme + L":";
    return S_OK;
}

void CDownloadTaskImpl::DownloadToCacheCopy(const std::wstring& url, std::wstring& outPath,
                                            IBindStatusCallback* callback, CSimpleErr& err)
{
    outPath.clear();
    std::wstring cacheFile;
    HRESULT hr = DownloadToCacheFile(url, cacheFile, callback);
    if (Failed(hr)) {
        err.SetErr(kMsgDownloadFailed, hr);
        return;
    }
    std::wstring copy;
    if (std::uint32_t id = MakeTempFileName(copy)) {
        err.SetErr(id);
        return;
    }
    // The browser's own file is only ever read: the copy is ours to move.
    if (Failed(CopyFileInto(cacheFile, copy))) {
        CFileDeleter failedCopy(copy);
        err.SetErr(kMsgCacheFileMissing);
        return;
    }
    outPath = copy;
}

void CDownloadTaskImpl::Download(CDownloadProgressCallback& progress, CSimpleErr& err)
{
    if (progress.IsCancelled()) {
        err.SetErr(kMsgDownloadFailed, E_ABORT);
        return;
    }
    CBindStatusCallbackObj callback;
    callback.SetSink(&progress);
    callback.SetBindFlags(BINDF_OFFLINEOPERATION);

    CHttpRequest request(m_charset);
    CFileDeleter deleter;
    std::wstring cachePath;
    CSimpleErr local;

    // A form is an exchange with the server, never a cached page.
    if (m_formData.empty()) {
        DownloadToCacheCopy(m_url, cachePath, &callback, local);
        if (!cachePath.empty())
            deleter.SetPath(cachePath);
        if (local.GetResult() == E_ABORT) {
            err.SetErr(kMsgDownloadStageFailed);
            return;
        }
    }

    CHttpTarget target;
    target.host = m_host;
    target.path = m_path;
    target.extra = m_extra;
    target.referer = m_referer;
    target.formData = m_formData;
    if (request.SendRequest(target, &callback) != 0) {
        err.SetErr(kMsgDownloadStageFailed);
        return;
    }
    request.GetSuggestedFileName(m_suggestedFileName);

    SYSTEMTIME modified;
    request.GetLastModified(modified);
    if (!IsAllZero(modified) && IsSameModifiedTime(modified, m_lastModified)) {
        err.SetErr(kMsgDownloadSkipped);
        return;
    }
    m_lastModified = modified;

    if (cachePath.empty()) {
        if (request.ReadBodyToFile(cachePath) != 0) {
            err.SetErr(kMsgDownloadStageFailed);
            return;
        }
        deleter.SetPath(cachePath);
    }
    m_downloadedFile = cachePath;
    deleter.Disarm();
}

} // namespace zk
