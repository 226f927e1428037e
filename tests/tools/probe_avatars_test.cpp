// The probe fetching the avatars of the friends it keeps (--save --avatars)
// from the image host, which resolves to a test server inside a network
// namespace of the test's own.

#include "base/path.h"
#include "base/portal_hosts.h"
#include "fetch/drawing_surface.h"
#include "fetch/image.h"
#include "friends/zarumate_list_file.h"
#include "platform/file_ops.h"
#include "platform/text_convert.h"
#include "support/black_png.h"
#include "support/child_process.h"
#include "support/http_test_server.h"
#include "support/netns.h"
#include "support/page_capture.h"
#include "support/scoped_env.h"
#include "support/test_env.h"
#include "support/thumbnail_check.h"
#include "tools/probe_test_env.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace zk {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CHttpScript;
using test::CProcessResult;

constexpr const char* kImagePath = "/shop/original/zaru/user/image?nimboId=";
constexpr const char* kLastModified = "Last-Modified: Tue, 05 Mar 2024 07:08:09 GMT";
// The same moment as the list keeps it: the list has no day of the week.
constexpr SYSTEMTIME kStoredTime{2024, 3, 0, 5, 7, 8, 9, 0};

using test::ReadFile;

std::string AvatarPng(std::uint32_t colour)
{
    CImage avatar(120, 110);
    for (int y = 0; y < avatar.GetHeight(); ++y)
        for (int x = 0; x < avatar.GetWidth(); ++x)
            avatar.SetPixel(x, y, colour);
    std::string png;
    EXPECT_EQ(EncodePng(avatar, png), CDrawStatus::Ok);
    return png;
}

// Output lines in sorted order: the worker reports in list order, which the
// test does not pin down.
std::vector<std::string> SortedLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A namespace whose hosts file sends the image host to its own loopback,
// where a test server answers on port 80.
class ProbeAvatars : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_ROOT();
        ASSERT_TRUE(m_netns.Ok()) << m_netns.Error();
        // "ip netns exec" puts this file in the place of /etc/hosts.
        m_hostsFolder = fs::path("/etc/netns") / m_netns.Name();
        fs::create_directories(m_hostsFolder);
        std::ofstream(m_hostsFolder / "hosts")
            << "127.0.0.1 localhost\n127.0.0.1 " << WideToUtf8(kImageHost) << "\n";
        bool started = false;
        ASSERT_TRUE(m_netns.Run([&] { started = m_server.Start("127.0.0.1", 80); }));
        ASSERT_TRUE(started) << "no test server on port 80 of the namespace";
        fs::create_directories(m_dir.Path() / "tmp");
    }

    void TearDown() override
    {
        m_server.Stop();
        std::error_code ignored;
        if (!m_hostsFolder.empty())
            fs::remove_all(m_hostsFolder, ignored);
    }

    fs::path Folder() const { return m_dir.Path() / "data" / "Brindlewerk" / "Zarumatekit"; }
    fs::path Avatar(const std::string& id) const { return Folder() / "Image" / (id + ".png"); }

    CProcessResult SaveWithAvatars(const fs::path& capture)
    {
        return test::RunProcess(
            m_netns.ExecArgs({ZK_PROBE_PATH, "--save", "--avatars", capture.string()}),
            {"LC_ALL=C.UTF-8", "XDG_DATA_HOME=" + (m_dir.Path() / "data").string(),
             "TMPDIR=" + (m_dir.Path() / "tmp").string(),
             "http_proxy=", "HTTP_PROXY=", "all_proxy=", "ALL_PROXY="},
            60s);
    }

    void ServeAvatar(const std::string& id, const std::string& png)
    {
        CHttpScript image = CHttpScript::Status("HTTP/1.1 200 OK", png);
        image.headers = {kLastModified, "Content-Type: image/png"};
        m_server.SetScript(kImagePath + id, image);
    }

    CZarumateDataList LoadSavedList()
    {
        test::CScopedEnv data("XDG_DATA_HOME", (m_dir.Path() / "data").string());
        CZarumateDataList list;
        CSimpleErr err;
        EXPECT_TRUE(LoadList(kDefaultListName, list, err)) << WideToUtf8(err.GetText());
        return list;
    }

    test::CTempDir m_dir;
    test::CNetns m_netns{"avatars"};
    test::CHttpTestServer m_server{120s};
    fs::path m_hostsFolder;
};

