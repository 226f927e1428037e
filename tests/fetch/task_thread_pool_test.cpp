#include "fetch/download_progress_callback.h"
#include "fetch/task.h"
#include "fetch/task_thread_pool.h"
#include "platform/thread_priority.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace zk {
namespace {

using namespace std::chrono_literals;

class CFakeTask;

// Records every task the worker hands back, and on which thread.
class CFakeClient
{
public:
    void OnDownloadImageTaskEnd(std::shared_ptr<CFakeTask> task);

    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, timeout, [&] { return m_ended.size() >= count; });
    }
    std::vector<std::shared_ptr<CFakeTask>> Ended()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_ended;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::shared_ptr<CFakeTask>> m_ended;
};

class CFakeTask : public CTask<CFakeTask, CFakeClient>, public CDownloadProgressCallback
{
public:
    explicit CFakeTask(int id, std::function<void(CFakeTask&, CSimpleErr&)> work = {})
        : m_id(id), m_work(std::move(work))
    {}

    bool IsCancelled() override { return m_thread && m_thread->IsStopRequested(); }
    void OnProgress(std::uint32_t, std::uint32_t) override {}

    void Execute(CDownloadProgressCallback&, CSimpleErr& err)
    {
        m_ranOn = GetCurrentThreadId();
        m_ran = true;
        if (m_work)
            m_work(*this, err);
    }

    int m_id;
    std::atomic<bool> m_ran{false};
    unsigned m_ranOn = 0;
    std::function<void(CFakeTask&, CSimpleErr&)> m_work;
};

void CFakeClient::OnDownloadImageTaskEnd(std::shared_ptr<CFakeTask> task)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ended.push_back(std::move(task));
    }
    m_changed.notify_all();
}

using CPool = CTaskThreadPoolImpl<CFakeTask>;

std::shared_ptr<CFakeTask> MakeTask(int id, CFakeClient* client,
                                    std::function<void(CFakeTask&, CSimpleErr&)> work = {})
{
    auto task = std::make_shared<CFakeTask>(id, std::move(work));
    task->SetClient(client);
    return task;
}

