#include "fetch/internet_url.h"

#include <cwctype>

namespace zk {
namespace {

constexpr std::uint32_t kMaxPort = 65535;

bool IsAsciiAlpha(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool IsSchemeChar(wchar_t c)
{
    return IsAsciiAlpha(c) || (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
}

std::wstring Lower(std::wstring_view text)
{
    std::wstring lower(text);
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return lower;
}

std::uint16_t DefaultPort(std::wstring_view scheme)
{
    std::wstring lower = Lower(scheme);
    if (lower == L"http")
        return 80;
    if (lower == L"https")
        return 443;
    if (lower == L"ftp")
        return 21;
    return 0;
}

bool Fits(std::wstring_view part, std::size_t buffer)
{
    return part.size() < buffer;
}

bool Split(std::wstring_view url, CUrlComponents& parts)
{
    std::size_t colon = url.find(L':');
    if (colon == 0 || colon == std::wstring_view::npos || !IsAsciiAlpha(url[0]))
        return false;
    for (std::size_t i = 1; i < colon; ++i)
        if (!IsSchemeChar(url[i]))
            return false;
    parts.scheme.assign(url.substr(0, colon));
    std::wstring_view rest = url.substr(colon + 1);
    if (rest.substr(0, 2) != L"//")
        return false;
    rest.remove_prefix(2);

    std::size_t authorityEnd = rest.find_first_of(L"/?#");
    std::wstring_view authority = rest.substr(0, authorityEnd);
    std::wstring_view tail =
        authorityEnd == std::wstring_view::npos ? std::wstring_view() : rest.substr(authorityEnd);

    std::size_t at = authority.rfind(L'@');
    if (at != std::wstring_view::npos) {
        std::wstring_view user = authority.substr(0, at);
        std::size_t split = user.find(L':');
        parts.userName.assign(user.substr(0, split));
        if (split != std::wstring_view::npos)
            parts.password.assign(user.substr(split + 1));
        authority.remove_prefix(at + 1);
    }

    std::wstring_view portText;
    bool hasPort = false;
    if (!authority.empty() && authority.front() == L'[') {
        std::size_t close = authority.find(L']');
        if (close == std::wstring_view::npos)
            return false;
        parts.host.assign(authority.substr(1, close - 1));
        std::wstring_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != L':')
                return false;
            portText = after.substr(1);
            hasPort = true;
        }
    } else {
        std::size_t portColon = authority.rfind(L':');
        parts.host.assign(authority.substr(0, portColon));
        if (portColon != std::wstring_view::npos) {
            portText = authority.substr(portColon + 1);
            hasPort = true;
        }
    }
    if (parts.host.empty())
        return false;

    parts.port = DefaultPort(parts.scheme);
    if (hasPort && !portText.empty()) {
        std::uint32_t port = 0;
        if (portText.size() > 5)
            return false;
        for (wchar_t c : portText) {
            if (c < L'0' || c > L'9')
                return false;
            port = port * 10 + static_cast<std::uint32_t>(c - L'0');
        }
        if (port > kMaxPort)
            return false;
        parts.port = static_cast<std::uint16_t>(port);
    }

    std::size_t extraStart = tail.find_first_of(L"?#");
    parts.path.assign(tail.substr(0, extraStart));
    if (extraStart != std::wstring_view::npos)
        parts.extra.assign(tail.substr(extraStart));

    return Fits(parts.scheme, kMaxUrlScheme) && Fits(parts.host, kMaxUrlHost) &&
           Fits(parts.userName, kMaxUrlUserName) && Fits(parts.password, kMaxUrlPassword) &&
           Fits(parts.path, kMaxUrlPath) && Fits(parts.extra, kMaxUrlExtra);
}

} // namespace

bool CrackUrl(std::wstring_view url, CUrlComponents& parts)
{
    parts = CUrlComponents{};
    if (Split(url, parts))
        return true;
    parts = CUrlComponents{};
    return false;
}

} // namespace zk
