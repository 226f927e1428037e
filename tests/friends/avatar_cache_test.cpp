#include "base/path.h"
#include "fetch/download_image_task.h"
#include "fetch/drawing_surface.h"
#include "fetch/image.h"
#include "friends/avatar_cache.h"
#include "platform/file_ops.h"
#include "support/scoped_env.h"
#include "support/test_env.h"

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

namespace zk {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kOpaqueBlack = 0xFF000000u;
constexpr std::uint32_t kBlue = 0xFF0000FFu;

// A data folder of its own, as $XDG_DATA_HOME points it.
class AvatarCacheTest : public ::testing::Test
{
protected:
    AvatarCacheTest() : m_env("XDG_DATA_HOME", m_home.Path().string()) {}

    fs::path ImageFolder() const { return fs::path(JoinPath(GetDataFolder(), L"Image")); }

    CZarumateDataPtr AddFriend(const std::wstring& id)
    {
        auto data = std::make_shared<CZarumateData>();
        data->m_id = id;
        m_list.PushBack(data);
        return data;
    }

    // A finished download of the id's avatar with its file on disk.
    std::shared_ptr<CDownloadImageTask> MakeTask(const std::wstring& url)
    {
        auto task = std::make_shared<CDownloadImageTask>();
        task->m_url = url;
        fs::path file = m_downloads.Path() / ("BRS_0000002A_" + std::to_string(++m_counter));
        EXPECT_EQ(WriteWholeFile(file.wstring(), "image bytes"), S_OK);
        task->m_downloadedFile = file.wstring();
        task->m_lastModified = SYSTEMTIME{2024, 5, 3, 17, 8, 30, 0, 0};
        task->m_image = std::make_shared<CImage>(120, 110);
        return task;
    }

    static std::wstring UrlFor(const std::wstring& id)
    {
        return L"http://shop.nimbo.example/shop/original/zaru/user/image?nimboId=" + id;
    }

    bool DownloadsEmpty() const { return fs::is_empty(m_downloads.Path()); }

    // Every file below the home folder, so that a write outside the cache
    // would show.
    std::size_t FilesUnderHome() const
    {
        std::size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(m_home.Path()))
            count += entry.is_regular_file() ? 1 : 0;
        return count;
    }

    test::CTempDir m_home;
    test::CTempDir m_downloads;
    test::CScopedEnv m_env;
    CZarumateDataList m_list;
    int m_counter = 0;
};

TEST_F(AvatarCacheTest, AUrlWithoutTheIdKeyAttachesToNothingAndDeletesTheFile)
{
    AddFriend(L"alice");
    auto task = MakeTask(L"http://shop.nimbo.example/shop/original/zaru/user/image?id=alice");
    EXPECT_EQ(AttachImage(m_list, *task), m_list.end());
    EXPECT_TRUE(DownloadsEmpty());
    EXPECT_FALSE(m_list[0]->m_image);
    EXPECT_EQ(FilesUnderHome(), 0u);
}

TEST_F(AvatarCacheTest, AFriendDeletedMeanwhileLeavesNoFileBehind)
{
    AddFriend(L"alice");
    auto task = MakeTask(UrlFor(L"bob"));
    EXPECT_EQ(AttachImage(m_list, *task), m_list.end());
    EXPECT_TRUE(DownloadsEmpty());
    EXPECT_EQ(FilesUnderHome(), 0u);
}

TEST_F(AvatarCacheTest, ASuccessMovesTheFileAndStoresItsTime)
{
    auto data = AddFriend(L"alice");
    data->m_thumbnail = std::make_shared<CImage>(38, 38);
    data->m_error.SetErr(2001);
    auto task = MakeTask(UrlFor(L"alice"));
    auto it = AttachImage(m_list, *task);
    ASSERT_NE(it, m_list.end());
    EXPECT_EQ(*it, data);
    fs::path cached = ImageFolder() / "alice.png";
    EXPECT_TRUE(fs::exists(cached));
    std::string content;
    ASSERT_EQ(ReadWholeFile(cached.wstring(), content), S_OK);
    EXPECT_EQ(content, "image bytes");
    EXPECT_TRUE(DownloadsEmpty());
    EXPECT_EQ(data->m_imageModifiedTime, task->m_lastModified);
    EXPECT_EQ(data->m_image, task->m_image);
    EXPECT_FALSE(data->m_thumbnail);
    // A later success does not clear an earlier failure.
    EXPECT_EQ(data->m_error.GetId(), 2001u);
}

