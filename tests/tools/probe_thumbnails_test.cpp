#include "base/path.h"
#include "fetch/drawing_surface.h"
#include "fetch/image.h"
#include "friends/zarumate_list_file.h"
#include "platform/file_ops.h"
#include "support/child_process.h"
#include "support/scoped_env.h"
#include "support/test_env.h"
#include "support/thumbnail_check.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace zk {
namespace {

namespace fs = std::filesystem;

// A data folder with a list of three friends; only alice has a cache file.
class ProbeThumbnailsTest : public ::testing::Test
{
protected:
    ProbeThumbnailsTest() : m_env("XDG_DATA_HOME", (m_dir.Path() / "data").string())
    {
        CZarumateDataList list;
        for (const wchar_t* id : {L"alice", L"bob", L"../evil"}) {
            auto data = std::make_shared<CZarumateData>();
            data->m_id = id;
            data->m_name = id;
            list.PushBack(data);
        }
        CSimpleErr err;
        EXPECT_TRUE(SaveList(kDefaultListName, list, err)) << "list not written";

        CImage avatar(120, 110);
        for (int y = 0; y < 110; ++y)
            for (int x = 0; x < 120; ++x)
                avatar.SetPixel(x, y, 0xFF3366CCu);
        std::string png;
        EXPECT_EQ(EncodePng(avatar, png), CDrawStatus::Ok);
        std::wstring folder = JoinPath(GetDataFolder(), L"Image");
        EXPECT_EQ(CreateFolderTree(folder), S_OK);
        EXPECT_EQ(WriteWholeFile(JoinPath(folder, L"alice.png"), png), S_OK);
        // What the bad id would read, one level up.
        EXPECT_EQ(WriteWholeFile(JoinPath(GetDataFolder(), L"evil.png"), png), S_OK);
    }

    test::CProcessResult Run(const fs::path& out)
    {
        return test::RunProcess(
            {ZK_PROBE_PATH, "--thumbnails", out.string()},
            {"LC_ALL=C.UTF-8", "XDG_DATA_HOME=" + (m_dir.Path() / "data").string()});
    }

    test::CTempDir m_dir;
    test::CScopedEnv m_env;
};

TEST_F(ProbeThumbnailsTest, WritesOneRoundThumbnailPerCachedFriend)
{
    fs::path out = m_dir.Path() / "thumbs";
    test::CProcessResult result = Run(out);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "alice\t0\nbob\t2002\n../evil\t2002\n");

    test::ExpectRoundThumbnail(out / "alice.png", 0xFF3366CCu);

    EXPECT_FALSE(fs::exists(out / "bob.png"));
    // The two files made here and alice's thumbnail: the bad id wrote
    // nothing anywhere.
    std::size_t pngs = 0;
    for (const auto& entry : fs::recursive_directory_iterator(m_dir.Path()))
        pngs += entry.path().extension() == ".png" ? 1 : 0;
    EXPECT_EQ(pngs, 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator{}), 1);
}

// A link left under a thumbnail's name is replaced, not written through.
TEST_F(ProbeThumbnailsTest, ALinkUnderTheThumbnailsNameIsReplacedNotFollowed)
{
    fs::path out = m_dir.Path() / "thumbs";
    fs::create_directories(out);
    fs::path victim = m_dir.Path() / "victim.txt";
    {
        std::ofstream(victim) << "keep";
    }
    fs::create_symlink(victim, out / "alice.png");
    test::CProcessResult result = Run(out);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(fs::is_symlink(out / "alice.png"));
    test::ExpectRoundThumbnail(out / "alice.png", 0xFF3366CCu);
    std::ifstream kept(victim);
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "keep");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator{}), 1);
}

} // namespace
} // namespace zk
