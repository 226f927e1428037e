#include "support/test_env.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace zk::test {

bool ReturnsWithin(std::chrono::milliseconds limit, const std::function<void()>& work)
{
    std::future<void> done = std::async(std::launch::async, work);
    bool inTime = done.wait_for(limit) == std::future_status::ready;
    done.get();
    return inTime;
}

bool IsCi()
{
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

std::string WhyRootTestsCannotRun()
{
    if (geteuid() != 0)
        return "this test needs root (network namespaces and packet sockets)";
    // `ip netns` finds namespaces through /proc, and `ip netns exec` keeps
    // the mounts of its command from reaching the machine by making / a
    // slave mount, which fails ("mount --make-rslave /") unless / is a mount
    // point. Kernels before 5.8 do not
    // say whether a folder is a mount point; there the command's own error
    // has to do.
    if (access("/proc/self/ns/net", F_OK) != 0)
        return "this test needs /proc mounted (for ip netns)";
    struct statx root = {};
    if (statx(AT_FDCWD, "/", 0, STATX_BASIC_STATS, &root) == 0 &&
        (root.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
        !(root.stx_attributes & STATX_ATTR_MOUNT_ROOT))
        return "this test needs / to be a mount point (for ip netns exec); in a chroot, "
               "bind-mount the root folder onto itself before entering it "
               "(mount --rbind DIR DIR)";
    return {};
}

CTempDir::CTempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zk-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

CTempDir::~CTempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace zk::test