TEST_F(AvatarCacheTest, ASuccessReplacesAnOlderCacheFile)
{
    AddFriend(L"alice");
    fs::create_directories(ImageFolder());
    ASSERT_EQ(WriteWholeFile((ImageFolder() / "alice.png").wstring(), "old"), S_OK);
    auto task = MakeTask(UrlFor(L"alice"));
    ASSERT_NE(AttachImage(m_list, *task), m_list.end());
    std::string content;
    ASSERT_EQ(ReadWholeFile((ImageFolder() / "alice.png").wstring(), content), S_OK);
    EXPECT_EQ(content, "image bytes");
}

TEST_F(AvatarCacheTest, AFailedDownloadOnlyCopiesItsError)
{
    auto data = AddFriend(L"alice");
    auto old = std::make_shared<CImage>(1, 1);
    data->SetImage(old);
    auto task = MakeTask(UrlFor(L"alice"));
    task->GetErr().SetErr(2002, E_NOTIMPL);
    task->m_image.reset();
    ASSERT_NE(AttachImage(m_list, *task), m_list.end());
    EXPECT_EQ(data->m_error.GetId(), 2002u);
    EXPECT_EQ(data->m_error.GetResult(), E_NOTIMPL);
    EXPECT_EQ(data->m_error.GetText(), task->GetErr().GetText());
    EXPECT_EQ(data->m_image, old);
    EXPECT_TRUE(DownloadsEmpty());
    EXPECT_FALSE(fs::exists(ImageFolder() / "alice.png"));
    EXPECT_EQ(data->m_imageModifiedTime, SYSTEMTIME{});
}

TEST_F(AvatarCacheTest, AnIdThatIsNoFileNameShowsTheImageButCachesNothing)
{
    for (const std::wstring& id :
         {std::wstring(L"../escape"), std::wstring(L"a/b"), std::wstring(L"a\\b"),
          std::wstring(L"nul\0l", 5), std::wstring(300, L'x'), std::wstring(100, L'ザ')}) {
        m_list.Clear();
        auto data = AddFriend(id);
        auto task = MakeTask(UrlFor(id));
        auto it = AttachImage(m_list, *task);
        ASSERT_NE(it, m_list.end());
        EXPECT_EQ(data->m_image, task->m_image);
        EXPECT_EQ(data->m_imageModifiedTime, SYSTEMTIME{});
        EXPECT_TRUE(DownloadsEmpty());
        EXPECT_EQ(FilesUnderHome(), 0u);
    }
    EXPECT_TRUE(IsImageFileId(std::wstring(251, L'x')));
    EXPECT_FALSE(IsImageFileId(std::wstring(252, L'x')));
}

TEST_F(AvatarCacheTest, ACacheFolderThatCannotBeMadeLeavesTheOldTime)
{
    auto data = AddFriend(L"alice");
    SYSTEMTIME before{2020, 1, 3, 2, 0, 0, 0, 0};
    data->m_imageModifiedTime = before;
    // A file where the folder should be.
    fs::create_directories(ImageFolder().parent_path());
    ASSERT_EQ(WriteWholeFile(ImageFolder().wstring(), "in the way"), S_OK);
    auto task = MakeTask(UrlFor(L"alice"));
    ASSERT_NE(AttachImage(m_list, *task), m_list.end());
    EXPECT_EQ(data->m_imageModifiedTime, before);
    EXPECT_EQ(data->m_image, task->m_image);
    EXPECT_TRUE(DownloadsEmpty());
}

TEST_F(AvatarCacheTest, AFailedMoveKeepsTheImageAndCachesNothing)
{
    auto data = AddFriend(L"alice");
    auto task = MakeTask(UrlFor(L"alice"));
    InjectFileFailure(CFileOp::Move, HresultFromErrno(EXDEV));
    auto it = AttachImage(m_list, *task);
    ClearFileFailures();
    ASSERT_NE(it, m_list.end());
    EXPECT_EQ(data->m_image, task->m_image);
    EXPECT_EQ(data->m_imageModifiedTime, SYSTEMTIME{});
    EXPECT_FALSE(fs::exists(ImageFolder() / "alice.png"));
    EXPECT_TRUE(DownloadsEmpty());
}

