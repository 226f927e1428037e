#pragma once

#include <cstddef>
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

} // namespace zk
