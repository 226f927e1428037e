#include "base/thread.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace zk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long a test waits for what takes microseconds (a thread to start or
// end): only a hang takes this long, however busy the machine.
constexpr auto kHang = 60s;

// A thread whose run does what the test asks: ends with a code, throws, or
// waits for its stop flag.
class CScriptedThread : public CThreadImpl<CScriptedThread>
{
public:
    enum class Script
    {
        Return,
        ThrowStandard,
        ThrowOther,
        WaitForStop
    };

    int Run() override
    {
        ++m_runs;
        switch (m_script) {
        case Script::Return:
            return m_exitCode;
        case Script::ThrowStandard:
            throw std::runtime_error("escaped");
        case Script::ThrowOther:
            throw 42;
        case Script::WaitForStop:
            m_running = true;
            while (!IsStopRequested())
                std::this_thread::sleep_for(1ms);
            m_running = false; // the run's last touch of the object
            return 0;
        }
        return 0;
    }

    // The exit code of the run, read before the wait lets go of the thread.
    int ExitCodeWhenFinished()
    {
        auto deadline = Clock::now() + kHang;
        while (!IsFinished() && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        return GetExitCode();
    }

    void WaitUntilRunning()
    {
        auto deadline = Clock::now() + kHang;
        while (!m_running && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
    }

    Script m_script = Script::Return;
    int m_exitCode = 0;
    std::atomic<int> m_runs{0};
    std::atomic<bool> m_running{false};
};

TEST(ThreadBase, RunResultIsTheExitCode)
{
    CScriptedThread thread;
    thread.m_exitCode = 7;
    ASSERT_TRUE(thread.Start());
    EXPECT_EQ(thread.ExitCodeWhenFinished(), 7);
    thread.Wait();
    EXPECT_FALSE(thread.HasThread());
    EXPECT_EQ(thread.GetThreadId(), 0u);
}

TEST(ThreadBase, AnyEscapedExceptionEndsTheThreadWithMinusOne)
{
    for (auto script :
         {CScriptedThread::Script::ThrowStandard, CScriptedThread::Script::ThrowOther}) {
        CScriptedThread thread;
        thread.m_script = script;
        ASSERT_TRUE(thread.Start());
        EXPECT_EQ(thread.ExitCodeWhenFinished(), -1);
        thread.Wait();
    }
}

TEST(ThreadBase, StartWhileRunningStartsNothingAndClearsNoFlag)
{
    CScriptedThread thread;
    thread.m_script = CScriptedThread::Script::WaitForStop;
    ASSERT_TRUE(thread.Start());
    thread.WaitUntilRunning();
    unsigned id = thread.GetThreadId();
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(thread.Start());
    EXPECT_EQ(thread.GetThreadId(), id);
    thread.SetStop(true);
    thread.Wait();
    EXPECT_EQ(thread.m_runs.load(), 1);
}

TEST(ThreadBase, StartAfterAFinishedRunJoinsItAndClearsTheStopFlag)
{
    CScriptedThread thread;
    thread.m_script = CScriptedThread::Script::WaitForStop;
    ASSERT_TRUE(thread.Start());
    thread.WaitUntilRunning();
    thread.SetStop(true);
    EXPECT_EQ(thread.ExitCodeWhenFinished(), 0);

    ASSERT_TRUE(thread.Start()); // no Wait in between
    EXPECT_FALSE(thread.IsStopRequested());
    thread.WaitUntilRunning();
    EXPECT_TRUE(thread.m_running.load());
    thread.SetStop(true);
    thread.Wait();
    EXPECT_EQ(thread.m_runs.load(), 2);
}

TEST(ThreadBase, TerminateRefusesEveryLaterStart)
{
    CScriptedThread thread;
    thread.SetTerminate(true);
    EXPECT_TRUE(thread.IsStopRequested());
    EXPECT_FALSE(thread.Start());
    EXPECT_FALSE(thread.HasThread());
    EXPECT_EQ(thread.m_runs.load(), 0);
}

TEST(ThreadBase, AWaitThatTimesOutLetsGoOfTheThread)
{
    CScriptedThread thread;
    thread.m_script = CScriptedThread::Script::WaitForStop;
    ASSERT_TRUE(thread.Start());
    thread.WaitUntilRunning();
    // The run never ends by itself, so a wait that returns has given up on
    // it. Should the wait not give up, the test ends the run after far more
    // than the wait's 50 ms, and fails.
    std::atomic<bool> waited{false};
    std::atomic<bool> rescued{false};
    std::thread rescue([&] {
        auto deadline = Clock::now() + kHang;
        while (!waited && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        if (!waited) {
            rescued = true;
            thread.SetTerminate(true);
        }
    });
    thread.Wait(50);
    waited = true;
    rescue.join();
    EXPECT_FALSE(rescued.load());
    EXPECT_FALSE(thread.HasThread());
    EXPECT_EQ(thread.GetThreadId(), 0u);
    // The detached run still sees the flag and ends on its own.
    thread.SetTerminate(true);
    auto deadline = Clock::now() + kHang;
    while (thread.m_running && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(thread.m_running.load());
}

} // namespace
} // namespace zk
