// Thread priorities and turns as the kernel shows them for the thread.

#include "platform/thread_priority.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace zk {
namespace {

// A field of the calling thread's scheduling figures; empty when the kernel
// does not show it.
std::string OwnSchedField(const std::string& name)
{
    std::ifstream figures("/proc/thread-self/sched");
    for (std::string line; std::getline(figures, line);) {
        if (line.rfind(name + " ", 0) == 0)
            return line.substr(line.rfind(' ') + 1);
    }
    return "";
}

// Short turns change how soon the thread runs, never its priority: an idle
// thread stays idle (as root, a kernel told nice 0 would take it).
TEST(ThreadShortTurns, AnIdleThreadGetsShortTurnsAndStaysIdle)
{
    bool idle = false;
    bool shortTurns = false;
    int nice = 0;
    std::string slice;
    std::thread thread([&] {
        idle = SetCurrentThreadPriority(THREAD_PRIORITY_IDLE);
        shortTurns = SetCurrentThreadShortTurns();
        nice = getpriority(PRIO_PROCESS, GetCurrentThreadId());
        slice = OwnSchedField("se.slice");
    });
    thread.join();
    ASSERT_TRUE(idle);
    EXPECT_TRUE(shortTurns);
    EXPECT_EQ(nice, 19);
    if (!slice.empty()) {
        EXPECT_EQ(slice, "200000");
    }
    // The test's own thread is left as it was.
    EXPECT_EQ(getpriority(PRIO_PROCESS, GetCurrentThreadId()), 0);
}

} // namespace
} // namespace zk