// An avatar as the portal serves it, larger than the face square: opaque
// black outside the square, transparent inside it but for a blue block in
// its middle.
std::shared_ptr<CImage> MakeAvatar()
{
    auto avatar = std::make_shared<CImage>(130, 120);
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 130; ++x) {
            bool inSquare = x >= 17 && x < 108 && y >= 11 && y < 102;
            bool inBlock = x >= 52 && x < 73 && y >= 46 && y < 67;
            avatar->SetPixel(x, y, !inSquare ? kOpaqueBlack : inBlock ? kBlue : 0u);
        }
    return avatar;
}

// The same, with the face square at its place in a large image.
std::shared_ptr<CImage> MakeLargeAvatar(int width, int height)
{
    auto avatar = std::make_shared<CImage>(width, height);
    std::shared_ptr<CImage> face = MakeAvatar();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            avatar->SetPixel(x, y, x < 130 && y < 120 ? face->GetPixel(x, y) : kOpaqueBlack);
    return avatar;
}

double DistanceFromCentre(int x, int y)
{
    return std::hypot(x + 0.5 - kThumbnailSize / 2.0, y + 0.5 - kThumbnailSize / 2.0);
}

TEST_F(AvatarCacheTest, TheThumbnailIsTheFaceSquareOnWhiteInADisc)
{
    auto data = AddFriend(L"alice");
    data->SetImage(MakeAvatar());
    CSimpleErr err;
    PrepareThumbnail(*data, err);
    EXPECT_EQ(err.GetId(), 0u);
    ASSERT_TRUE(data->m_thumbnail);
    const CImage& thumb = *data->m_thumbnail;
    ASSERT_EQ(thumb.GetWidth(), kThumbnailSize);
    ASSERT_EQ(thumb.GetHeight(), kThumbnailSize);
    EXPECT_EQ(thumb.GetPixelFormat(), CPixelFormat::Argb32);

    for (int y = 0; y < kThumbnailSize; ++y)
        for (int x = 0; x < kThumbnailSize; ++x) {
            std::uint32_t pixel = thumb.GetPixel(x, y);
            double r = DistanceFromCentre(x, y);
            if (r > 20.5) {
                EXPECT_EQ(pixel >> 24, 0u) << x << "," << y;
            }
            if (r < 16.0) {
                EXPECT_EQ(pixel >> 24, 255u) << x << "," << y;
            }
            if (r < 18.0) {
                // Nothing of the black outside the square: white, or the
                // blue block blending into white.
                std::uint32_t red = (pixel >> 16) & 0xFF;
                std::uint32_t blue = pixel & 0xFF;
                EXPECT_EQ(blue, 255u) << x << "," << y;
                if (r > 8.0) {
                    EXPECT_EQ(red, 255u) << x << "," << y;
                }
            }
        }
    EXPECT_EQ(thumb.GetPixel(19, 19), kBlue);
    EXPECT_EQ(thumb.GetPixel(0, 0) >> 24, 0u);
    EXPECT_EQ(thumb.GetPixel(37, 37) >> 24, 0u);
}

TEST_F(AvatarCacheTest, TheThumbnailIsBuiltFromTheCacheFileOnce)
{
    auto data = AddFriend(L"alice");
    fs::create_directories(ImageFolder());
    std::string png;
    ASSERT_EQ(EncodePng(*MakeAvatar(), png), CDrawStatus::Ok);
    ASSERT_EQ(WriteWholeFile((ImageFolder() / "alice.png").wstring(), png), S_OK);
    CSimpleErr err;
    PrepareThumbnail(*data, err);
    EXPECT_EQ(err.GetId(), 0u);
    ASSERT_TRUE(data->m_image);
    EXPECT_EQ(data->m_image->GetWidth(), 130);
    ASSERT_TRUE(data->m_thumbnail);
    auto thumbnail = data->m_thumbnail;

    // Once built, neither the file nor the thumbnail is touched again.
    fs::remove(ImageFolder() / "alice.png");
    PrepareThumbnail(*data, err);
    EXPECT_EQ(err.GetId(), 0u);
    EXPECT_EQ(data->m_thumbnail, thumbnail);
}

