#pragma once

#include <cstdint>
#include <string>

namespace zk {

// The program's string table: every message, title and pattern text, by id.
// Returns nullptr for an id the table does not hold.
const wchar_t* FindString(std::uint32_t id);

// Loads a string the way the program always has: into a buffer of 256
// characters that grows tenfold while the text fills it, up to 65536
// characters. A missing string gives an empty text.
std::wstring LoadString(std::uint32_t id);

} // namespace zk
