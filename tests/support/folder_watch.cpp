#include "support/folder_watch.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace zk::test {

CFolderWatch::CFolderWatch(const std::filesystem::path& folder)
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0 && ::inotify_add_watch(m_fd, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

CFolderWatch::~CFolderWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

CFolderWatch::CEvents CFolderWatch::Take(const std::string& name)
{
    CEvents events;
    // Room for many events with the longest names.
    alignas(inotify_event) char buffer[64 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return events;
        for (ssize_t at = 0; at < got;) {
            auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_CREATE)
                ++events.m_created;
            if ((event->mask & IN_MOVED_TO) && event->len > 0 && name == event->name)
                ++events.m_renamedTo;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

} // namespace zk::test
