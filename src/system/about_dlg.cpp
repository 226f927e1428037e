#include "system/about_dlg.h"

#include "base/portal_hosts.h"
#include "platform/window_types.h"
#include "system/browser_launcher.h"

namespace zk {

const CDialogTemplate& CAboutDlg::GetTemplate()
{
    using K = CDialogItemKind;
    static const CDialogTemplate dialog{
        L"バージョン情報",
        187,
        80,
        {
            {IDC_STATIC, K::Icon, L"", 10, 10, 21, 20},
            {IDC_STATIC, K::Static, L"Zarumatekit v1.0.0.0", 42, 10, 138, 8},
            {IDC_STATIC, K::Static, L"詳しくはホームページをご覧ください", 42, 26, 138, 8},
            {kLinkId, K::Link, kMakerHomePage, 42, 40, 138, 8},
            {IDOK, K::DefPushButton, L"OK", 130, 59, 50, 14},
        }};
    return dialog;
}

CAboutDlg::CAboutDlg(Opener opener) : m_opener(std::move(opener))
{
    if (!m_opener)
        m_opener = OpenUrlWithSystemHandler;
}

int CAboutDlg::DoModal(CWindow* owner, const Runner& runner)
{
    return runner(owner, GetTemplate(), *this);
}

void CAboutDlg::OnCommand(IDialogView& view, int id)
{
    switch (id) {
    case IDOK:
    case IDCANCEL:
        view.EndDialog(id);
        break;
    case kLinkId: {
        // The link opens what it shows.
        std::wstring address;
        if (view.GetItemText(kLinkId, address))
            m_opener(address);
        break;
    }
    default:
        break;
    }
}

} // namespace zk
