#pragma once

namespace zk {

// Thread priorities as the program names them.
constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_NORMAL = 0;

// Gives the calling thread a priority. Idle becomes nice 19, the lowest
// priority that still gets the processor under load (SCHED_IDLE threads can
// starve, and a starved capture thread overflows its socket buffer).
// Returns false when the system refused.
bool SetCurrentThreadPriority(int priority);

// Asks the scheduler for short turns on the processor for the calling
// thread, so that it gets the processor back soon after each wake-up even
// on a busy machine, at no more than its fair share: for a thread that wakes
// often to do a little, such as one emptying a capture ring before it
// overflows. Needs no privilege and keeps the thread's nice value; false
// when the kernel refused (one before Linux 6.12 takes the request and
// ignores it).
bool SetCurrentThreadShortTurns();

// The kernel's id of the calling thread.
unsigned GetCurrentThreadId();

} // namespace zk
