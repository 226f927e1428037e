#pragma once

#include <string>
#include <string_view>

namespace zk {

// Text a page wrote as HTML text, with its character references turned into
// the characters they stand for, in one pass (a reference that a reference
// gave, such as "&amp;lt;", stays "&lt;"). Numeric references ("&#9733;",
// "&#x2605;", the closing ";" optional) give their character, or U+FFFD for
// zero, a surrogate or a number beyond U+10FFFF; named references need
// their ";" and are looked up in the HTML parser's table of HTML 4's 253
// names, case-sensitive. Anything else, unknown names included, stays as it
// stands. The result may hold control characters; what may be kept of them
// is the caller's rule.
std::wstring DecodeHtmlReferences(std::wstring_view text);

} // namespace zk
