#pragma once

#include <string>

namespace zk {

// Keeps one copy of the program per user: a lock file that the running copy
// holds for its whole run. The lock goes with the process, however it ends.
class CInstanceLock
{
public:
    enum class Result
    {
        First,       // this process holds the lock
        Running,     // another copy holds it
        Unavailable, // no lock file could be made; why says why
    };

    CInstanceLock() = default;
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // The lock file is named after the program, in $XDG_RUNTIME_DIR, or
    // else in the folder zarumatekit of $XDG_STATE_HOME (~/.local/state),
    // which only this user may write.
    Result Acquire(const std::string& name, std::string& why);

    // The folder the lock file goes in, made when missing; empty with a
    // reason when there is none this user alone controls.
    static std::string LockFolder(std::string& why);

private:
    int m_fd = -1;
};

// Looks on the display for the top-level window whose title, without the
// blanks around it, is the title; the last one found wins. Brings it to
// the front, or asks for attention (the urgency hint) while it is
// minimised. False when there is no display or no such window.
bool BringWindowForward(const std::wstring& title);

} // namespace zk
