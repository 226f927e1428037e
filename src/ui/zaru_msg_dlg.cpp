#include "ui/zaru_msg_dlg.h"

#include "res/resource_ids.h"

namespace zk {

namespace {

// The lone button of a plain message, which nobody asks for by id.
constexpr int kPlainButtonId = -1;

} // namespace

CZaruMsgDlg::CZaruMsgDlg()
{
    m_layout.AddButton(kPlainButtonId, IDB_BUTTON_CLOSE);
}

void CZaruMsgDlg::OnCommand(int code, int id)
{
    if (code == 0 && id != 0)
        EndWith(id);
}

void CZaruMsgDlg::OnKeyDown(int key)
{
    // The keys of a dialog: Enter answers with the first choice, Esc with
    // the cancelling one.
    if (key == VK_RETURN)
        OnCommand(0, IDOK);
    else if (key == VK_ESCAPE)
        OnCommand(0, IDCANCEL);
}

} // namespace zk
