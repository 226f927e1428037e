#pragma once

#include <list>
#include <memory>
#include <mutex>

namespace zk {

// The pool's first-in, first-out list of waiting tasks. Its lock is held only
// for a push or a pop, never while a task runs. It also guards each worker's
// "retiring" mark, which closes the race between a worker that finds the
// queue empty and a producer that has just queued a task: the worker marks
// itself under the same lock under which it saw the queue empty, so a
// producer that queued before the mark is seen by the pop, and one that
// queued after it sees the mark and starts a new thread.
template <class TTask> class CTaskQueue
{
public:
    using Ptr = std::shared_ptr<TTask>;

    void Push(Ptr task)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_tasks.push_back(std::move(task));
    }

    // The front task; an empty queue gives an empty reference.
    Ptr Pop()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return PopLocked();
    }

    // The front task; when the queue is empty, marks the calling worker as
    // retiring in the same step.
    Ptr PopOrRetire(bool& retiring)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Ptr task = PopLocked();
        if (!task)
            retiring = true;
        return task;
    }

    void Retire(bool& retiring)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        retiring = true;
    }

    // Reads and clears a worker's retiring mark.
    bool TakeRetired(bool& retiring)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        bool was = retiring;
        retiring = false;
        return was;
    }

    std::size_t Size() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_tasks.size();
    }

    void Clear()
    {
        std::list<Ptr> released;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            released.swap(m_tasks);
        }
    }

private:
    Ptr PopLocked()
    {
        if (m_tasks.empty())
            return {};
        Ptr task = std::move(m_tasks.front());
        m_tasks.pop_front();
        return task;
    }

    mutable std::mutex m_lock;
    std::list<Ptr> m_tasks;
};

} // namespace zk
