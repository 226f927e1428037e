#include "support/file_traps.h"

#include "support/test_env.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace zk::test {

bool ReturnsDespiteFifo(const std::filesystem::path& fifo, const std::function<void()>& work)
{
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    std::thread worker([&] {
        work();
        std::lock_guard guard(lock);
        done = true;
        changed.notify_all();
    });
    bool inTime;
    {
        std::unique_lock guard(lock);
        inTime = changed.wait_for(guard, kHangLimit, [&] { return done; });
    }
    // Opening both ends never waits; the writer's end, opened and closed
    // again, lets a waiting reader through to the end of the file.
    while (!inTime) {
        int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (fd >= 0)
            ::close(fd);
        std::unique_lock guard(lock);
        if (changed.wait_for(guard, std::chrono::milliseconds(50), [&] { return done; }))
            break;
    }
    worker.join();
    return inTime;
}

CScopedTmpfs::CScopedTmpfs(const std::filesystem::path& folder, const std::string& options)
    : m_folder(folder)
{
    std::filesystem::create_directories(folder);
    if (::mount("zk-test", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        m_error = std::string("mount tmpfs: ") + std::strerror(errno);
    else
        m_mounted = true;
}

CScopedTmpfs::~CScopedTmpfs()
{
    if (m_mounted)
        ::umount2(m_folder.c_str(), MNT_DETACH);
}

bool CScopedTmpfs::MakeReadOnly()
{
    if (!m_mounted)
        return false;
    if (::mount(nullptr, m_folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                nullptr) != 0) {
        m_error = std::string("remount read-only: ") + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace zk::test
