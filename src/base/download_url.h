#pragma once

#include <string>
#include <string_view>

namespace zk {

// The URL a download task keeps from the text it is given: the part before
// the first "::" (what follows is form data), with every percent escape of a
// plain ASCII character decoded (escapes of "#%&'()*+-./:=?_", of characters
// beyond ASCII and malformed ones stay as written) and white space and
// carriage returns trimmed at both ends. A finished download finds its
// friend again by comparing this text, so both sides must prepare it alike.
std::wstring PrepareDownloadUrl(std::wstring_view text);

// Decodes "%" escapes of characters below 128, except those that mean
// something in a URL (#%&'()*+-./:=?_), which stay escaped.
std::wstring DecodeUrlEscapes(std::wstring_view text);

} // namespace zk
