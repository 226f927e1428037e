#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace zk::test {

// How long a test waits for something that should end promptly before it
// calls it a hang: far beyond what any of them needs on a busy machine (a
// second or less), far below what a hang would take (a minute or more).
constexpr std::chrono::seconds kHangLimit{30};

// Runs the work on a thread of its own and answers whether it returned
// within the limit. This checks for a hang, not for speed. Work that overruns
// is still waited for before the answer, so what it uses outlives it.
bool ReturnsWithin(std::chrono::milliseconds limit, const std::function<void()>& work);

// True when the tests run under CI=true, where tests that need root must run.
bool IsCi();

// Why a test that needs root (packet sockets, network namespaces made with
// `ip netns`) cannot run here; empty when it can. Besides root, `ip netns
// exec` needs /proc, and / to be a mount point, which it is not in a plain
// chroot.
std::string WhyRootTestsCannotRun();

// Skips the calling test when it cannot run here, except under CI, where
// that is a failure.
#define ZK_REQUIRE_ROOT()                                                                          \
    do {                                                                                           \
        std::string zk_why = ::zk::test::WhyRootTestsCannotRun();                                  \
        if (!zk_why.empty()) {                                                                     \
            if (::zk::test::IsCi())                                                                \
                FAIL() << "CI=true but " << zk_why;                                                \
            GTEST_SKIP() << zk_why;                                                                \
        }                                                                                          \
    } while (0)

// A fresh folder under the temporary folder, removed with everything in it.
class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace zk::test
