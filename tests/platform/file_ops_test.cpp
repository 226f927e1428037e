#include "platform/file_ops.h"
#include "support/file_traps.h"
#include "support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace zk {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::size_t CountEntries(const fs::path& folder)
{
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST(FileOps, MoveAcrossFileSystemsCopiesReplacesAndDeletes)
{
    const fs::path shm = "/dev/shm";
    test::CTempDir dir;
    struct stat a, b;
    if (::stat(shm.c_str(), &a) != 0 || ::stat(dir.Path().c_str(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "needs /dev/shm on a file system other than the temporary folder";
    fs::path source = shm / ("zk-move-" + dir.Path().filename().string());
    std::ofstream(source) << "new list";
    std::ofstream(dir.Path() / "target") << "old list, longer";

    ASSERT_EQ(MoveFileReplacing(source.wstring(), (dir.Path() / "target").wstring()), S_OK);
    EXPECT_EQ(Read(dir.Path() / "target"), "new list");
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(CountEntries(dir.Path()), 1u);
}

TEST(FileOps, FailedCopyLeavesTheTargetWhole)
{
    test::CTempDir dir;
    std::ofstream(dir.Path() / "target") << "old";
    EXPECT_EQ(
        CopyFileReplacing((dir.Path() / "missing").wstring(), (dir.Path() / "target").wstring()),
        HresultFromErrno(ENOENT));
    EXPECT_EQ(CopyFileReplacing(dir.Path().wstring(), (dir.Path() / "target").wstring()),
              HresultFromErrno(EISDIR));
    EXPECT_EQ(Read(dir.Path() / "target"), "old");
    EXPECT_EQ(CountEntries(dir.Path()), 1u);
}

TEST(FileOps, SizeIsOnlyThatOfARegularFile)
{
    test::CTempDir dir;
    std::ofstream(dir.Path() / "f") << "12345";
    std::uint64_t size = 0;
    ASSERT_EQ(QueryFileSize((dir.Path() / "f").wstring(), size), S_OK);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(QueryFileSize(dir.Path().wstring(), size), HresultFromErrno(EISDIR));
}

TEST(FileOps, InjectedFailureHitsOnlyTheNextCall)
{
    test::CTempDir dir;
    std::ofstream(dir.Path() / "a") << "a";
    std::wstring from = (dir.Path() / "a").wstring();
    std::wstring to = (dir.Path() / "b").wstring();
    InjectFileFailure(CFileOp::Move, HresultFromErrno(EIO));
    EXPECT_EQ(MoveFileReplacing(from, to), HresultFromErrno(EIO));
    EXPECT_TRUE(fs::exists(from));
    EXPECT_EQ(MoveFileReplacing(from, to), S_OK);
    EXPECT_EQ(Read(dir.Path() / "b"), "a");
}

TEST(FileOps, FifoIsNeverOpenedAsAFile)
{
    test::CTempDir dir;
    fs::path fifo = dir.Path() / "fifo";
    fs::path file = dir.Path() / "file";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(file) << "file";
    HRESULT read = S_OK, size = S_OK, write = S_OK, copy = S_OK, check = S_OK;
    ASSERT_TRUE(test::ReturnsDespiteFifo(fifo, [&] {
        std::string data;
        std::uint64_t bytes = 0;
        read = ReadWholeFile(fifo.wstring(), data);
        size = QueryFileSize(fifo.wstring(), bytes);
        write = WriteWholeFile(fifo.wstring(), "data");
        copy = CopyFileReplacing(fifo.wstring(), file.wstring());
        check = CheckRegularFile(fifo.wstring());
    }));
    for (HRESULT result : {read, size, write, copy, check})
        EXPECT_EQ(result, E_NOT_REGULAR_FILE);
    EXPECT_EQ(Read(file), "file");
    EXPECT_EQ(CheckRegularFile(file.wstring()), S_OK);
    EXPECT_EQ(CheckRegularFile(dir.Path().wstring()), HresultFromErrno(EISDIR));
    EXPECT_EQ(CheckRegularFile((dir.Path() / "none").wstring()), HresultFromErrno(ENOENT));
}

TEST(FileOps, StampTellsARenamedOrRewrittenFileFromTheSameOne)
{
    test::CTempDir dir;
    std::wstring path = (dir.Path() / "f").wstring();
    CFileStamp written, stat, read, again;
    ASSERT_EQ(WriteFileAtomically(path, "first", written), S_OK);
    ASSERT_EQ(QueryFileStamp(path, stat), S_OK);
    std::string data;
    ASSERT_EQ(ReadWholeFile(path, data, read), S_OK);
    EXPECT_EQ(written, stat) << "the rename keeps what the stamp holds";
    EXPECT_EQ(read, stat);
    EXPECT_EQ(written.m_size, 5u);

    // Same content, renamed into place: a new inode.
    ASSERT_EQ(WriteFileAtomically(path, "first", again), S_OK);
    EXPECT_NE(again.m_inode, written.m_inode);
    // Rewritten in place: the inode stays, the size does not.
    ASSERT_EQ(WriteWholeFile(path, "longer text"), S_OK);
    ASSERT_EQ(QueryFileStamp(path, stat), S_OK);
    EXPECT_EQ(stat.m_inode, again.m_inode);
    EXPECT_NE(stat, again);

    EXPECT_EQ(QueryFileStamp((dir.Path() / "none").wstring(), stat), HresultFromErrno(ENOENT));
    EXPECT_EQ(QueryFileStamp(dir.Path().wstring(), stat), HresultFromErrno(EISDIR));
    fs::path fifo = dir.Path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(QueryFileStamp(fifo.wstring(), stat), E_NOT_REGULAR_FILE);
}

} // namespace
} // namespace zk
