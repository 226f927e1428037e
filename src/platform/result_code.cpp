#include "platform/result_code.h"

#include "platform/text_convert.h"

#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <cwctype>

namespace zk {
namespace {

std::wstring Trim(std::wstring text)
{
    auto isSpace = [](wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) || c == L'\r'; };
    std::size_t begin = 0;
    while (begin < text.size() && isSpace(text[begin]))
        ++begin;
    std::size_t end = text.size();
    while (end > begin && isSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

const wchar_t* OwnText(HRESULT hr)
{
    switch (hr) {
    case S_OK:
        return L"The operation completed successfully.";
    case E_NOTIMPL:
        return L"Not implemented";
    case E_ABORT:
        return L"Operation aborted";
    case E_FAIL:
        return L"Unspecified error";
    case E_NOT_ENOUGH_MEMORY:
        return L"Not enough memory resources are available to process this command.";
    case E_OUTOFMEMORY:
        return L"Not enough memory resources are available to complete this operation.";
    case E_INVALIDARG:
        return L"The parameter is incorrect.";
    case E_NOT_REGULAR_FILE:
        return L"Not a regular file (a folder, FIFO or device is in its place)";
    default:
        return nullptr;
    }
}

} // namespace

std::wstring GetErrnoText(int err)
{
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in the buffer.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    return Trim(Utf8ToWide(text ? text : ""));
}

std::wstring GetSystemText(HRESULT hr)
{
    if (IsErrnoResult(hr))
        return GetErrnoText(ErrnoOf(hr));
    if (IsCurlResult(hr)) {
        const char* text = curl_easy_strerror(static_cast<CURLcode>(ErrnoOf(hr)));
        if (text && *text)
            return Trim(Utf8ToWide(text));
    }
    if (const wchar_t* text = OwnText(hr))
        return text;
    char hex[32];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(hr));
    return L"Unknown HRESULT: " + Utf8ToWide(hex);
}

} // namespace zk
