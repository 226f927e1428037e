#pragma once

#include <string>

namespace zk {

// The family fontconfig chooses for a generic family name ("serif",
// "sans-serif") in the language given, empty when it has none. The language
// matters: under a Japanese locale the generic serif resolves to a Mincho
// face, whose Latin letters are evenly spaced and thin, while asked for
// English text it answers a face made for Latin script.
std::wstring ResolveFontFamily(const char* generic, const char* language);

} // namespace zk
