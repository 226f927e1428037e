#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zk {

constexpr int kIdleNice = 19;

bool SetCurrentThreadPriority(int priority)
{
    if (priority != THREAD_PRIORITY_IDLE)
        return true;
    // On Linux a nice value belongs to the thread, named by its kernel id.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(GetCurrentThreadId()), kIdleNice) == 0;
}

unsigned GetCurrentThreadId()
{
    return static_cast<unsigned>(syscall(SYS_gettid));
}

} // namespace zk
