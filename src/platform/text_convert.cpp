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

// UTF-16's surrogates (RFC 2781 section 2): a high one, then a low one,
// carry the ten upper and ten lower bits of a code point above U+FFFF.
constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kLowSurrogateLast = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr int kSurrogateBits = 10;
constexpr char32_t kSurrogateMask = 0x3FF;

bool IsSurrogate(char32_t unit)
{
    return unit >= kHighSurrogateFirst && unit <= kLowSurrogateLast;
}

bool IsHighSurrogate(char32_t unit)
{
    return unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst;
}

bool IsLowSurrogate(char32_t unit)
{
    return unit >= kLowSurrogateFirst && unit <= kLowSurrogateLast;
}

// Whether the units at `i` are a surrogate pair.
bool IsPairAt(std::u16string_view utf16, std::size_t i)
{
    return IsHighSurrogate(utf16[i]) && i + 1 < utf16.size() && IsLowSurrogate(utf16[i + 1]);
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

std::u16string WideToUtf16(std::wstring_view wide)
{
    std::u16string out;
    out.reserve(wide.size());
    for (wchar_t wc : wide) {
        auto cp = static_cast<char32_t>(wc);
        if (cp > kLastCodePoint || IsSurrogate(cp))
            cp = kReplacement;
        if (cp < kFirstSupplementary) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            cp -= kFirstSupplementary;
            out.push_back(static_cast<char16_t>(kHighSurrogateFirst + (cp >> kSurrogateBits)));
            out.push_back(static_cast<char16_t>(kLowSurrogateFirst + (cp & kSurrogateMask)));
        }
    }
    return out;
}

std::wstring Utf16ToWide(std::u16string_view utf16)
{
    std::wstring out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (IsPairAt(utf16, i)) {
            cp = kFirstSupplementary + ((cp - kHighSurrogateFirst) << kSurrogateBits) +
                 (utf16[++i] - kLowSurrogateFirst);
        } else if (IsSurrogate(cp)) {
            cp = kReplacement;
        }
        out.push_back(static_cast<wchar_t>(cp));
    }
    return out;
}

bool IsWellFormedUtf16(std::u16string_view utf16)
{
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        if (IsPairAt(utf16, i))
            ++i;
        else if (IsSurrogate(utf16[i]))
            return false;
    }
    return true;
}

} // namespace zk
