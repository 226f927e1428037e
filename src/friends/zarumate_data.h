#pragma once

#include "base/simple_err.h"
#include "fetch/image_fwd.h"
#include "platform/system_time.h"

#include <memory>
#include <string>

namespace zk {

// One friend: a person whose microblog page crossed the watched adapter.
// Only the id, the name and the two times are kept in the list file; the
// images and the error live in memory only.
class CZarumateData
{
public:
    // The avatar cache file: the data folder, then "Image", then id + ".png".
    std::wstring GetImagePath() const;

    // Pages of the person on the portal. The id goes into the URL as it
    // stands, without escaping.
    std::wstring GetGamePageUrl() const;
    std::wstring GetLifePageUrl() const;
    std::wstring GetBlogUrl() const;
    std::wstring GetMicroblogUrl() const;
    std::wstring GetImageUrl() const;

    // Copies id, name and both times; images and error stay as they are.
    void CopyPersistent(const CZarumateData& other);
    // Takes the name and sighting time of a newer report of the same person.
    void UpdateSighting(const CZarumateData& other);
    // A new image makes the old thumbnail stale.
    void SetImage(std::shared_ptr<CImage> image);

    std::wstring m_id;
    std::wstring m_name;
    SYSTEMTIME m_updateTime{};
    SYSTEMTIME m_imageModifiedTime{};
    std::shared_ptr<CImage> m_image;
    std::shared_ptr<CImage> m_thumbnail;
    CSimpleErr m_error;
};

using CZarumateDataPtr = std::shared_ptr<CZarumateData>;

// The name of the avatar cache folder inside the data folder.
constexpr const wchar_t* kImageFolderName = L"Image";

} // namespace zk
