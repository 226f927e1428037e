#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

namespace zk::test {

// Runs the work on a thread of its own and answers whether it returned
// within the hang limit. If it did not, the FIFO is opened from this side,
// which frees an open() or read() waiting on it, so that a hang fails the
// test instead of stopping the run.
bool ReturnsDespiteFifo(const std::filesystem::path& fifo, const std::function<void()>& work);

// A tmpfs mounted over a folder for the test's life (root only), e.g. a
// small one to fill, or one made read-only once its files are written.
class CScopedTmpfs
{
public:
    CScopedTmpfs(const std::filesystem::path& folder, const std::string& options);
    ~CScopedTmpfs();
    CScopedTmpfs(const CScopedTmpfs&) = delete;
    CScopedTmpfs& operator=(const CScopedTmpfs&) = delete;

    bool Ok() const { return m_mounted; }
    const std::string& Error() const { return m_error; }
    // Makes the mount read-only; root writes through mode bits, not this.
    bool MakeReadOnly();

private:
    std::filesystem::path m_folder;
    bool m_mounted = false;
    std::string m_error;
};

// Skips the calling test when not root, except under CI, where that fails.
#define ZK_REQUIRE_MOUNT()                                                                         \
    do {                                                                                           \
        if (::geteuid() != 0) {                                                                    \
            if (::zk::test::IsCi())                                                                \
                FAIL() << "CI=true but mounting needs root";                                       \
            GTEST_SKIP() << "mounting needs root";                                                 \
        }                                                                                          \
    } while (0)

} // namespace zk::test