TEST_F(AvatarCacheTest, AMissingCacheFileGives2002AndNoThumbnail)
{
    auto data = AddFriend(L"alice");
    CSimpleErr err;
    PrepareThumbnail(*data, err);
    EXPECT_EQ(err.GetId(), kMsgThumbnailLoadFailed);
    EXPECT_EQ(err.GetResult(), HresultFromErrno(ENOENT));
    EXPECT_FALSE(data->m_image);
    EXPECT_FALSE(data->m_thumbnail);

    // A file that is no image fails the same way.
    fs::create_directories(ImageFolder());
    ASSERT_EQ(WriteWholeFile((ImageFolder() / "alice.png").wstring(), "<html>"), S_OK);
    CSimpleErr notImage;
    PrepareThumbnail(*data, notImage);
    EXPECT_EQ(notImage.GetId(), kMsgThumbnailLoadFailed);
    EXPECT_FALSE(data->m_thumbnail);
}

TEST_F(AvatarCacheTest, AnIdThatIsNoFileNameIsNotRead)
{
    // A PNG where "../x" would lead from the cache folder.
    fs::create_directories(ImageFolder());
    std::string png;
    ASSERT_EQ(EncodePng(CImage(4, 4), png), CDrawStatus::Ok);
    ASSERT_EQ(WriteWholeFile((ImageFolder().parent_path() / "x.png").wstring(), png), S_OK);
    auto data = AddFriend(L"../x");
    CSimpleErr err;
    PrepareThumbnail(*data, err);
    EXPECT_EQ(err.GetId(), kMsgThumbnailLoadFailed);
    EXPECT_FALSE(data->m_image);
}

TEST_F(AvatarCacheTest, ASmallAvatarLeavesWhiteWhereItHasNoPixels)
{
    auto data = AddFriend(L"alice");
    auto small = std::make_shared<CImage>(20, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            small->SetPixel(x, y, kOpaqueBlack);
    data->SetImage(small);
    CSimpleErr err;
    PrepareThumbnail(*data, err);
    ASSERT_TRUE(data->m_thumbnail);
    // The square starts at (17, 11): only its top-left corner has pixels.
    EXPECT_EQ(data->m_thumbnail->GetPixel(30, 30), 0xFFFFFFFFu);
}

} // namespace
} // namespace zk

namespace zk {
namespace {

TEST_F(AvatarCacheTest, ALargeAvatarIsKeptOnlyAtTheSizesThatAreDrawn)
{
    // Downloaded: the thumbnail is made at once from the image's own size,
    // then only the popup's copy stays.
    auto data = AddFriend(L"alice");
    auto task = MakeTask(UrlFor(L"alice"));
    task->m_image = MakeLargeAvatar(600, 500);
    ASSERT_NE(AttachImage(m_list, *task), m_list.end());
    task.reset();
    ASSERT_TRUE(data->m_image);
    EXPECT_EQ(data->m_image->GetWidth(), kPopupAvatarWidth);
    EXPECT_EQ(data->m_image->GetHeight(), kPopupAvatarHeight);
    ASSERT_TRUE(data->m_thumbnail);
    EXPECT_EQ(data->m_thumbnail->GetPixel(19, 19), kBlue);
    // Drawing the cell again changes neither.
    auto thumbnail = data->m_thumbnail;
    CSimpleErr err;
    PrepareThumbnail(*data, err);
    EXPECT_EQ(err.GetId(), 0u);
    EXPECT_EQ(data->m_thumbnail, thumbnail);
    EXPECT_EQ(data->m_image->GetWidth(), kPopupAvatarWidth);

    // Read back from the cache file, the same.
    auto bob = AddFriend(L"bob");
    std::string png;
    ASSERT_EQ(EncodePng(*MakeLargeAvatar(600, 500), png), CDrawStatus::Ok);
    fs::create_directories(ImageFolder());
    ASSERT_EQ(WriteWholeFile((ImageFolder() / "bob.png").wstring(), png), S_OK);
    PrepareThumbnail(*bob, err);
    EXPECT_EQ(err.GetId(), 0u);
    ASSERT_TRUE(bob->m_image && bob->m_thumbnail);
    EXPECT_EQ(bob->m_image->GetWidth(), kPopupAvatarWidth);
    EXPECT_EQ(bob->m_thumbnail->GetPixel(19, 19), kBlue);
}

} // namespace
} // namespace zk
