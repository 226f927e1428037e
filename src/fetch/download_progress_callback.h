#pragma once

#include <cstdint>

namespace zk {

// What a transfer asks of the task it runs for: whether to stop, and where
// to report its progress.
class CDownloadProgressCallback
{
public:
    // A task is a progress callback of its own and may be destroyed as one.
    virtual ~CDownloadProgressCallback() = default;
    virtual bool IsCancelled() = 0;
    virtual void OnProgress(std::uint32_t progress, std::uint32_t progressMax) = 0;
};

} // namespace zk
