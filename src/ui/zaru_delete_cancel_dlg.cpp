#include "ui/zaru_delete_cancel_dlg.h"

#include "res/resource_ids.h"
#include "res/string_table.h"

namespace zk {

CZaruDeleteCancelDlg::CZaruDeleteCancelDlg()
{
    m_layout.ClearButtons();
    m_layout.AddButton(kDeleteId, IDB_BUTTON_DELETE);
    m_layout.AddButton(kCloseId, IDB_BUTTON_CLOSE);
    m_layout.SetText(LoadString(kDefaultTextId));
}

} // namespace zk
