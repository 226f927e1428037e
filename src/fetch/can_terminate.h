#pragma once

#include "base/thread.h"

namespace zk {

// Lets a task see the worker that runs it, and so whether that worker has
// been asked to stop.
class CCanTerminate
{
public:
    void SetThread(CThread* thread) { m_thread = thread; }

protected:
    // The worker running the task; not owned, null until a worker takes it.
    CThread* m_thread = nullptr;
};

} // namespace zk
