#include "friends/avatar_cache.h"

#include "base/path.h"
#include "fetch/bitmap_ops.h"
#include "fetch/dib.h"
#include "fetch/download_image_task.h"
#include "fetch/file_deleter.h"
#include "friends/zarumate_list_file.h"
#include "platform/file_ops.h"
#include "platform/text_convert.h"

#include <cerrno>
#include <cstdint>

namespace zk {

namespace {

constexpr std::wstring_view kImageExtension = L".png";

// The friend's cache file, or empty when its id cannot name a file there or
// no data folder is known (a relative path would land anywhere).
std::wstring SafeImagePath(const CZarumateData& data)
{
    if (!IsImageFileId(data.m_id) || GetDataFolder().empty())
        return {};
    return data.GetImagePath();
}

// Once the thumbnail is made from the avatar at its own size, a large
// avatar is replaced by its copy at the popup's size, so that a friend never
// keeps more than the two sizes that are drawn. Without a thumbnail, or
// when the copy cannot be made, the avatar stays as it is.
void KeepDrawnSizes(CZarumateData& data)
{
    if (!data.m_image || !data.m_thumbnail ||
        std::int64_t(data.m_image->GetWidth()) * data.m_image->GetHeight() <= kMaxKeptAvatarPixels)
        return;
    std::shared_ptr<CImage> popup =
        CImage::Create(kPopupAvatarWidth, kPopupAvatarHeight, CPixelFormat::Argb32);
    if (!popup)
        return;
    RECT source{0, 0, data.m_image->GetWidth(), data.m_image->GetHeight()};
    RECT target{0, 0, kPopupAvatarWidth, kPopupAvatarHeight};
    if (!DrawScaled(*data.m_image, source, *popup, target, CInterpolationMode::HighQualityBicubic))
        return;
    data.m_image = std::move(popup); // the thumbnail stays
}

} // namespace

bool IsImageFileId(std::wstring_view id)
{
    for (wchar_t c : id)
        if (c == L'/' || c == L'\\' || c == L'\0')
            return false;
    std::wstring name(id);
    name.append(kImageExtension);
    return WideToUtf8(name).size() <= kMaxFileNameBytes;
}

CZarumateDataList::iterator AttachImage(CZarumateDataList& list, CDownloadImageTask& task)
{
    // The downloaded file goes unless it reaches the cache.
    CFileDeleter deleter(task.m_downloadedFile);
    auto it = list.FindByImageUrl(task.m_url);
    if (it == list.end())
        return it;
    CZarumateData& data = **it;
    if (task.GetErr().GetId() != 0) {
        data.m_error.CopyFrom(task.GetErr());
        return it;
    }

    std::wstring folder = JoinPath(GetDataFolder(), kImageFolderName);
    std::wstring target = SafeImagePath(data);
    if (!target.empty() && !task.m_downloadedFile.empty() && Succeeded(EnsureFolder(folder)) &&
        Succeeded(MoveFileReplacing(task.m_downloadedFile, target))) {
        data.m_imageModifiedTime = task.m_lastModified;
        deleter.Disarm();
    }
    // The new image is shown even when it could not be cached. A large one
    // gets its thumbnail at once, while its own size is at hand.
    data.SetImage(task.m_image);
    if (data.m_image &&
        std::int64_t(data.m_image->GetWidth()) * data.m_image->GetHeight() > kMaxKeptAvatarPixels) {
        CSimpleErr thumbnailErr;
        PrepareThumbnail(data, thumbnailErr);
    }
    return it;
}

void PrepareThumbnail(CZarumateData& data, CSimpleErr& err)
{
    if (!data.m_image) {
        std::wstring path = SafeImagePath(data);
        HRESULT hr = path.empty() ? HresultFromErrno(EINVAL)
                                  : CDownloadImageTaskImpl::LoadImageFile(data.m_image, path);
        if (Failed(hr) || !data.m_image) {
            err.SetErr(kMsgThumbnailLoadFailed, Failed(hr) ? hr : E_FAIL);
            return;
        }
    }
    if (data.m_thumbnail) {
        KeepDrawnSizes(data);
        return;
    }

    CDib dib;
    if (!dib.Create(kThumbnailSize, kThumbnailSize, 32, 0, BI_RGB) || !dib.AllocBits()) {
        err.SetErr(kMsgThumbnailResizeFailed, E_OUTOFMEMORY);
        return;
    }
    dib.Fill(kThumbnailFill);
    std::shared_ptr<CImage> bitmap = BitmapOverDib(dib, true);
    if (!bitmap) {
        err.SetErr(kMsgThumbnailResizeFailed, E_OUTOFMEMORY);
        return;
    }
    RECT source{kThumbnailSourceLeft, kThumbnailSourceTop, kThumbnailSourceRight,
                kThumbnailSourceBottom};
    RECT target{0, 0, kThumbnailSize, kThumbnailSize};
    if (!DrawScaled(*data.m_image, source, *bitmap, target,
                    CInterpolationMode::HighQualityBicubic)) {
        err.SetErr(kMsgThumbnailResizeFailed, E_OUTOFMEMORY);
        return;
    }
    // A drawing failure comes back as a failing code, and a status that is
    // not plain success counts as failure too.
    HRESULT hr =
        RoundCorners(dib, kThumbnailCornerRadius, kThumbnailCornerRadius, true, true, true, true);
    if (hr != S_OK) {
        err.SetErr(kMsgThumbnailRoundFailed, hr);
        return;
    }
    std::shared_ptr<CImage> thumbnail = CopyDibToBitmap(dib, true);
    if (!thumbnail) {
        err.SetErr(kMsgThumbnailResizeFailed, E_OUTOFMEMORY);
        return;
    }
    data.m_thumbnail = std::move(thumbnail);
    KeepDrawnSizes(data);
}

} // namespace zk
