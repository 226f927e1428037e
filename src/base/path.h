#pragma once

#include <string>
#include <string_view>

namespace zk {

// Joins two parts of a path: a separator goes between them unless the left
// part is empty or already ends in a separator or a drive colon.
std::wstring JoinPath(std::wstring_view left, std::wstring_view right);

// The per-user data folder of the program: the user's application-data
// folder, then the maker's name, then the product name. Empty when the
// user's folder cannot be found.
std::wstring GetDataFolder();

} // namespace zk
