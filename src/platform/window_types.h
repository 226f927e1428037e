#pragma once

#include "platform/rect.h"

#include <cstdint>

namespace zk {

// The words the program's windows are written in: points, messages, styles,
// hit-test codes, keys and box types keep the values the program has always
// used, so a window reads like its description whatever toolkit is below.

struct POINT
{
    std::int32_t x = 0;
    std::int32_t y = 0;

    bool operator==(const POINT&) const = default;
};

struct SIZE
{
    std::int32_t cx = 0;
    std::int32_t cy = 0;

    bool operator==(const SIZE&) const = default;
};

inline bool PtInRect(const RECT& rect, POINT point)
{
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top &&
           point.y < rect.bottom;
}

inline RECT OffsetRect(RECT rect, std::int32_t dx, std::int32_t dy)
{
    return {rect.left + dx, rect.top + dy, rect.right + dx, rect.bottom + dy};
}

// True when the two rectangles share at least one pixel.
inline bool IntersectsRect(const RECT& a, const RECT& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Messages that windows send and post to each other.
enum : std::uint32_t
{
    WM_CLOSE = 0x0010,
    WM_KEYDOWN = 0x0100,
    WM_COMMAND = 0x0111,
    WM_SYSCOMMAND = 0x0112,
    WM_APP = 0x8000,
};

// System commands (WM_SYSCOMMAND).
enum : std::uint32_t
{
    SC_MINIMIZE = 0xF020,
    SC_RESTORE = 0xF120,
    SC_CLOSE = 0xF060,
};

// Window styles. Only the bits that change behaviour are read: a thick
// frame makes borders resize, the minimise box allows minimising; top-most
// windows stay above others; layered windows show a bitmap with alpha.
enum : std::uint32_t
{
    WS_POPUP = 0x80000000,
    WS_CAPTION = 0x00C00000,
    WS_SYSMENU = 0x00080000,
    WS_THICKFRAME = 0x00040000,
    WS_MINIMIZEBOX = 0x00020000,
    WS_EX_TOPMOST = 0x00000008,
    WS_EX_LAYERED = 0x00080000,
};

// What lies under a point of a window, as its hit test answers.
enum : int
{
    HTNOWHERE = 0,
    HTCLIENT = 1,
    HTCAPTION = 2,
    HTMINBUTTON = 8,
    HTLEFT = 10,
    HTRIGHT = 11,
    HTTOP = 12,
    HTTOPLEFT = 13,
    HTTOPRIGHT = 14,
    HTBOTTOM = 15,
    HTBOTTOMLEFT = 16,
    HTBOTTOMRIGHT = 17,
    HTCLOSE = 20,
};

// Mouse buttons and modifier keys held during a mouse message.
enum : std::uint32_t
{
    MK_LBUTTON = 0x0001,
    MK_RBUTTON = 0x0002,
    MK_SHIFT = 0x0004,
    MK_CONTROL = 0x0008,
    MK_MBUTTON = 0x0010,
};

enum class CMouseButton
{
    Left,
    Right,
    Middle,
};

// Wheel movement of one notch.
constexpr int WHEEL_DELTA = 120;

// Keys the windows answer.
enum : int
{
    VK_RETURN = 0x0D,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21, // Page Up
    VK_NEXT = 0x22,  // Page Down
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_UP = 0x26,
    VK_DOWN = 0x28,
    // The menu key, and Shift+F10 which stands for it on keyboards without
    // one: both ask for the context menu.
    VK_APPS = 0x5D,
};

enum class CCursor
{
    Arrow,
    Hand,
    SizeWE,
    SizeNS,
    SizeNWSE,
    SizeNESW,
};

// Show commands.
enum : int
{
    SW_HIDE = 0,
    SW_SHOWNORMAL = 1,
    SW_SHOWMINIMIZED = 2,
    SW_SHOW = 5,
    SW_MINIMIZE = 6,
    SW_RESTORE = 9,
};

// Message box types and answers.
enum : std::uint32_t
{
    MB_OK = 0x00000000,
    MB_YESNO = 0x00000004,
    MB_ICONERROR = 0x00000010,
    MB_ICONQUESTION = 0x00000020,
    MB_ICONWARNING = 0x00000030,
    MB_ICONINFORMATION = 0x00000040,
    MB_TYPEMASK = 0x0000000F,
    MB_ICONMASK = 0x000000F0,
};

enum : int
{
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

// Popup menu flags.
enum : std::uint32_t
{
    TPM_LEFTALIGN = 0x0000,
    TPM_RIGHTBUTTON = 0x0002,
    TPM_NONOTIFY = 0x0080,
    TPM_RETURNCMD = 0x0100,
};

} // namespace zk
