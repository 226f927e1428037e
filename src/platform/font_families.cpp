#include "platform/font_families.h"

#include "platform/text_convert.h"

#include <fontconfig/fontconfig.h>
#include <memory>

namespace zk {

namespace {

struct CPatternDeleter
{
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using CPatternPtr = std::unique_ptr<FcPattern, CPatternDeleter>;

} // namespace

std::wstring ResolveFontFamily(const char* generic, const char* language)
{
    if (!generic || !language || !FcInit())
        return {};
    CPatternPtr pattern(FcPatternCreate());
    if (!pattern ||
        !FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(generic)) ||
        !FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>(language)))
        return {};
    // The same steps an application's font request goes through: the
    // configuration's substitutions (where the generic name becomes a list
    // of families), the defaults, then the best match installed.
    if (!FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern))
        return {};
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    CPatternPtr match(FcFontMatch(nullptr, pattern.get(), &result));
    FcChar8* family = nullptr;
    if (!match || result != FcResultMatch ||
        FcPatternGetString(match.get(), FC_FAMILY, 0, &family) != FcResultMatch || !family)
        return {};
    return Utf8ToWide(reinterpret_cast<const char*>(family));
}

} // namespace zk
