#include "platform/text_convert.h"

#include <cstdint>

namespace zk {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// Decodes one sequence at p (p < end). Returns the code point, or
// kReplacement for an ill-formed one, and sets `used` to the bytes consumed.
// An ill-formed sequence consumes its maximal subpart, as Unicode's
// "U+FFFD substitution of maximal subparts" recommends: a lead byte and the
// continuation bytes that could still have belonged to it.
char32_t DecodeOne(const unsigned char* p, const unsigned char* end, std::size_t& used)
{
    unsigned char b0 = p[0];
    used = 1;
    if (b0 < 0x80)
        return b0;

    int need;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0; // overlong
        if (b0 == 0xED)
            hi = 0x9F; // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90; // overlong
        if (b0 == 0xF4)
            hi = 0x8F; // above U+10FFFF
    } else {
        return kReplacement;
    }

    for (int i = 1; i <= need; ++i) {
        if (p + i >= end)
            return kReplacement; // cut at the end of the input
        unsigned char b = p[i];
        unsigned char min = i == 1 ? lo : 0x80;
        unsigned char max = i == 1 ? hi : 0xBF;
        if (b < min || b > max)
            return kReplacement;
        cp = (cp << 6) | (b & 0x3F);
        used = static_cast<std::size_t>(i) + 1;
    }
    return cp;
}

} // namespace

std::wstring Utf8ToWide(const char* data, std::size_t length)
{
    std::wstring out;
    out.reserve(length);
    auto p = reinterpret_cast<const unsigned char*>(data);
    auto end = p + length;
    while (p < end) {
        std::size_t used = 1;
        out.push_back(static_cast<wchar_t>(DecodeOne(p, end, used)));
        p += used;
    }
    return out;
}

std::wstring Utf8ToWide(std::string_view utf8)
{
    return Utf8ToWide(utf8.data(), utf8.size());
}

std::string WideToUtf8(std::wstring_view wide)
{
    std::string out;
    out.reserve(wide.size());
    for (wchar_t wc : wide) {
        auto cp = static_cast<std::uint32_t>(wc);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            cp = kReplacement;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace zk
