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

// Wide text to UTF-16 code units. A code point that cannot be encoded (a
// lone surrogate or a value above U+10FFFF) becomes U+FFFD.
std::u16string WideToUtf16(std::wstring_view wide);

// UTF-16 code units to wide text; a surrogate outside a pair becomes U+FFFD.
std::wstring Utf16ToWide(std::u16string_view utf16);

// Whether every surrogate of the text is half of a pair.
bool IsWellFormedUtf16(std::u16string_view utf16);

} // namespace zk
