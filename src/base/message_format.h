#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace zk {

// One argument of a message: "%s" takes a text, "%d" a number.
using CFormatArg = std::variant<std::wstring_view, long long>;

// Fills a string-table message printf-style: each "%s" takes the next text,
// each "%d" the next number, "%%" is a percent sign. A directive whose
// argument is missing or of the other kind is left out. The result is cut at
// `limit` characters.
std::wstring FormatMessageText(std::wstring_view format, std::initializer_list<CFormatArg> args,
                               std::size_t limit);

// The string-table message of the id filled so; the result is cut at the
// message's length plus `slack` characters.
std::wstring FormatStringMessage(std::uint32_t id, std::initializer_list<CFormatArg> args,
                                 std::size_t slack);

} // namespace zk
