#pragma once

#include "platform/rect.h"
#include "platform/std_dialogs.h"

#include <functional>
#include <string>

namespace zk {

class CSetting;
class CWindow;

// The settings dialog (resource 226): one editable drop-down with the
// browser program's path and a button that browses for a program. It holds
// a copy of the settings' fields (the stored list is not part of it); only
// the browser path is edited.
class CSettingDlg : public IDialogHandler
{
public:
    static constexpr int IDD = 226;
    static constexpr int kBrowserComboId = 1000;
    static constexpr int kBrowseButtonId = 9204;
    static constexpr int kKeyLogComboId = 1001;
    static constexpr int kKeyLogBrowseButtonId = 9205;
    // The file chooser's name field holds at most this many characters,
    // its terminator included.
    static constexpr std::size_t kFileNameChars = 260;

    // How the dialog is shown; RunDialog of the desktop unless a test
    // drives it.
    using Runner = std::function<int(CWindow*, const CDialogTemplate&, IDialogHandler&)>;

    static const CDialogTemplate& GetTemplate();

    void SetSetting(const CSetting& setting);
    // IDOK or IDCANCEL.
    int DoModal(CWindow* owner, const Runner& runner = RunDialog);

    void OnInitDialog(IDialogView& view) override;
    void OnCommand(IDialogView& view, int id) override;

    bool m_maximized = false;
    RECT m_windowRect;
    std::wstring m_adapterName;
    std::wstring m_browserPath;
    std::wstring m_tlsKeyLogPath;

private:
    void FillBrowserCombo(IDialogView& view) const;
    void FillKeyLogCombo(IDialogView& view) const;
    // The selected item's text or, when none is selected or it cannot be
    // read, the field's text trimmed at both ends; false when neither can
    // be read.
    bool GetComboText(const IDialogView& view, std::wstring& text, int id = kBrowserComboId) const;
    void OnBrowse(IDialogView& view);
    void OnBrowseKeyLog(IDialogView& view);
};

// The settings command: runs the dialog over the owner and, on OK, takes
// the browser path into the settings. Nothing else is taken back: the list
// on screen and the adapter go on changing while the dialog is open, and
// the dialog's copy of them would be stale. The key log file comes back
// too. True on OK.
bool EditSettings(CWindow* owner, CSetting& setting, const CSettingDlg::Runner& runner = RunDialog);

} // namespace zk
