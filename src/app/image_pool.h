#pragma once

#include <memory>

namespace zk {

class CDownloadImageTask;

// What the main frame asks of the workers that fetch the avatars: take a
// task, run, and end at the exit. The program's is a thread pool
// (CTaskImagePool); tests keep the tasks to finish them by hand.
class IImagePool
{
public:
    virtual ~IImagePool() = default;

    virtual void PushTask(std::shared_ptr<CDownloadImageTask> task) = 0;
    // Starts the workers that do not run yet.
    virtual bool StartAll() = 0;
    virtual void SetShutdown(bool shutdown) = 0;
    virtual void WaitAll(unsigned milliseconds) = 0;
};

} // namespace zk
