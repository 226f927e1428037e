#pragma once

#include "fetch/download_image_task.h"
#include "fetch/multi_task_thread.h"
#include "fetch/task_queue.h"

#include <memory>
#include <vector>

namespace zk {

// The workers and their shared queue of waiting tasks. The producer pushes a
// task and then starts the workers; a worker that finds the queue empty ends,
// and the next start makes a new thread.
template <class TTask> class CTaskThreadPoolImpl
{
public:
    using Task = TTask;
    using Worker = CMultiTaskThread<TTask, 1>;
    using TaskPtr = std::shared_ptr<TTask>;

    CTaskThreadPoolImpl() { SetThreadCount(1); }

    // A pool never outlives a running worker: whoever forgot the shutdown,
    // the destructor does it.
    ~CTaskThreadPoolImpl()
    {
        SetShutdown(true);
        WaitAll(INFINITE);
    }

    CTaskThreadPoolImpl(const CTaskThreadPoolImpl&) = delete;
    CTaskThreadPoolImpl& operator=(const CTaskThreadPoolImpl&) = delete;

    void SetThreadCount(int count)
    {
        if (count < 1 || static_cast<std::size_t>(count) == m_threads.size())
            return;
        auto wanted = static_cast<std::size_t>(count);
        // A worker object must not be destroyed under its running thread, so
        // those that go are stopped and joined first.
        for (std::size_t i = wanted; i < m_threads.size(); ++i) {
            m_threads[i]->SetTerminate(true);
            m_threads[i]->Wait(INFINITE);
        }
        if (wanted < m_threads.size())
            m_threads.resize(wanted);
        while (m_threads.size() < wanted) {
            auto worker = std::make_shared<Worker>(&m_queue);
            worker->SetTerminate(m_shutdown);
            m_threads.push_back(std::move(worker));
        }
    }

    void PushTask(TaskPtr task) { m_queue.Push(std::move(task)); }

    TaskPtr PopTask() { return m_queue.Pop(); }

    // True only if every worker started or is running.
    bool StartAll()
    {
        bool all = true;
        for (auto& worker : m_threads)
            all = worker->StartForQueue() && all;
        return all;
    }

    void SetShutdown(bool shutdown)
    {
        m_shutdown = shutdown;
        for (auto& worker : m_threads)
            worker->SetTerminate(shutdown);
    }

    void WaitAll(unsigned milliseconds)
    {
        for (auto& worker : m_threads)
            worker->Wait(milliseconds);
    }

    std::size_t GetThreadCount() const { return m_threads.size(); }
    const std::vector<std::shared_ptr<Worker>>& GetThreads() const { return m_threads; }
    std::size_t GetQueuedCount() const { return m_queue.Size(); }

private:
    bool m_shutdown = false;
    CTaskQueue<TTask> m_queue; // before the workers, which point at it
    std::vector<std::shared_ptr<Worker>> m_threads;
};

// The pool of the program: one worker that fetches avatar images.
using CTaskThreadPool = CTaskThreadPoolImpl<CDownloadImageTask>;

} // namespace zk
