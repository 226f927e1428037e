#pragma once

#include <filesystem>
#include <string>

namespace zk::test {

// What the kernel reports happening in one folder (inotify), so that a test
// can count the files made and renamed into place there without trusting
// the code under test to count them.
class CFolderWatch
{
public:
    struct CEvents
    {
        int m_created = 0;   // files made in the folder, under any name
        int m_renamedTo = 0; // files renamed in under the name asked about
    };

    explicit CFolderWatch(const std::filesystem::path& folder);
    ~CFolderWatch();
    CFolderWatch(const CFolderWatch&) = delete;
    CFolderWatch& operator=(const CFolderWatch&) = delete;

    bool IsValid() const { return m_fd >= 0; }
    // The events since the watch began or the last call. The kernel queues
    // an event before the call that caused it returns, so nothing is late.
    CEvents Take(const std::string& name);

private:
    int m_fd = -1;
};

} // namespace zk::test
