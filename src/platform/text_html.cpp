#include "platform/text_html.h"

#include "platform/text_convert.h"

#include <cstdint>
#include <libxml/HTMLparser.h>

namespace zk {
namespace {

constexpr wchar_t kReplacementChar = 0xFFFD;
constexpr std::uint32_t kLastCodePoint = 0x10FFFF;
// No name of the table is longer; a longer run of letters is no reference.
constexpr std::size_t kMaxNameLength = 32;

bool IsDigit(wchar_t c, bool hex)
{
    if (c >= L'0' && c <= L'9')
        return true;
    return hex && ((c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'));
}

std::uint32_t DigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return static_cast<std::uint32_t>(c - L'0');
    if (c >= L'a' && c <= L'f')
        return static_cast<std::uint32_t>(c - L'a' + 10);
    return static_cast<std::uint32_t>(c - L'A' + 10);
}

bool IsNameChar(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

// A numeric reference at `at` (just after "&#"): its character and the
// position after it, or false when no digit follows.
bool ReadNumeric(std::wstring_view text, std::size_t at, wchar_t& out, std::size_t& end)
{
    bool hex = at < text.size() && (text[at] == L'x' || text[at] == L'X');
    std::size_t digits = hex ? at + 1 : at;
    std::size_t i = digits;
    std::uint32_t value = 0;
    bool tooLarge = false;
    for (; i < text.size() && IsDigit(text[i], hex); ++i) {
        value = value * (hex ? 16 : 10) + DigitValue(text[i]);
        // Once beyond the last code point it stays invalid; the number is
        // not kept growing, so that a long run of digits cannot wrap.
        if (value > kLastCodePoint) {
            tooLarge = true;
            value = kLastCodePoint + 1;
        }
    }
    if (i == digits)
        return false;
    if (i < text.size() && text[i] == L';')
        ++i;
    end = i;
    bool invalid = tooLarge || value == 0 || (value >= 0xD800 && value <= 0xDFFF);
    out = invalid ? kReplacementChar : static_cast<wchar_t>(value);
    return true;
}

// A named reference at `at` (just after "&"), looked up in the parser's
// table.
bool ReadNamed(std::wstring_view text, std::size_t at, wchar_t& out, std::size_t& end)
{
    std::size_t i = at;
    while (i < text.size() && i - at <= kMaxNameLength && IsNameChar(text[i]))
        ++i;
    if (i == at || i - at > kMaxNameLength || i >= text.size() || text[i] != L';')
        return false;
    std::string name = WideToUtf8(text.substr(at, i - at));
    const htmlEntityDesc* entity = htmlEntityLookup(reinterpret_cast<const xmlChar*>(name.c_str()));
    if (!entity)
        return false;
    out = static_cast<wchar_t>(entity->value);
    end = i + 1;
    return true;
}

} // namespace

std::wstring DecodeHtmlReferences(std::wstring_view text)
{
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != L'&') {
            out += text[i++];
            continue;
        }
        wchar_t c = 0;
        std::size_t end = 0;
        bool numeric = i + 1 < text.size() && text[i + 1] == L'#';
        if (numeric ? ReadNumeric(text, i + 2, c, end) : ReadNamed(text, i + 1, c, end)) {
            out += c;
            i = end;
        } else {
            out += text[i++];
        }
    }
    return out;
}

} // namespace zk
