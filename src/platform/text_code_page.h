#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

// Code pages by the numbers the program names them. The thread's ANSI code
// page is UTF-8 on Linux desktops.
constexpr std::uint32_t CP_ACP = 0;
constexpr std::uint32_t CP_SHIFT_JIS = 932;
constexpr std::uint32_t CP_ISO_2022_JP = 50220;
constexpr std::uint32_t CP_EUC_JP = 51932;
constexpr std::uint32_t CP_UTF7 = 65000;
constexpr std::uint32_t CP_UTF8 = 65001;

// True when the code page is one the conversion knows.
bool IsKnownCodePage(std::uint32_t codePage);

// Converts wide text to bytes in a code page. A character the code page
// cannot represent becomes "?", as the system's conversion without flags
// does. False only for an unknown code page or when the converter cannot be
// opened; `bytes` is then empty.
bool WideToCodePage(std::uint32_t codePage, std::wstring_view text, std::string& bytes);

} // namespace zk
