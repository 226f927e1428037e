#include "friends/zarumate_data.h"

#include "base/path.h"
#include "base/portal_hosts.h"

#include <cstdint>

namespace zk {
namespace {

std::wstring MakeUrl(const wchar_t* host, const wchar_t* path, const std::wstring& id)
{
    std::wstring url = L"http://";
    url += host;
    url += path;
    url += id;
    return url;
}

constexpr wchar_t kReplacementChar = 0xFFFD;

// What XML 1.0 holds besides the control characters: no surrogate (a lone
// one is all a wide text can have), no U+FFFE or U+FFFF, nothing beyond
// U+10FFFF.
bool IsXmlHoldable(wchar_t c)
{
    auto code = static_cast<std::uint32_t>(c);
    return !(code >= 0xD800 && code <= 0xDFFF) && code != 0xFFFE && code != 0xFFFF &&
           code <= 0x10FFFF;
}

bool IsWhiteSpaceControl(wchar_t c)
{
    return c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r' || c == 0x85;
}

} // namespace

bool IsControlChar(wchar_t c)
{
    auto code = static_cast<std::uint32_t>(c);
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

bool IsStorableId(std::wstring_view id)
{
    if (id.empty())
        return false;
    for (wchar_t c : id)
        if (IsControlChar(c) || !IsXmlHoldable(c))
            return false;
    return true;
}

std::wstring MakeStorableName(std::wstring_view name)
{
    std::wstring text(name);
    for (wchar_t& c : text) {
        if (IsWhiteSpaceControl(c))
            c = L' ';
        else if (IsControlChar(c) || !IsXmlHoldable(c))
            c = kReplacementChar;
    }
    return text;
}

std::wstring CZarumateData::GetImagePath() const
{
    return JoinPath(JoinPath(GetDataFolder(), kImageFolderName), m_id + L".png");
}

std::wstring CZarumateData::GetGamePageUrl() const
{
    return MakeUrl(kGameHost, L"/?targetNimboId=", m_id);
}

std::wstring CZarumateData::GetLifePageUrl() const
{
    return MakeUrl(kLifeHost, L"/user/", m_id);
}

std::wstring CZarumateData::GetBlogUrl() const
{
    return MakeUrl(kBlogHost, L"/", m_id);
}

std::wstring CZarumateData::GetMicroblogUrl() const
{
    return MakeUrl(kMicroblogHost, L"/", m_id);
}

std::wstring CZarumateData::GetImageUrl() const
{
    return MakeUrl(kImageHost, L"/shop/original/zaru/user/image?nimboId=", m_id);
}

void CZarumateData::CopyPersistent(const CZarumateData& other)
{
    m_id = other.m_id;
    m_name = other.m_name;
    m_updateTime = other.m_updateTime;
    m_imageModifiedTime = other.m_imageModifiedTime;
}

void CZarumateData::UpdateSighting(const CZarumateData& other)
{
    m_name = other.m_name;
    m_updateTime = other.m_updateTime;
}

void CZarumateData::SetImage(std::shared_ptr<CImage> image)
{
    m_image = std::move(image);
    m_thumbnail.reset();
}

} // namespace zk
