// The single-instance lock's folder when there is no $XDG_RUNTIME_DIR.

#include "platform/single_instance.h"
#include "support/scoped_env.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zk {
namespace {

namespace fs = std::filesystem;

class LockFallback : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/zk-lock-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_root = folder;
        m_runtime.emplace("XDG_RUNTIME_DIR", "");
        m_state.emplace("XDG_STATE_HOME", (m_root / "state").string());
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path m_root;
    std::optional<test::CScopedEnv> m_runtime;
    std::optional<test::CScopedEnv> m_state;
};

TEST_F(LockFallback, MakesAFolderOfTheUsersOwnUnderTheStateFolderAndLocksThere)
{
    CInstanceLock first;
    std::string why;
    ASSERT_EQ(first.Acquire("zk-test", why), CInstanceLock::Result::First) << why;
    fs::path folder = m_root / "state" / "zarumatekit";
    struct stat info
    {};
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::exists(folder / "zk-test.lock"));
    CInstanceLock second;
    EXPECT_EQ(second.Acquire("zk-test", why), CInstanceLock::Result::Running);
}

TEST_F(LockFallback, AFolderAnotherUserMadeFirstIsNamedAsBlockingTheLock)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "making a folder of another user needs root";
    fs::path folder = m_root / "state" / "zarumatekit";
    fs::create_directories(folder);
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    CInstanceLock lock;
    std::string why;
    EXPECT_EQ(lock.Acquire("zk-test", why), CInstanceLock::Result::Unavailable);
    EXPECT_NE(why.find("belongs to another user (uid 65534)"), std::string::npos) << why;
    EXPECT_FALSE(fs::exists(folder / "zk-test.lock"));
}

} // namespace
} // namespace zk
