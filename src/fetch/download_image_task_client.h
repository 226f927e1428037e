#pragma once

#include <memory>

namespace zk {

class CDownloadImageTask;

// Receives every task the worker has run, successful or not. Called on the
// worker thread: an implementation only records the task for its own thread.
class CDownloadImageTaskClient
{
public:
    virtual void OnDownloadImageTaskEnd(std::shared_ptr<CDownloadImageTask> task) = 0;

protected:
    ~CDownloadImageTaskClient() = default;
};

} // namespace zk
