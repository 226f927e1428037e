#pragma once

#include "base/simple_err.h"
#include "fetch/image_fwd.h"
#include "platform/system_time.h"

#include <memory>
#include <string>
#include <string_view>

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

// Scraped text as a record holds it. A control character (U+0000 to U+001F,
// U+007F to U+009F) is never part of a person's id or name: a page that
// sends one in an id is not taken at its word, and the list file, XML 1.0,
// could not hold most of them anyway.
bool IsControlChar(wchar_t c);
// An id names a person and a file: not empty, no control character, and
// only characters the list file holds as they are.
bool IsStorableId(std::wstring_view id);
// The nickname with every control character and every character the list
// file cannot hold replaced: white space (tab, line ends) by a space, the
// rest by U+FFFD, so that nothing of it reaches a terminal or the file as
// it came.
std::wstring MakeStorableName(std::wstring_view name);

// The name of the avatar cache folder inside the data folder.
constexpr const wchar_t* kImageFolderName = L"Image";

} // namespace zk
