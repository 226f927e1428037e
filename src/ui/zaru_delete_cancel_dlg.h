#pragma once

#include "ui/zaru_msg_dlg.h"

namespace zk {

// The question before friends are deleted: the delete button answers 1,
// the close button (and the popup's own close button) 2.
class CZaruDeleteCancelDlg : public CZaruMsgDlg
{
public:
    static constexpr int kDeleteId = 1;
    static constexpr int kCloseId = 2;
    // The question's text until the caller puts in the formatted one.
    static constexpr std::uint32_t kDefaultTextId = 140;

    CZaruDeleteCancelDlg();
};

} // namespace zk
