#pragma once

#include <filesystem>
#include <string>

namespace zk::test {

// True when the tests run under CI=true, where tests that need root must run.
bool IsCi();

// Why a test that needs root cannot run here; empty when it can.
std::string WhyNoRoot();

// Skips the calling test when root is missing, except under CI, where the
// missing privilege is a failure.
#define ZK_REQUIRE_ROOT()                                                                          \
    do {                                                                                           \
        std::string zk_why = ::zk::test::WhyNoRoot();                                              \
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
