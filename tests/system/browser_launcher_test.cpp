#include "platform/file_ops.h"
#include "support/fake_window_system.h"
#include "support/scoped_env.h"
#include "support/test_env.h"
#include "system/browser_launcher.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zk {
namespace {

namespace fs = std::filesystem;

// An address that a shell would split, expand and run things from.
const std::wstring kTrickyUrl =
    L"http://zaru.nimbo.example/?targetNimboId=a b&x=$(touch pwned);'q'\"*";

// A program that writes the number of its arguments, each argument on a
// line and its parent's pid to a file beside itself, then ends.
void WriteRecorder(const fs::path& program)
{
    std::ofstream script(program);
    script << "#!/bin/sh\n"
              "out=\"$0.record\"\n"
              "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; echo \"$PPID\"; }"
              " > \"$out.tmp\"\n"
              "mv \"$out.tmp\" \"$out\"\n";
    script.close();
    fs::permissions(program, fs::perms::owner_all);
}

std::vector<std::string> WaitForRecord(const fs::path& program)
{
    fs::path record = program.string() + ".record";
    // The program runs on by itself; it needs well under a second.
    for (int i = 0; i < 200 && !fs::exists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<std::string> lines;
    std::ifstream in(record);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Nothing this process started is left to reap: the program was detached.
bool NoChildLeft()
{
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

// Polls the desktop handlers until none is left (each needs well under a
// second); answers how many failed.
int PollUntilNoHandlerLeft()
{
    int failed = 0;
    for (int i = 0; i < 200 && GetPendingUrlHandlers() > 0; ++i) {
        failed += PollUrlHandlers();
        if (GetPendingUrlHandlers() > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return failed;
}

class BrowserLauncherTest : public ::testing::Test
{
protected:
    test::CFakeWindowSystem m_system;
    test::CTempDir m_dir;
};

TEST_F(BrowserLauncherTest, ChosenBrowserGetsTheUrlAsItsOneArgument)
{
    fs::path folder = m_dir.Path() / "Web Browsers";
    fs::create_directories(folder);
    fs::path browser = folder / "my browser";
    WriteRecorder(browser);

    ASSERT_TRUE(OpenUrl(browser.wstring(), kTrickyUrl));
    auto lines = WaitForRecord(browser);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], "http://zaru.nimbo.example/?targetNimboId=a b&x=$(touch pwned);'q'\"*");
    EXPECT_NE(lines[2], std::to_string(::getpid()));
    EXPECT_FALSE(fs::exists(fs::current_path() / "pwned"));
    EXPECT_TRUE(NoChildLeft());
    EXPECT_EQ(m_system.m_beeps, 0);
}

TEST_F(BrowserLauncherTest, WithoutABrowserTheDesktopHandlerOpensTheUrl)
{
    fs::path opener = m_dir.Path() / "xdg-open";
    WriteRecorder(opener);
    const char* path = std::getenv("PATH");
    test::CScopedEnv searchPath("PATH", m_dir.Path().string() + ":" + (path ? path : ""));

    ASSERT_TRUE(OpenUrl(L"", L"http://blog.nimbo.example/taro"));
    auto lines = WaitForRecord(opener);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], "http://blog.nimbo.example/taro");
    fs::remove(opener.string() + ".record");

    // The about box's link goes there whatever browser is chosen.
    ASSERT_TRUE(OpenUrlWithSystemHandler(L"http://www.brindlewerk.example/"));
    EXPECT_EQ(WaitForRecord(opener).at(1), "http://www.brindlewerk.example/");
    // The handler is watched until it ends, then let go; it ended well.
    EXPECT_EQ(PollUntilNoHandlerLeft(), 0);
    EXPECT_TRUE(NoChildLeft());
    EXPECT_EQ(m_system.m_beeps, 0);
}

TEST_F(BrowserLauncherTest, DesktopHandlerThatFailsBeepsOnceItEnds)
{
    // xdg-open ends with 3 when it finds nothing to open the page with.
    fs::path opener = m_dir.Path() / "xdg-open";
    std::ofstream(opener) << "#!/bin/sh\nexit 3\n";
    fs::permissions(opener, fs::perms::owner_all);
    const char* path = std::getenv("PATH");
    test::CScopedEnv searchPath("PATH", m_dir.Path().string() + ":" + (path ? path : ""));

    // Started, not waited for: the answer comes from the timer's poll.
    ASSERT_TRUE(OpenUrl(L"", L"http://blog.nimbo.example/taro"));
    ASSERT_TRUE(OpenUrlWithSystemHandler(L"http://www.brindlewerk.example/"));
    EXPECT_EQ(m_system.m_beeps, 0);
    EXPECT_EQ(PollUntilNoHandlerLeft(), 2);
    EXPECT_EQ(m_system.m_beeps, 2);
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(BrowserLauncherTest, ProgramThatCannotStartOnlyBeeps)
{
    fs::path notProgram = m_dir.Path() / "readme.txt";
    std::ofstream(notProgram) << "not a program";
    // Executable, but nothing the system can run: exec itself fails.
    fs::path garbage = m_dir.Path() / "garbage";
    std::ofstream(garbage) << "\x7f\x01\x02 not a program";
    fs::permissions(garbage, fs::perms::owner_all);
    test::CScopedEnv searchPath("PATH", m_dir.Path().string());

    EXPECT_FALSE(OpenUrl((m_dir.Path() / "missing").wstring(), L"http://a.example/"));
    EXPECT_FALSE(OpenUrl(notProgram.wstring(), L"http://a.example/"));
    EXPECT_FALSE(OpenUrl(garbage.wstring(), L"http://a.example/"));
    EXPECT_FALSE(OpenUrl(L"", L"http://a.example/")); // no xdg-open on this PATH
    EXPECT_EQ(m_system.m_beeps, 4);
    EXPECT_TRUE(NoChildLeft());
}

} // namespace
} // namespace zk
