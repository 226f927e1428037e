#pragma once

#include "platform/thread_priority.h"

#include <atomic>
#include <climits>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace zk {

constexpr unsigned INFINITE = 0xFFFFFFFFu;

// The program's thread base. A run is asked to end with the stop flag; the
// thread is asked to end for good with the terminate flag, after which it
// cannot be started again. Neither destructor stops or waits: the owner sets
// the terminate flag and waits before destroying the object.
class CThread
{
public:
    CThread() = default;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;
    virtual ~CThread() = default;

    virtual int Run() = 0;
    virtual bool Start() = 0;
    virtual void Wait(unsigned milliseconds = INFINITE) = 0;

    virtual bool IsStopRequested() const { return m_stop.load() || m_terminate.load(); }
    virtual bool IsTerminating() const { return m_terminate.load(); }
    virtual void SetStop(bool stop) { m_stop.store(stop); }
    virtual void SetTerminate(bool terminate) { m_terminate.store(terminate); }

    unsigned GetThreadId() const { return m_threadId; }
    bool HasThread() const { return m_handle != nullptr; }

protected:
    // What the running thread shares with its owner. A wait that times out
    // lets go of the thread, which keeps this state alive until it finishes.
    struct CThreadState
    {
        std::thread thread;
        std::mutex lock;
        std::condition_variable finishedSignal;
        bool finished = false;
        int exitCode = 0;
    };

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_terminate{false};
    std::shared_ptr<CThreadState> m_handle;
    int m_priority = THREAD_PRIORITY_IDLE;
    unsigned m_threadId = 0;
};

// Implements Start and Wait for a class T that supplies Run.
template <class T> class CThreadImpl : public CThread
{
public:
    CThreadImpl() { m_priority = THREAD_PRIORITY_IDLE; }

    bool Start() override
    {
        if (IsTerminating())
            return false;
        if (m_handle) {
            if (!IsFinished())
                return true; // already running
            Wait(INFINITE);
        }
        m_stop.store(false);

        auto state = std::make_shared<CThreadState>();
        std::promise<unsigned> started;
        std::future<unsigned> startedId = started.get_future();
        T* self = static_cast<T*>(this);
        int priority = m_priority;
        try {
            state->thread =
                std::thread([state, self, priority, started = std::move(started)]() mutable {
                    SetCurrentThreadPriority(priority);
                    started.set_value(GetCurrentThreadId());
                    int result = EntryRoutine(self);
                    std::lock_guard<std::mutex> guard(state->lock);
                    state->exitCode = result;
                    state->finished = true;
                    state->finishedSignal.notify_all();
                });
        } catch (const std::system_error&) {
            return false;
        }
        // Like a thread created suspended: the run begins only once its
        // priority is set, and the owner learns its id before Start returns.
        m_threadId = startedId.get();
        m_handle = std::move(state);
        return true;
    }

    void Wait(unsigned milliseconds = INFINITE) override
    {
        if (!m_handle)
            return;
        std::shared_ptr<CThreadState> state = std::move(m_handle);
        bool finished;
        {
            std::unique_lock<std::mutex> guard(state->lock);
            auto done = [&] { return state->finished; };
            if (milliseconds == INFINITE) {
                state->finishedSignal.wait(guard, done);
                finished = true;
            } else {
                finished = state->finishedSignal.wait_for(
                    guard, std::chrono::milliseconds(milliseconds), done);
            }
        }
        if (finished)
            state->thread.join();
        else
            state->thread.detach();
        m_threadId = 0;
    }

    // The exit code of the last finished run; INT_MIN while none has finished.
    int GetExitCode() const
    {
        if (!m_handle)
            return INT_MIN;
        std::lock_guard<std::mutex> guard(m_handle->lock);
        return m_handle->finished ? m_handle->exitCode : INT_MIN;
    }

    bool IsFinished() const
    {
        if (!m_handle)
            return true;
        std::lock_guard<std::mutex> guard(m_handle->lock);
        return m_handle->finished;
    }

private:
    // Any exception that escapes Run, standard or not, ends the thread with
    // exit code -1.
    static int EntryRoutine(T* self)
    {
        try {
            return self->Run();
        } catch (...) {
            return -1;
        }
    }
};

} // namespace zk
