#include "platform/thread_priority.h"

#include <cerrno>
#include <linux/sched.h>
#include <linux/sched/types.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zk {

constexpr int kIdleNice = 19;
// The turn asked for: the scheduler's own lasts a few milliseconds, the
// shortest it grants 0.1 ms.
constexpr unsigned long long kShortTurnNs = 200 * 1000;

bool SetCurrentThreadPriority(int priority)
{
    if (priority != THREAD_PRIORITY_IDLE)
        return true;
    // On Linux a nice value belongs to the thread, named by its kernel id.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(GetCurrentThreadId()), kIdleNice) == 0;
}

bool SetCurrentThreadShortTurns()
{
    // For a normal thread the kernel takes sched_runtime as the length of
    // its turns; the nice value given with it is the thread's own.
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(GetCurrentThreadId()));
    if (nice == -1 && errno != 0)
        return false;
    sched_attr attributes{};
    attributes.size = sizeof attributes;
    attributes.sched_policy = SCHED_NORMAL;
    attributes.sched_nice = nice;
    attributes.sched_runtime = kShortTurnNs;
    return syscall(SYS_sched_setattr, 0, &attributes, 0) == 0;
}

unsigned GetCurrentThreadId()
{
    return static_cast<unsigned>(syscall(SYS_gettid));
}

} // namespace zk
