#pragma once

#include "ui/zaru_popup_impl.h"
#include "ui/zarumate_data_layout.h"

#include <functional>
#include <string>

namespace zk {

// The detail popup: one friend with a larger avatar and the links to the
// friend's pages. A link opens its page and the popup stays open.
class CZarumateDataDlg : public CZaruPopupImpl<CZarumateDataDlg>
{
public:
    // Opens a page (the browser launcher of the settings).
    using PageOpener = std::function<void(const std::wstring& url)>;

    explicit CZarumateDataDlg(PageOpener opener = {}) : m_opener(std::move(opener)) {}

    void SetRecord(CZarumateDataPtr record) { m_layout.SetRecord(std::move(record)); }
    // Shows another person in the open popup, where it stands, and brings
    // it back above the main window that was just clicked.
    void ShowRecord(CZarumateDataPtr record);
    CZarumateDataLayout& GetLayout() { return m_layout; }

    // The page of the record that a link command opens; empty for any other
    // command.
    static std::wstring PageUrl(const CZarumateData& record, int commandId);

protected:
    void OnCommand(int code, int id) override;

private:
    PageOpener m_opener;
    CZarumateDataLayout m_layout;
};

} // namespace zk
