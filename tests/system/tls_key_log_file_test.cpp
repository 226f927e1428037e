#include "platform/text_convert.h"
#include "support/scoped_env.h"
#include "support/test_env.h"
#include "system/browser_launcher.h"
#include "system/tls_key_log_file.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zk {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

TEST(TlsKeyLogFile, TheEnvironmentComesFirstThenTheSettingThenTheProgramsOwn)
{
    test::CTempDir dir;
    test::CScopedEnv runtime("XDG_RUNTIME_DIR", dir.Path().string());
    {
        test::CScopedEnv named("SSLKEYLOGFILE", "/somewhere/session-keys.log");
        EXPECT_EQ(FindTlsKeyLogFile(L"/chosen/keys.log"), L"/somewhere/session-keys.log");
    }
    test::CScopedEnv empty("SSLKEYLOGFILE", "");
    EXPECT_EQ(FindTlsKeyLogFile(L"/chosen/keys.log"), L"/chosen/keys.log");
    fs::path own = dir.Path() / "zarumatekit" / "tls-keys.log";
    EXPECT_EQ(FindTlsKeyLogFile(L""), own.wstring());
}

TEST(TlsKeyLogFile, TheProgramsOwnFileIsPrivateAndKeptAsItIs)
{
    test::CTempDir dir;
    test::CScopedEnv runtime("XDG_RUNTIME_DIR", dir.Path().string());
    fs::path folder = dir.Path() / "zarumatekit";
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::all); // a folder someone widened
    fs::path file = folder / "tls-keys.log";
    {
        std::ofstream out(file);
        out << "CLIENT_RANDOM written by a browser\n";
    }
    ASSERT_EQ(OwnTlsKeyLogFile(), file.wstring());
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(file), 0600u);
    EXPECT_EQ(fs::file_size(file), 35u); // not truncated

    // A symbolic link in the file's place is not followed.
    fs::remove(file);
    fs::create_symlink(dir.Path() / "elsewhere", file);
    EXPECT_EQ(OwnTlsKeyLogFile(), L"");
    EXPECT_FALSE(fs::exists(dir.Path() / "elsewhere"));
}

TEST(TlsKeyLogFile, WithoutARuntimeFolderThereIsNoOwnFile)
{
    test::CScopedEnv empty("SSLKEYLOGFILE", "");
    test::CScopedEnv runtime("XDG_RUNTIME_DIR", ""); // put back afterwards
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(FindTlsKeyLogFile(L""), L"");
}

TEST(TlsKeyLogFile, TheBrowserStartedForAPageIsToldOfTheKeyLog)
{
    test::CTempDir dir;
    fs::path browser = dir.Path() / "browser";
    {
        std::ofstream script(browser);
        script << "#!/bin/sh\nprintf '%s' \"$SSLKEYLOGFILE\" > \"$0.tmp\"; mv \"$0.tmp\" "
                  "\"$0.record\"\n";
    }
    fs::permissions(browser, fs::perms::owner_all);
    SetBrowserTlsKeyLogFile(L"/run/user/1000/zarumatekit/tls-keys.log");
    ASSERT_TRUE(OpenUrl(browser.wstring(), L"https://mb.nimbo.example/"));
    SetBrowserTlsKeyLogFile(L"");
    fs::path record = browser.string() + ".record";
    for (int i = 0; i < 200 && !fs::exists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(record);
    std::string seen;
    std::getline(in, seen);
    EXPECT_EQ(seen, "/run/user/1000/zarumatekit/tls-keys.log");
}

} // namespace
} // namespace zk