// A gate a task waits at until the test opens it.
class CGate
{
public:
    void Open()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_open = true;
        }
        m_changed.notify_all();
    }
    void Pass()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait(guard, [&] { return m_open; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
};

bool WaitUntilWorkerEnded(CPool& pool, std::chrono::milliseconds timeout = 10s)
{
    auto until = std::chrono::steady_clock::now() + timeout;
    while (!pool.GetThreads()[0]->IsFinished()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(TaskThreadPool, RunsQueuedTasksInOrderOnOneThreadThatEndsByItself)
{
    CFakeClient client;
    CPool pool;
    for (int id = 1; id <= 3; ++id)
        pool.PushTask(MakeTask(id, &client));
    EXPECT_TRUE(pool.StartAll());
    ASSERT_TRUE(client.WaitFor(3));
    auto ended = client.Ended();
    ASSERT_EQ(ended.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ended[i]->m_id, i + 1);
    EXPECT_EQ(ended[0]->m_ranOn, ended[1]->m_ranOn);
    EXPECT_EQ(ended[1]->m_ranOn, ended[2]->m_ranOn);
    EXPECT_NE(ended[0]->m_ranOn, GetCurrentThreadId());

    ASSERT_TRUE(WaitUntilWorkerEnded(pool));
    pool.PushTask(MakeTask(4, &client));
    EXPECT_TRUE(pool.StartAll());
    ASSERT_TRUE(client.WaitFor(4));
    EXPECT_NE(client.Ended()[3]->m_ranOn, ended[0]->m_ranOn);
}

TEST(TaskThreadPool, StartAllWhileBusyKeepsTheRunningThread)
{
    CFakeClient client;
    CGate gate;
    CPool pool;
    pool.PushTask(MakeTask(1, &client, [&](CFakeTask&, CSimpleErr&) { gate.Pass(); }));
    ASSERT_TRUE(pool.StartAll());
    pool.PushTask(MakeTask(2, &client));
    EXPECT_TRUE(pool.StartAll());
    gate.Open();
    ASSERT_TRUE(client.WaitFor(2));
    auto ended = client.Ended();
    EXPECT_EQ(ended[0]->m_ranOn, ended[1]->m_ranOn);
}

TEST(TaskThreadPool, AfterShutdownNothingStartsOrRuns)
{
    CFakeClient client;
    CPool pool;
    pool.SetShutdown(true);
    auto task = MakeTask(1, &client);
    pool.PushTask(task);
    EXPECT_FALSE(pool.StartAll());
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(task->m_ran);
    EXPECT_TRUE(client.Ended().empty());
    EXPECT_EQ(pool.GetQueuedCount(), 1u);
}

TEST(TaskThreadPool, ShutdownCancelsTheRunningTaskAndLeavesTheRestQueued)
{
    CFakeClient client;
    std::atomic<bool> started{false};
    CPool pool;
    pool.PushTask(MakeTask(1, &client, [&](CFakeTask& self, CSimpleErr& err) {
        started = true;
        while (!self.IsCancelled())
            std::this_thread::sleep_for(1ms);
        err.SetErr(2000, E_ABORT);
    }));
    auto queued = MakeTask(2, &client);
    pool.PushTask(queued);
    ASSERT_TRUE(pool.StartAll());
    while (!started)
        std::this_thread::sleep_for(1ms);

    pool.SetShutdown(true);
    pool.WaitAll(INFINITE);
    EXPECT_FALSE(pool.GetThreads()[0]->HasThread());
    ASSERT_EQ(client.Ended().size(), 1u);
    EXPECT_EQ(client.Ended()[0]->GetErr().GetResult(), E_ABORT);
    EXPECT_FALSE(queued->m_ran);
}

TEST(TaskThreadPool, FailedTaskIsStillReported)
{
    CFakeClient client;
    CPool pool;
    pool.PushTask(MakeTask(1, &client, [](CFakeTask&, CSimpleErr& err) { err.SetErr(2002); }));
    pool.StartAll();
    ASSERT_TRUE(client.WaitFor(1));
    EXPECT_EQ(client.Ended()[0]->GetErr().GetId(), 2002u);
}

TEST(TaskThreadPool, TaskWithoutClientRunsAndIsDropped)
{
    // The flag outlives the task, which must both run and go.
    auto ran = std::make_shared<std::atomic<bool>>(false);
    CPool pool;
    auto task = MakeTask(1, nullptr, [ran](CFakeTask&, CSimpleErr&) { *ran = true; });
    std::weak_ptr<CFakeTask> watch = task;
    pool.PushTask(std::move(task));
    EXPECT_TRUE(pool.StartAll());
    ASSERT_TRUE(WaitUntilWorkerEnded(pool));
    EXPECT_TRUE(*ran);
    EXPECT_TRUE(watch.expired());
}

TEST(TaskThreadPool, ThrowingTaskIsLostAndTheNextStartRunsTheRest)
{
    CFakeClient client;
    CPool pool;
    pool.PushTask(
        MakeTask(1, &client, [](CFakeTask&, CSimpleErr&) { throw std::runtime_error("lost"); }));
    auto second = MakeTask(2, &client);
    pool.PushTask(second);
    pool.StartAll();
    ASSERT_TRUE(WaitUntilWorkerEnded(pool));
    EXPECT_EQ(pool.GetThreads()[0]->GetExitCode(), -1);
    EXPECT_TRUE(client.Ended().empty());
    EXPECT_FALSE(second->m_ran);

    EXPECT_TRUE(pool.StartAll());
    ASSERT_TRUE(client.WaitFor(1));
    EXPECT_EQ(client.Ended()[0]->m_id, 2);
}

TEST(TaskThreadPool, ThreadCountIgnoresZeroAndTheCurrentCount)
{
    CPool pool;
    ASSERT_EQ(pool.GetThreadCount(), 1u);
    auto first = pool.GetThreads()[0];
    pool.SetThreadCount(0);
    pool.SetThreadCount(1);
    EXPECT_EQ(pool.GetThreadCount(), 1u);
    EXPECT_EQ(pool.GetThreads()[0], first);
    pool.SetThreadCount(3);
    EXPECT_EQ(pool.GetThreadCount(), 3u);
    pool.SetThreadCount(1);
    EXPECT_EQ(pool.GetThreads()[0], first);
}

// The worker decides to end when it finds the queue empty; a task queued in
// that very moment must still run. Queue from one thread while the worker
// keeps running dry, with gaps that land pushes before, in and after its
// decision, and check that every task comes back without any later start.
TEST(TaskThreadPool, NoTaskIsStrandedWhileTheWorkerEnds)
{
    constexpr int kTasks = 20000;
    constexpr int kGapSteps = 64;
    CFakeClient client;
    CPool pool;
    for (int id = 0; id < kTasks; ++id) {
        pool.PushTask(MakeTask(id, &client));
        ASSERT_TRUE(pool.StartAll());
        auto until =
            std::chrono::steady_clock::now() + std::chrono::nanoseconds(500 * (id % kGapSteps));
        while (std::chrono::steady_clock::now() < until) {
        }
    }
    // About ten times what a sanitizer build needs on a busy machine; only
    // a stranded task runs into it.
    ASSERT_TRUE(client.WaitFor(kTasks, 60s)) << client.Ended().size() << " of " << kTasks;
    auto ended = client.Ended();
    for (int id = 0; id < kTasks; ++id)
        ASSERT_EQ(ended[id]->m_id, id);
}

TEST(TaskThreadPool, DestroyingThePoolStopsItsWorker)
{
    CFakeClient client;
    std::atomic<bool> started{false};
    {
        CPool pool;
        pool.PushTask(MakeTask(1, &client, [&](CFakeTask& self, CSimpleErr&) {
            started = true;
            while (!self.IsCancelled())
                std::this_thread::sleep_for(1ms);
        }));
        pool.StartAll();
        while (!started)
            std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(client.Ended().size(), 1u);
}

} // namespace
} // namespace zk
