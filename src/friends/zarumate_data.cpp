#include "friends/zarumate_data.h"

#include "base/path.h"
#include "capture/portal_hosts.h"

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

} // namespace

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
