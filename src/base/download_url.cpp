#include "base/download_url.h"

#include <cwctype>

namespace zk {
namespace {

constexpr std::wstring_view kFormSeparator = L"::";
constexpr wchar_t kEscape = L'%';
constexpr std::size_t kEscapeLength = 3;
constexpr unsigned kMaxDecodedChar = 128;
// Characters that mean something in a URL keep their escapes, so that
// decoding never changes where the URL splits.
constexpr std::wstring_view kKeptEscaped = L"#%&'()*+-./:=?_";

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

bool IsTrimmed(wchar_t c)
{
    return std::iswspace(static_cast<wint_t>(c)) || c == L'\r';
}

} // namespace

std::wstring DecodeUrlEscapes(std::wstring_view text)
{
    std::wstring decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        int high = -1;
        int low = -1;
        if (text[i] == kEscape && i + kEscapeLength <= text.size()) {
            high = HexValue(text[i + 1]);
            low = HexValue(text[i + 2]);
        }
        if (high < 0 || low < 0) {
            decoded += text[i];
            continue;
        }
        auto value = static_cast<wchar_t>(high * 16 + low);
        if (static_cast<unsigned>(value) < kMaxDecodedChar &&
            kKeptEscaped.find(value) == std::wstring_view::npos)
            decoded += value;
        else
            decoded.append(text.substr(i, kEscapeLength));
        i += kEscapeLength - 1;
    }
    return decoded;
}

namespace {

std::wstring_view TrimBlanks(std::wstring_view text)
{
    while (!text.empty() && IsTrimmed(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsTrimmed(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::wstring PrepareDownloadUrl(std::wstring_view text)
{
    text = text.substr(0, text.find(kFormSeparator));
    return std::wstring(TrimBlanks(DecodeUrlEscapes(text)));
}

} // namespace zk
