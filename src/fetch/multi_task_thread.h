#pragma once

#include "base/thread.h"
#include "fetch/task_queue.h"

#include <memory>

namespace zk {

// A worker that runs the tasks of its pool's queue one at a time, in queue
// order, and ends by itself when it finds the queue empty. N only tells
// kinds of worker apart.
template <class TTask, int N>
class CMultiTaskThread : public CThreadImpl<CMultiTaskThread<TTask, N>>
{
public:
    explicit CMultiTaskThread(CTaskQueue<TTask>* queue) : m_queue(queue) {}

    int Run() override
    {
        while (!this->IsStopRequested()) {
            m_currentTask = m_queue->PopOrRetire(m_retiring);
            if (!m_currentTask)
                return 0;
            m_currentTask->SetThread(this);
            m_currentTask->Execute(*m_currentTask, m_currentTask->GetErr());
            if (auto* client = m_currentTask->GetClient())
                client->OnDownloadImageTaskEnd(m_currentTask->shared_from_this());
            m_currentTask.reset();
        }
        m_currentTask.reset();
        m_queue->Retire(m_retiring);
        return 0;
    }

    // Start as the pool does it: a worker that has decided to end is joined
    // first, so that a task queued meanwhile gets a new thread rather than
    // one that is on its way out.
    bool StartForQueue()
    {
        if (this->IsTerminating())
            return false;
        if (m_queue->TakeRetired(m_retiring))
            this->Wait(INFINITE);
        return this->Start();
    }

private:
    CTaskQueue<TTask>* m_queue;           // the pool's queue; not owned
    std::shared_ptr<TTask> m_currentTask; // empty between tasks
    bool m_retiring = false;              // guarded by the queue's lock
};

} // namespace zk
