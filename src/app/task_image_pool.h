#pragma once

#include "app/image_pool.h"
#include "fetch/task_thread_pool.h"

namespace zk {

// The program's avatar workers as the main frame sees them.
class CTaskImagePool : public IImagePool
{
public:
    void PushTask(std::shared_ptr<CDownloadImageTask> task) override
    {
        m_pool.PushTask(std::move(task));
    }
    bool StartAll() override { return m_pool.StartAll(); }
    void SetShutdown(bool shutdown) override { m_pool.SetShutdown(shutdown); }
    void WaitAll(unsigned milliseconds) override { m_pool.WaitAll(milliseconds); }

private:
    CTaskThreadPool m_pool;
};

} // namespace zk
