#include "fetch/bind_status_callback_obj.h"

namespace zk {

void CBindStatusCallbackObj::SetSink(CDownloadProgressCallback* sink)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_sink = sink;
}

HRESULT CBindStatusCallbackObj::GetBindInfo(std::uint32_t& bindFlags)
{
    bindFlags = m_bindFlags;
    return S_OK;
}

HRESULT CBindStatusCallbackObj::OnProgress(std::uint32_t progress, std::uint32_t progressMax,
                                           std::uint32_t, std::wstring_view)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_sink && m_sink->IsCancelled())
        return E_ABORT;
    if (m_sink)
        m_sink->OnProgress(progress, progressMax);
    return S_OK;
}

} // namespace zk
