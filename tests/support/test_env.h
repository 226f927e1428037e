#pragma once

#include <filesystem>
#include <string>

namespace zk::test {

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
