#pragma once

#include "platform/std_dialogs.h"

#include <functional>
#include <string>

namespace zk {

class CWindow;

// The about box (resource 100): the program icon, name and version, a hint
// and a link to the maker's home page, which the desktop's handler opens.
class CAboutDlg : public IDialogHandler
{
public:
    static constexpr int IDD = 100;
    static constexpr int kLinkId = 9200;

    using Runner = std::function<int(CWindow*, const CDialogTemplate&, IDialogHandler&)>;
    using Opener = std::function<bool(const std::wstring&)>;

    static const CDialogTemplate& GetTemplate();

    // The link opens with the opener given (the desktop's handler unless a
    // test listens).
    explicit CAboutDlg(Opener opener = {});

    int DoModal(CWindow* owner, const Runner& runner = RunDialog);

    void OnCommand(IDialogView& view, int id) override;

private:
    Opener m_opener;
};

} // namespace zk
