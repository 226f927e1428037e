#include "fetch/url_parts.h"

#include "platform/text_convert.h"

#include <curl/curl.h>
#include <cwctype>
#include <memory>

namespace zk {
namespace {

// Each part of a URL must fit a buffer of this many characters, its
// terminating null included.
constexpr std::size_t kMaxUrlScheme = 32;
constexpr std::size_t kMaxUrlHost = 256;
constexpr std::size_t kMaxUrlUserName = 128;
constexpr std::size_t kMaxUrlPassword = 128;
constexpr std::size_t kMaxUrlPath = 2048;
constexpr std::size_t kMaxUrlExtra = 2048;

struct CUrlCleanup
{
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// One piece of the parsed URL into value, which stays empty when the URL
// has no such piece; false when the piece does not fit its buffer.
bool GetPart(CURLU* url, CURLUPart part, unsigned flags, std::size_t limit, std::wstring& value)
{
    char* found = nullptr;
    if (curl_url_get(url, part, &found, flags) == CURLUE_OK) {
        value = Utf8ToWide(found);
        curl_free(found);
    }
    return value.size() < limit;
}

} // namespace

bool CrackUrl(const std::wstring& url, CUrlParts& parts)
{
    // libcurl also takes one or three slashes after the scheme, and a
    // scheme that starts with a digit; a URL has two, and a letter.
    std::size_t colon = url.find(L':');
    if (colon == std::wstring::npos || url.compare(colon, 3, L"://") != 0 ||
        !std::iswalpha(static_cast<wint_t>(url[0])) || url[0] > 0x7F)
        return false;
    std::unique_ptr<CURLU, CUrlCleanup> handle(curl_url());
    std::string text = WideToUtf8(url);
    if (!handle ||
        curl_url_set(handle.get(), CURLUPART_URL, text.c_str(),
                     CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS | CURLU_ALLOW_SPACE) != CURLUE_OK)
        return false;
    CURLU* parsed = handle.get();
    std::wstring user, password, port, query, fragment;
    bool fits = GetPart(parsed, CURLUPART_SCHEME, 0, kMaxUrlScheme, parts.scheme) &&
                GetPart(parsed, CURLUPART_HOST, 0, kMaxUrlHost, parts.host) &&
                GetPart(parsed, CURLUPART_USER, 0, kMaxUrlUserName, user) &&
                GetPart(parsed, CURLUPART_PASSWORD, 0, kMaxUrlPassword, password) &&
                GetPart(parsed, CURLUPART_PATH, 0, kMaxUrlPath, parts.path) &&
                GetPart(parsed, CURLUPART_QUERY, 0, kMaxUrlExtra, query) &&
                GetPart(parsed, CURLUPART_FRAGMENT, 0, kMaxUrlExtra, fragment) &&
                GetPart(parsed, CURLUPART_PORT, CURLU_DEFAULT_PORT, kMaxUrlScheme, port);
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

} // namespace zk
