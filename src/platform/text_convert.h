#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zk {

// UTF-8 to wide text. Never fails: an invalid or cut sequence becomes one
// U+FFFD, as the system's conversion without flags does.
std::wstring Utf8ToWide(std::string_view utf8);
std::wstring Utf8ToWide(const char* data, std::size_t length);

// Wide text to UTF-8. A code point that cannot be encoded (a lone surrogate
// or a value above U+10FFFF) becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

} // namespace zk
