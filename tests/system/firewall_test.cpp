#include "platform/window_types.h"
#include "support/scoped_env.h"
#include "support/test_env.h"
#include "system/firewall.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zk {
namespace {

namespace fs = std::filesystem;

// Records every run; each process ends after a number of looks.
class CRecordingRunner : public IProcessRunner
{
public:
    bool Execute(const CShellRun& run, ProcessId& process) override
    {
        runs.push_back(run);
        if (refuse.size() >= runs.size() && refuse[runs.size() - 1])
            return false;
        process = ProcessId(runs.size());
        looksLeft = looksUntilEnd;
        return true;
    }
    bool HasEnded(ProcessId, std::uint32_t& exitCode) override
    {
        ++looks;
        if (--looksLeft > 0)
            return false;
        exitCode = 1; // the tool's verdict, which nobody reads
        return true;
    }
    void Sleep(unsigned ms) override { sleeps.push_back(ms); }

    std::vector<bool> refuse;
    int looksUntilEnd = 3;
    int looksLeft = 0;
    int looks = 0;
    std::vector<CShellRun> runs;
    std::vector<unsigned> sleeps;
};

class FirewallTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = m_dir.Path() / "Program Files";
        fs::create_directories(m_folder);
        m_program = m_folder / "zarumatekit";
        std::ofstream(m_program) << "#!/bin/sh\n";
        fs::permissions(m_program, fs::perms::owner_all);
    }

    std::wstring QuotedCommandLine() const { return L"\"" + m_program.wstring() + L"\" --x"; }

    test::CTempDir m_dir;
    fs::path m_folder;
    fs::path m_program;
};

TEST_F(FirewallTest, ProgramPathFollowsTheCommandLinesQuoting)
{
    std::wstring path;
    EXPECT_TRUE(GetProgramPath(QuotedCommandLine(), path));
    EXPECT_EQ(path, m_program.wstring());

    test::CScopedEnv searchPath("PATH", "/nonexistent:" + m_folder.string());
    path.clear();
    EXPECT_TRUE(GetProgramPath(L"zarumatekit -v", path));
    EXPECT_EQ(path, m_program.wstring());

    const std::wstring failing[] = {
        L"",
        L"\"" + m_program.wstring(), // no closing quote
        m_program.wstring() + L" a", // unquoted: cut at the space in the folder
        L"\"\"",                     // nothing between the quotes
        L"no-such-program-here arg",
    };
    for (const std::wstring& commandLine : failing) {
        EXPECT_FALSE(GetProgramPath(commandLine, path));
        CRecordingRunner runner;
        EXPECT_EQ(AddFirewallRule(L"Zarumatekit", runner, commandLine), kMsgNoProgramPath);
        EXPECT_TRUE(runner.runs.empty());
    }
}

TEST_F(FirewallTest, OwnProgramPathIsThisProcesssExecutable)
{
    std::wstring path;
    ASSERT_TRUE(GetProgramPath(path));
    EXPECT_TRUE(fs::equivalent(fs::path(path), fs::read_symlink("/proc/self/exe")));
}

TEST_F(FirewallTest, RuleIsDeletedThenAddedElevatedAndHidden)
{
    CRecordingRunner runner;
    EXPECT_EQ(AddFirewallRule(L"Zarumatekit", runner, QuotedCommandLine()), 0u);
    ASSERT_EQ(runner.runs.size(), 2u);
    for (const CShellRun& run : runner.runs) {
        EXPECT_EQ(run.file, L"netsh");
        EXPECT_EQ(run.verb, L"runas");
        EXPECT_EQ(run.owner, nullptr);
        EXPECT_EQ(run.show, SW_HIDE);
    }
    EXPECT_EQ(runner.runs[0].parameters, L"advfirewall firewall del rule name=\"Zarumatekit\"");
    EXPECT_EQ(runner.runs[1].parameters,
              L"advfirewall firewall add rule program=\"" + m_program.wstring() +
                  L"\" name=\"Zarumatekit\" dir=in action=allow enable=yes profile=any edge=yes");
    // Each run is looked at until it ends, sleeping 100 ms between looks.
    EXPECT_EQ(runner.looks, 6);
    EXPECT_EQ(runner.sleeps, (std::vector<unsigned>{100, 100, 100, 100}));
}

TEST_F(FirewallTest, RunsThatCannotStartGiveTheirMessages)
{
    CRecordingRunner refusedDelete;
    refusedDelete.refuse = {true};
    EXPECT_EQ(AddFirewallRule(L"Zarumatekit", refusedDelete, QuotedCommandLine()),
              kMsgFirewallDeleteFailed);
    EXPECT_EQ(refusedDelete.runs.size(), 1u); // no add attempted

    CRecordingRunner refusedAdd;
    refusedAdd.refuse = {false, true};
    EXPECT_EQ(AddFirewallRule(L"Zarumatekit", refusedAdd, QuotedCommandLine()),
              kMsgFirewallAddFailed);
    EXPECT_FALSE(HasAdvancedFirewall());
}

TEST_F(FirewallTest, SystemRunnerSplitsParametersAndWaitsForTheExitCode)
{
    EXPECT_EQ(
        SplitCommandLine(L" add  rule program=\"C:\\My Apps\\z.exe\" \"\" x"),
        (std::vector<std::wstring>{L"add", L"rule", L"program=C:\\My Apps\\z.exe", L"", L"x"}));

    std::uint32_t exitCode = 0;
    EXPECT_TRUE(RunAndWait(GetSystemProcessRunner(), L"sh", L"-c \"exit 3\"", L"", nullptr, SW_HIDE,
                           exitCode));
    EXPECT_EQ(exitCode, 3u);
    EXPECT_FALSE(RunAndWait(GetSystemProcessRunner(), L"no-such-program-here", L"", L"", nullptr,
                            SW_HIDE, exitCode));
    EXPECT_FALSE(
        RunAndWait(GetSystemProcessRunner(), L"sh", L"", L"print", nullptr, SW_HIDE, exitCode));
}

} // namespace
} // namespace zk
