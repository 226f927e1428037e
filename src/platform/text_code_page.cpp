#include "platform/text_code_page.h"

#include <cerrno>
#include <iconv.h>

namespace zk {
namespace {

// iconv's names of the code pages.
const char* IconvName(std::uint32_t codePage)
{
    switch (codePage) {
    case CP_ACP:
    case CP_UTF8:
        return "UTF-8";
    case CP_UTF7:
        return "UTF-7";
    case CP_SHIFT_JIS:
        return "CP932";
    case CP_EUC_JP:
        return "EUC-JP";
    case CP_ISO_2022_JP:
        return "ISO-2022-JP";
    default:
        return nullptr;
    }
}

constexpr char kDefaultChar = '?';
constexpr std::size_t kChunk = 256;

// Owns one iconv descriptor.
class CIconv
{
public:
    CIconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~CIconv()
    {
        if (IsValid())
            iconv_close(m_cd);
    }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;

    bool IsValid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return m_cd; }

private:
    iconv_t m_cd;
};

} // namespace

bool IsKnownCodePage(std::uint32_t codePage)
{
    return IconvName(codePage) != nullptr;
}

bool WideToCodePage(std::uint32_t codePage, std::wstring_view text, std::string& bytes)
{
    bytes.clear();
    const char* name = IconvName(codePage);
    if (!name)
        return false;
    CIconv converter(name, "WCHAR_T");
    if (!converter.IsValid())
        return false;

    // One character at a time, so that an unrepresentable one can be
    // replaced without losing the converter's shift state.
    char out[kChunk];
    for (wchar_t c : text) {
        char* in = reinterpret_cast<char*>(&c);
        std::size_t inLeft = sizeof c;
        char* outPtr = out;
        std::size_t outLeft = sizeof out;
        if (iconv(converter.Get(), &in, &inLeft, &outPtr, &outLeft) ==
            static_cast<std::size_t>(-1)) {
            if (errno != EILSEQ && errno != EINVAL) {
                bytes.clear();
                return false;
            }
            // Back to the initial shift state first, so that the
            // replacement reads as itself.
            outPtr = out;
            outLeft = sizeof out;
            iconv(converter.Get(), nullptr, nullptr, &outPtr, &outLeft);
            *outPtr++ = kDefaultChar;
        }
        bytes.append(out, static_cast<std::size_t>(outPtr - out));
    }
    // Stateful encodings (ISO-2022-JP, UTF-7) end with their return sequence.
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    iconv(converter.Get(), nullptr, nullptr, &outPtr, &outLeft);
    bytes.append(out, static_cast<std::size_t>(outPtr - out));
    return true;
}

} // namespace zk
