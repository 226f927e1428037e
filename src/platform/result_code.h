#pragma once

#include <cstdint>
#include <string>

namespace zk {

// A 32-bit, HRESULT-shaped result code: 0 is success, a set top bit a
// failure. The system's own constants keep their values; a Linux errno and a
// libcurl code each get a range of their own, so one field carries any of
// them and one decoder gives its text.
using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_NOT_ENOUGH_MEMORY = static_cast<HRESULT>(0x80070008u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
// Our own: a folder, FIFO, device or socket stands where a file of ours
// should be. No errno says so, and such a thing is never opened as a file.
constexpr HRESULT E_NOT_REGULAR_FILE = static_cast<HRESULT>(0xA0000001u);

constexpr std::uint32_t kErrnoBase = 0xA0010000u;
constexpr std::uint32_t kCurlBase = 0xA0020000u;
constexpr std::uint32_t kRangeMask = 0xFFFF0000u;

constexpr bool Failed(HRESULT hr)
{
    return hr < 0;
}
constexpr bool Succeeded(HRESULT hr)
{
    return hr >= 0;
}

constexpr HRESULT HresultFromErrno(int err)
{
    return static_cast<HRESULT>(kErrnoBase + static_cast<std::uint32_t>(err & 0xFFFF));
}
constexpr HRESULT HresultFromCurl(int code)
{
    return static_cast<HRESULT>(kCurlBase + static_cast<std::uint32_t>(code & 0xFFFF));
}
constexpr bool IsErrnoResult(HRESULT hr)
{
    return (static_cast<std::uint32_t>(hr) & kRangeMask) == kErrnoBase;
}
constexpr bool IsCurlResult(HRESULT hr)
{
    return (static_cast<std::uint32_t>(hr) & kRangeMask) == kCurlBase;
}
constexpr int ErrnoOf(HRESULT hr)
{
    return static_cast<int>(static_cast<std::uint32_t>(hr) & 0xFFFF);
}

// The system's text of any result code, trimmed of white space at both ends:
// the errno text, libcurl's text, or our own text of a system constant;
// without one, "Unknown HRESULT: " and the code in lower-case hexadecimal.
std::wstring GetSystemText(HRESULT hr);

// The errno text alone (strerror in the current locale), trimmed.
std::wstring GetErrnoText(int err);

} // namespace zk
