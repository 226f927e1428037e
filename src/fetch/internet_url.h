#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

// The parts of a URL, split as the internet handles split it.
struct CUrlComponents
{
    std::wstring scheme; // without its ":"
    std::wstring host;
    std::uint16_t port = 0; // the scheme's default port when the URL names none
    std::wstring userName;
    std::wstring password;
    std::wstring path;  // from the "/" after the host up to "?" or "#"
    std::wstring extra; // the rest, with its "?" or "#"
};

// Each part must fit a buffer of this many characters, its terminating null
// included.
constexpr std::size_t kMaxUrlScheme = 32;
constexpr std::size_t kMaxUrlHost = 256;
constexpr std::size_t kMaxUrlUserName = 128;
constexpr std::size_t kMaxUrlPassword = 128;
constexpr std::size_t kMaxUrlPath = 2048;
constexpr std::size_t kMaxUrlExtra = 2048;

// Splits "scheme://[user[:password]@]host[:port][/path][?query][#fragment]".
// False, with the parts left empty, for anything else: no scheme, no "//",
// no host, a port that is no number below 65536, or a part too long.
bool CrackUrl(std::wstring_view url, CUrlComponents& parts);

} // namespace zk
