#pragma once

#include "ui/zaru_msg_layout.h"
#include "ui/zaru_popup_impl.h"

#include <string>

namespace zk {

// A message popup: a text and a row of image buttons; a button ends the
// popup with its id as the result, the close button and Esc with 2, Enter
// with 1 (the first answer of a question).
class CZaruMsgDlg : public CZaruPopupImpl<CZaruMsgDlg>
{
public:
    CZaruMsgDlg();

    void SetText(std::wstring text) { m_layout.SetText(std::move(text)); }
    CZaruMsgLayout& GetLayout() { return m_layout; }

protected:
    void OnCommand(int code, int id) override;
    void OnKeyDown(int key) override;

    CZaruMsgLayout m_layout;
};

} // namespace zk
