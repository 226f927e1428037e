// The probe keeping what it finds in the friend list of the data folder
// (--save), as the program does between its start and its exit.

#include "support/child_process.h"
#include "support/page_capture.h"
#include "support/test_env.h"
#include "tools/probe_test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace zk {
namespace {

namespace fs = std::filesystem;
using test::CProcessResult;

using test::WritePageCapture;

using test::ReadFile;

class ProbeSave : public ::testing::Test
{
protected:
    fs::path Folder() const { return m_dir.Path() / "data" / "Brindlewerk" / "Zarumatekit"; }
    fs::path List() const { return Folder() / "DefaultList.config"; }

    CProcessResult Save(const fs::path& capture)
    {
        return test::RunProcess(
            {ZK_PROBE_PATH, "--save", capture.string()},
            {"LC_ALL=C.UTF-8", "XDG_DATA_HOME=" + (m_dir.Path() / "data").string()});
    }

    test::CTempDir m_dir;
};

TEST_F(ProbeSave, TwoRunsGiveOnePersonEachNewestFirstWithTheLaterNickname)
{
    fs::path first = m_dir.Path() / "first.pcap";
    fs::path second = m_dir.Path() / "second.pcap";
    ASSERT_TRUE(WritePageCapture(first, {{"someid", "ざるこ"}, {"other", "べつのひと"}}));
    ASSERT_TRUE(WritePageCapture(second, {{"someid", "ざるこ改"}}));

    CProcessResult run = Save(first);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "someid\tざるこ\nother\tべつのひと\n");
    run = Save(second);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    std::string list = ReadFile(List());
    std::size_t someid = list.find("<id>someid</id>");
    std::size_t other = list.find("<id>other</id>");
    ASSERT_NE(someid, std::string::npos) << list;
    ASSERT_NE(other, std::string::npos) << list;
    EXPECT_LT(someid, other);
    EXPECT_EQ(list.find("<id>someid</id>", someid + 1), std::string::npos);
    EXPECT_NE(list.find("<name>ざるこ改</name>"), std::string::npos);
    EXPECT_EQ(list.find("<name>ざるこ</name>"), std::string::npos);

    std::regex time(
        "<updateTime>\\d{4}/\\d{2}/\\d{2} \\d{1,2}:\\d{2}:\\d{2}\\.\\d{1,3}</updateTime>");
    EXPECT_EQ(
        std::distance(std::sregex_iterator(list.begin(), list.end(), time), std::sregex_iterator()),
        2);
    EXPECT_NE(list.find("<imageModifiedTime>0</imageModifiedTime>"), std::string::npos);
    EXPECT_FALSE(fs::exists(Folder() / "BackupList.config")) << "the list only grew";
}

TEST_F(ProbeSave, SmallerListKeepsTheOldFileAsTheBackupByteForByte)
{
    // The record without a name is long, so the file written without it is
    // smaller.
    const std::string old = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ZarumateDataList>\n"
                            "<ZarumateData><id>kept</id><name>K</name><updateTime>0</updateTime>"
                            "<imageModifiedTime>0</imageModifiedTime></ZarumateData>\n"
                            "<ZarumateData><id>nameless" +
                            std::string(500, 'x') +
                            "</id><updateTime>0</updateTime></ZarumateData>\n"
                            "</ZarumateDataList>\n";
    fs::create_directories(Folder());
    std::ofstream(List(), std::ios::binary) << old;
    fs::path empty = m_dir.Path() / "empty.pcap";
    ASSERT_TRUE(WritePageCapture(empty, {}));

    CProcessResult run = Save(empty);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(Folder() / "BackupList.config"), old);
    EXPECT_NE(ReadFile(List()).find("<id>kept</id>"), std::string::npos);
    EXPECT_EQ(ReadFile(List()).find("nameless"), std::string::npos);
}

TEST_F(ProbeSave, DamagedListFailsWithTheLoadMessageAndIsLeftAsItWas)
{
    const std::string damaged = "<?xml version=\"1.0\"?>\n<ZarumateDataList><ZarumateData><id>a";
    fs::create_directories(Folder());
    std::ofstream(List(), std::ios::binary) << damaged;
    fs::path capture = m_dir.Path() / "one.pcap";
    ASSERT_TRUE(WritePageCapture(capture, {{"someid", "ざるこ"}}));

    CProcessResult run = Save(capture);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Zarumateリストの読み込みに失敗しました\n\n" + List().string()),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(List()), damaged);
    EXPECT_FALSE(fs::exists(Folder() / "tmpList.config"));
}

TEST_F(ProbeSave, ScrapedTextIsTextInTheOutputAndInTheList)
{
    fs::path capture = m_dir.Path() / "odd.pcap";
    ASSERT_TRUE(WritePageCapture(capture, {{std::string("bob\0evil", 8), "ボブ"},
                                           {"bob", "mochi&lt;b&gt;&amp;&#9733;"},
                                           {std::string("bob\0other", 9), "ボブ"},
                                           {"esc", "a\x1b]0;title\x07&#27;[2Jb"}}));
    CProcessResult run =
        test::RunProcess({ZK_PROBE_PATH, "--save", "--stats", capture.string()},
                         {"LC_ALL=C.UTF-8", "XDG_DATA_HOME=" + (m_dir.Path() / "data").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "bob\tmochi<b>&★\nesc\ta\xEF\xBF\xBD]0;title\xEF\xBF\xBD"
                       "\xEF\xBF\xBD[2Jb\n");
    for (unsigned char c : run.out + run.err)
        EXPECT_TRUE(c >= 0x20 || c == '\n' || c == '\t') << "control " << static_cast<int>(c);
    EXPECT_NE(run.err.find(" ids_refused=2"), std::string::npos) << run.err;

    std::string list = ReadFile(List());
    std::size_t bob = list.find("<id>bob</id>");
    ASSERT_NE(bob, std::string::npos) << list;
    EXPECT_EQ(list.find("<id>bob</id>", bob + 1), std::string::npos) << list;
    EXPECT_EQ(list.find("evil"), std::string::npos);
    EXPECT_NE(list.find("<name>mochi&lt;b&gt;&amp;★</name>"), std::string::npos) << list;
    // Well-formed XML 1.0: no control character, raw or as a reference.
    for (unsigned char c : list)
        EXPECT_TRUE(c >= 0x20 || c == '\n' || c == '\t') << "control " << static_cast<int>(c);
    EXPECT_EQ(list.find("&#"), std::string::npos) << list;

    // Read back and written again by a second run, the list is the same.
    fs::path none = m_dir.Path() / "none.pcap";
    ASSERT_TRUE(WritePageCapture(none, {}));
    run = Save(none);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(List()), list);
}

} // namespace
} // namespace zk
