#include "base/path.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace zk {
namespace {

TEST(JoinPath, InsertsOneSeparatorOnlyWhereNeeded)
{
    EXPECT_EQ(JoinPath(L"a", L"b"), L"a/b");
    EXPECT_EQ(JoinPath(L"a/", L"b"), L"a/b");
    EXPECT_EQ(JoinPath(L"a\\", L"b"), L"a\\b");
    EXPECT_EQ(JoinPath(L"c:", L"b"), L"c:b");
    EXPECT_EQ(JoinPath(L"", L"b"), L"b");
    EXPECT_EQ(JoinPath(L"a", L""), L"a/");
}

TEST(DataFolder, FollowsXdgDataHomeThenMakerAndProduct)
{
    const char* old = std::getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", "/tmp/zk-data", 1);
    EXPECT_EQ(GetDataFolder(), L"/tmp/zk-data/Brindlewerk/Zarumatekit");
    // A relative value is ignored, as the XDG rules say.
    setenv("XDG_DATA_HOME", "relative", 1);
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(GetDataFolder(), L"/home/someone/.local/share/Brindlewerk/Zarumatekit");
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace zk
