#include "ui/zarumate_data_dlg.h"

namespace zk {

std::wstring CZarumateDataDlg::PageUrl(const CZarumateData& record, int commandId)
{
    const auto& ids = CZarumateDataLayout::kLinkIds;
    if (commandId == ids[0])
        return record.GetGamePageUrl();
    if (commandId == ids[1])
        return record.GetLifePageUrl();
    if (commandId == ids[2])
        return record.GetBlogUrl();
    if (commandId == ids[3])
        return record.GetMicroblogUrl();
    return {};
}

void CZarumateDataDlg::ShowRecord(CZarumateDataPtr record)
{
    m_layout.SetRecord(std::move(record));
    if (!IsWindow())
        return;
    Redraw();
    SetForegroundWindow();
}

void CZarumateDataDlg::OnCommand(int /*code*/, int id)
{
    const CZarumateDataPtr& record = m_layout.GetRecord();
    if (!record || !m_opener)
        return;
    std::wstring url = PageUrl(*record, id);
    if (!url.empty())
        m_opener(url);
}

} // namespace zk
