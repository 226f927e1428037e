#include "fetch/download_task_impl.h"

#include "base/download_url.h"
#include "fetch/bind_status_callback_obj.h"
#include "fetch/file_deleter.h"
#include "fetch/http_request.h"
#include "fetch/temp_file_name.h"
#include "platform/temp_file.h"
#include "platform/text_convert.h"

#include <boost/regex.hpp>
#include <curl/curl.h>
#include <cwctype>
#include <memory>

namespace zk {
namespace {

constexpr std::wstring_view kFormSeparator = L"::";
constexpr std::uint16_t kDefaultPort = 80;

// Each part of a URL must fit a buffer of this many characters, its
// terminating null included.
constexpr std::size_t kMaxUrlScheme = 32;
constexpr std::size_t kMaxUrlHost = 256;
constexpr std::size_t kMaxUrlUserName = 128;
constexpr std::size_t kMaxUrlPassword = 128;
constexpr std::size_t kMaxUrlPath = 2048;
constexpr std::size_t kMaxUrlExtra = 2048;

struct CUrlParts
{
    std::wstring scheme; // without its ":"
    std::wstring host;
    std::uint16_t port = 0; // the scheme's default when the URL names none
    std::wstring path;
    std::wstring extra; // the query and the fragment, each with its "?" or "#"
};

// Splits "scheme://[user[:password]@]host[:port][/path][?query][#fragment]"
// with libcurl's parser. The path is taken as it stands, and blanks in it
// are kept, as ids may have them.
bool CrackUrl(const std::wstring& url, CUrlParts& parts)
{
    // libcurl also takes one or three slashes after the scheme, and a
    // scheme that starts with a digit; a URL has two, and a letter.
    std::size_t colon = url.find(L':');
    if (colon == std::wstring::npos || url.compare(colon, 3, L"://") != 0 ||
        !std::iswalpha(static_cast<wint_t>(url[0])) || url[0] > 0x7F)
        return false;
    std::unique_ptr<CURLU, void (*)(CURLU*)> handle(curl_url(), curl_url_cleanup);
    std::string text = WideToUtf8(url);
    if (!handle ||
        curl_url_set(handle.get(), CURLUPART_URL, text.c_str(),
                     CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS | CURLU_ALLOW_SPACE) != CURLUE_OK)
        return false;
    auto get = [&](CURLUPart part, unsigned flags, std::size_t limit, std::wstring& value) {
        char* found = nullptr;
        if (curl_url_get(handle.get(), part, &found, flags) == CURLUE_OK) {
            value = Utf8ToWide(found);
            curl_free(found);
        }
        return value.size() < limit;
    };
    std::wstring user, password, port, query, fragment;
    bool fits = get(CURLUPART_SCHEME, 0, kMaxUrlScheme, parts.scheme) &&
                get(CURLUPART_HOST, 0, kMaxUrlHost, parts.host) &&
                get(CURLUPART_USER, 0, kMaxUrlUserName, user) &&
                get(CURLUPART_PASSWORD, 0, kMaxUrlPassword, password) &&
                get(CURLUPART_PATH, 0, kMaxUrlPath, parts.path) &&
                get(CURLUPART_QUERY, 0, kMaxUrlExtra, query) &&
                get(CURLUPART_FRAGMENT, 0, kMaxUrlExtra, fragment) &&
                get(CURLUPART_PORT, CURLU_DEFAULT_PORT, kMaxUrlScheme, port);
    if (!query.empty())
        parts.extra = L"?" + query;
    if (!fragment.empty())
        parts.extra += L"#" + fragment;
    // An address of IPv6 comes in brackets, which are no part of the host.
    if (parts.host.size() > 2 && parts.host.front() == L'[')
        parts.host = parts.host.substr(1, parts.host.size() - 2);
    parts.port = port.empty() ? 0 : static_cast<std::uint16_t>(std::stoul(port));
    return fits && !parts.host.empty() && parts.extra.size() < kMaxUrlExtra;
}

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
