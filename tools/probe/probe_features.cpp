#include "probe/probe_features.h"

#include "friends/zarumate_list_file.h"
#include "platform/system_clock.h"

#include <cstdio>

namespace zk {

// The list is loaded and saved the way the program does at start and exit,
// with the reports merged as the main frame merges its found queue.

bool CProbeListSession::Begin(std::wstring& error)
{
    std::lock_guard guard(m_lock);
    CSimpleErr err;
    m_list.Clear();
    if (!LoadList(kDefaultListName, m_list, err)) {
        // As when the user declines to overwrite a list that did not load.
        error = err.GetText();
        return false;
    }
    return true;
}

void CProbeListSession::OnFound(const CZarumateDataPtr& data)
{
    if (!data)
        return;
    auto sighting = std::make_shared<CZarumateData>();
    sighting->CopyPersistent(*data);
    sighting->m_updateTime = GetSystemTimeUtc();
    std::lock_guard guard(m_lock);
    m_list.AddOrUpdate(sighting);
}

bool CProbeListSession::End(bool avatars, std::wstring& error)
{
    std::lock_guard guard(m_lock);
    CSimpleErr err;
    if (!SaveList(kDefaultListName, m_list, err)) {
        error = err.GetText();
        return false;
    }
    // Fetching the avatars of the saved persons comes here.
    (void)avatars;
    return true;
}

int RunThumbnails(const std::wstring&)
{
    std::fputs("zarumatekit-probe: --thumbnails is not built yet\n", stderr);
    return 1;
}

} // namespace zk
