#pragma once

#include "base/simple_err.h"
#include "friends/zarumate_data_list.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zk {

class CDownloadImageTask;

// The round thumbnail of a friend's avatar, as the cells draw it.
constexpr int kThumbnailSize = 38;
// The square of an avatar that shows the face: left, top, right, bottom.
constexpr int kThumbnailSourceLeft = 17;
constexpr int kThumbnailSourceTop = 11;
constexpr int kThumbnailSourceRight = 108;
constexpr int kThumbnailSourceBottom = 102;
// Larger than half the thumbnail, so the rounding makes a disc.
constexpr double kThumbnailCornerRadius = 38.0;
constexpr std::uint32_t kThumbnailFill = 0xFFFFFFFFu; // opaque white

// The detail popup's avatar box, which stretches the image into it.
constexpr int kPopupAvatarWidth = 90;
constexpr int kPopupAvatarHeight = 105;
// An avatar of more pixels than this is not kept at its own size once its
// thumbnail is made: the popup's copy, scaled to its box, is kept instead.
// Avatars the portal serves are some 130 × 120 pixels and stay as they are.
constexpr std::int64_t kMaxKeptAvatarPixels = 256 * 256;

constexpr std::uint32_t kMsgThumbnailLoadFailed = 2002;
constexpr std::uint32_t kMsgThumbnailResizeFailed = 2003;
constexpr std::uint32_t kMsgThumbnailRoundFailed = 2004;

// The longest file name the system takes, in bytes.
constexpr std::size_t kMaxFileNameBytes = 255;

// True when id + ".png" is one plain file name: no path separator, no NUL,
// not too long. Ids come from web pages, so a file named after one must not
// reach outside its folder.
bool IsImageFileId(std::wstring_view id);

// Takes a finished avatar download into the friend it belongs to: a failure
// becomes the friend's error; a success moves the file into the avatar cache
// (storing its Last-Modified time only when the move worked) and gives the
// friend the decoded image either way. A download nobody wants any more, and
// a file that could not be moved, are deleted. Returns the friend's position,
// or end when no friend matches the task's URL.
CZarumateDataList::iterator AttachImage(CZarumateDataList& list, CDownloadImageTask& task);

// Fills the friend's image from its cache file when it has none, then builds
// its 38 × 38 round thumbnail when that is missing. Failures go to err with
// 2002 (the file), 2003 (scaling) or 2004 (rounding); the friend keeps what
// it had. An image beyond kMaxKeptAvatarPixels is then kept at the popup's
// size only.
void PrepareThumbnail(CZarumateData& data, CSimpleErr& err);

} // namespace zk
