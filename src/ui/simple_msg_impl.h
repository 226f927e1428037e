#pragma once

#include "platform/ui_services.h"
#include "res/string_table.h"

#include <cstdint>
#include <string>

namespace zk {

// Message boxes of a window: the title is the error title when the box
// shows the error icon, the plain title otherwise. T is the owner window.
template <class T, std::uint32_t TErrorTitleId, std::uint32_t TTitleId> class CSimpleMsgImpl
{
public:
    int MsgBox(const std::wstring& text, std::uint32_t type)
    {
        std::uint32_t titleId = (type & MB_ICONERROR) ? TErrorTitleId : TTitleId;
        return MessageBox(static_cast<T*>(this), text, LoadString(titleId), type);
    }

    int MsgBox(std::uint32_t textId, std::uint32_t type)
    {
        return MsgBox(LoadString(textId), type);
    }
};

} // namespace zk
