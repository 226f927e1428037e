#pragma once

#include "fetch/download_image_task_client.h"
#include "fetch/download_image_task_impl.h"
#include "fetch/download_progress_callback.h"
#include "fetch/task.h"

namespace zk {

// The download of one friend's avatar image, run on the image worker. It is
// cancelled when its worker is asked to stop.
class CDownloadImageTask final
    : public CTask<CDownloadImageTask, CDownloadImageTaskClient, CSimpleErr>,
      public CDownloadImageTaskImpl,
      public CDownloadProgressCallback
{
public:
    bool IsCancelled() override { return m_thread && m_thread->IsStopRequested(); }
    void OnProgress(std::uint32_t, std::uint32_t) override {}
};

} // namespace zk