TEST_F(ProbeAvatars, FetchesNewAvatarsOnceAndSkipsThemWhenUnchanged)
{
    const std::string someid = AvatarPng(0xFF3366CCu);
    const std::string other = AvatarPng(0xFF22AA44u);
    ServeAvatar("someid", someid);
    ServeAvatar("other", other);
    // "gone" has no image: the server answers 404, a failure of the HTTP stage.
    fs::path capture = m_dir.Path() / "pages.pcap";
    ASSERT_TRUE(test::WritePageCapture(
        capture, {{"someid", "ざるこ"}, {"other", "べつのひと"}, {"gone", "いない"}}));

    CProcessResult first = SaveWithAvatars(capture);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(SortedLines(first.out),
              (std::vector<std::string>{"gone\t1", "gone\tいない", "other\t0", "other\tべつのひと",
                                        "someid\t0", "someid\tざるこ"}))
        << first.out;
    EXPECT_EQ(ReadFile(Avatar("someid")), someid);
    EXPECT_EQ(ReadFile(Avatar("other")), other);
    EXPECT_FALSE(fs::exists(Avatar("gone")));
    for (const CZarumateDataPtr& data : LoadSavedList()) {
        SYSTEMTIME expected = data->m_id == L"gone" ? SYSTEMTIME{} : kStoredTime;
        EXPECT_EQ(data->m_imageModifiedTime, expected) << WideToUtf8(data->m_id);
    }

    auto someidTime = fs::last_write_time(Avatar("someid"));
    auto otherTime = fs::last_write_time(Avatar("other"));
    std::size_t requestsBefore = m_server.GetRequests().size();
    CProcessResult second = SaveWithAvatars(capture);
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(SortedLines(second.out),
              (std::vector<std::string>{"gone\t1", "gone\tいない", "other\t2001",
                                        "other\tべつのひと", "someid\t2001", "someid\tざるこ"}))
        << second.out;
    // The server was asked again, but the files were left alone.
    EXPECT_EQ(m_server.GetRequests().size(), requestsBefore + 3);
    EXPECT_EQ(fs::last_write_time(Avatar("someid")), someidTime);
    EXPECT_EQ(fs::last_write_time(Avatar("other")), otherTime);
    EXPECT_EQ(ReadFile(Avatar("someid")), someid);
    for (const CZarumateDataPtr& data : LoadSavedList()) {
        if (data->m_id != L"gone") {
            EXPECT_EQ(data->m_imageModifiedTime, kStoredTime) << WideToUtf8(data->m_id);
        }
    }
    // No download left a temporary file behind.
    EXPECT_TRUE(fs::is_empty(m_dir.Path() / "tmp"));
}

// An avatar of 5792 × 5790 pixels in a file of a few kilobytes would take
// 128 MiB decoded; it is refused from its header, and the friend after it
// gets its avatar as usual.
TEST_F(ProbeAvatars, AnAvatarBeyondThePixelLimitIsRefusedAndTheNextOneFetched)
{
    ServeAvatar("huge", test::BlackPng(5792, 5790));
    const std::string png = AvatarPng(0xFF3366CCu);
    ServeAvatar("someid", png);
    fs::path capture = m_dir.Path() / "pages.pcap";
    ASSERT_TRUE(test::WritePageCapture(capture, {{"huge", "おおきい"}, {"someid", "ざるこ"}}));
    CProcessResult result = SaveWithAvatars(capture);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // 2002: the image could not be loaded; nothing of it is cached.
    EXPECT_EQ(SortedLines(result.out), (std::vector<std::string>{"huge\t2002", "huge\tおおきい",
                                                                 "someid\t0", "someid\tざるこ"}))
        << result.out;
    EXPECT_FALSE(fs::exists(Avatar("huge")));
    EXPECT_EQ(ReadFile(Avatar("someid")), png);
    EXPECT_TRUE(fs::is_empty(m_dir.Path() / "tmp"));
}

TEST_F(ProbeAvatars, FetchedAvatarsBecomeRoundThumbnails)
{
    ServeAvatar("someid", AvatarPng(0xFF3366CCu));
    fs::path capture = m_dir.Path() / "pages.pcap";
    ASSERT_TRUE(test::WritePageCapture(capture, {{"someid", "ざるこ"}, {"gone", "いない"}}));
    ASSERT_EQ(SaveWithAvatars(capture).exitCode, 0);

    fs::path out = m_dir.Path() / "thumbs";
    CProcessResult result =
        test::RunProcess({ZK_PROBE_PATH, "--thumbnails", out.string()},
                         {"LC_ALL=C.UTF-8", "XDG_DATA_HOME=" + (m_dir.Path() / "data").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(SortedLines(result.out), (std::vector<std::string>{"gone\t2002", "someid\t0"}));
    EXPECT_FALSE(fs::exists(out / "gone.png"));
    test::ExpectRoundThumbnail(out / "someid.png", 0xFF3366CCu);
}

TEST_F(ProbeAvatars, AMissingCacheFileIsFetchedAgainDespiteTheStoredTime)
{
    const std::string png = AvatarPng(0xFF3366CCu);
    ServeAvatar("someid", png);
    fs::path capture = m_dir.Path() / "page.pcap";
    ASSERT_TRUE(test::WritePageCapture(capture, {{"someid", "ざるこ"}}));
    ASSERT_EQ(SaveWithAvatars(capture).exitCode, 0);
    ASSERT_TRUE(fs::remove(Avatar("someid")));

    CProcessResult again = SaveWithAvatars(capture);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, "someid\tざるこ\nsomeid\t0\n");
    EXPECT_EQ(ReadFile(Avatar("someid")), png);
}

} // namespace
} // namespace zk
