#include "system/setting_dlg.h"

#include "friends/setting.h"
#include "platform/window_types.h"

namespace zk {

namespace {

constexpr const wchar_t* kTrimmedChars = L" \t\r\n";

std::wstring Trim(const std::wstring& text)
{
    std::size_t first = text.find_first_not_of(kTrimmedChars);
    if (first == std::wstring::npos)
        return {};
    std::size_t last = text.find_last_not_of(kTrimmedChars);
    return text.substr(first, last - first + 1);
}

} // namespace

const CDialogTemplate& CSettingDlg::GetTemplate()
{
    using K = CDialogItemKind;
    static const CDialogTemplate dialog{
        L"設定",
        268,
        92,
        {
            // As wide as the note and the browse button beside it need.
            {IDC_STATIC, K::GroupBox, L"ウェブブラウザ", 7, 7, 254, 54},
            {kBrowserComboId, K::ComboBox, L"", 15, 21, 238, 30},
            {IDC_STATIC, K::Static, L"※ 空にするとディフォルトのウェブブラウザで開かれます", 17, 40,
             179, 8},
            {kBrowseButtonId, K::PushButton, L"参照", 203, 38, 50, 15},
            {IDOK, K::DefPushButton, L"OK", 119, 69, 69, 16},
            {IDCANCEL, K::PushButton, L"キャンセル", 192, 69, 69, 16},
        }};
    return dialog;
}

void CSettingDlg::SetSetting(const CSetting& setting)
{
    m_maximized = setting.m_maximized;
    m_windowRect = setting.m_windowRect;
    m_adapterName = setting.m_adapterName;
    m_browserPath = setting.m_browserPath;
}

int CSettingDlg::DoModal(CWindow* owner, const Runner& runner)
{
    return runner(owner, GetTemplate(), *this);
}

void CSettingDlg::OnInitDialog(IDialogView& view)
{
    FillBrowserCombo(view);
}

void CSettingDlg::OnCommand(IDialogView& view, int id)
{
    switch (id) {
    case kBrowseButtonId:
        OnBrowse(view);
        break;
    case IDOK: {
        std::wstring text;
        if (GetComboText(view, text))
            m_browserPath = text;
        view.EndDialog(IDOK);
        break;
    }
    case IDCANCEL:
        view.EndDialog(IDCANCEL);
        break;
    default:
        break;
    }
}

void CSettingDlg::FillBrowserCombo(IDialogView& view) const
{
    // The empty first item lets the user go back to the default browser.
    view.ResetContent(kBrowserComboId);
    view.AddString(kBrowserComboId, L"");
    if (!m_browserPath.empty())
        view.AddString(kBrowserComboId, m_browserPath);
    std::wstring shown;
    if (!view.GetItemText(kBrowserComboId, shown) || shown != m_browserPath)
        view.SetItemText(kBrowserComboId, m_browserPath);
}

bool CSettingDlg::GetComboText(const IDialogView& view, std::wstring& text) const
{
    int selected = view.GetCurSel(kBrowserComboId);
    if (selected >= 0 && view.GetLBText(kBrowserComboId, selected, text))
        return true;
    std::wstring typed;
    if (!view.GetItemText(kBrowserComboId, typed))
        return false;
    text = Trim(typed);
    return true;
}

void CSettingDlg::OnBrowse(IDialogView& view)
{
    std::wstring initial;
    if (GetComboText(view, initial) && initial.size() >= kFileNameChars)
        initial.resize(kFileNameChars - 1);
    std::wstring chosen;
    if (!view.ChooseProgramFile(initial, chosen))
        return;
    m_browserPath = chosen;
    FillBrowserCombo(view);
}

bool EditSettings(CWindow* owner, CSetting& setting, const CSettingDlg::Runner& runner)
{
    CSettingDlg dialog;
    dialog.SetSetting(setting);
    if (dialog.DoModal(owner, runner) != IDOK)
        return false;
    setting.m_browserPath = dialog.m_browserPath;
    return true;
}

} // namespace zk
