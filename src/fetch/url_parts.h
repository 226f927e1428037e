#pragma once

#include <cstdint>
#include <string>

namespace zk {

// The pieces of a URL the download needs.
struct CUrlParts
{
    std::wstring scheme;    // without its ":"
    std::wstring host;      // an IPv6 address without its brackets
    std::uint16_t port = 0; // the scheme's default when the URL names none
    std::wstring path;
    std::wstring extra; // the query and the fragment, each with its "?" or "#"
};

// Splits "scheme://[user[:password]@]host[:port][/path][?query][#fragment]"
// with libcurl's parser. The path is taken as it stands, and blanks in it
// are kept, as ids may have them. False for a URL of another shape, one
// without a host, and one with a piece too long for the buffers the
// download was written for.
bool CrackUrl(const std::wstring& url, CUrlParts& parts);

} // namespace zk
