#pragma once

#include "fetch/download_progress_callback.h"
#include "platform/browser_cache.h"

#include <mutex>

namespace zk {

// The progress sink of both transfers of a task, the browser-cache attempt
// and the HTTP request, so that one cancellation test covers both: a
// cancelled task refuses every report with E_ABORT.
class CBindStatusCallbackObj : public IBindStatusCallback
{
public:
    void SetSink(CDownloadProgressCallback* sink);
    void SetBindFlags(std::uint32_t flags) { m_bindFlags = flags; }

    HRESULT GetBindInfo(std::uint32_t& bindFlags) override;
    HRESULT OnProgress(std::uint32_t progress, std::uint32_t progressMax, std::uint32_t statusCode,
                       std::wstring_view statusText) override;

private:
    std::mutex m_lock;
    CDownloadProgressCallback* m_sink = nullptr; // not owned; under m_lock
    std::uint32_t m_bindFlags = 0;
};

} // namespace zk
