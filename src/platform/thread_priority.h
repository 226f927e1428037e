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

// The kernel's id of the calling thread.
unsigned GetCurrentThreadId();

} // namespace zk
