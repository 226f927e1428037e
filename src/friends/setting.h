#pragma once

#include "friends/zarumate_data_list.h"
#include "platform/rect.h"

#include <string>

namespace zk {

// RestoreWindowPlacement flags: keep the window's size, keep its position,
// pull the rectangle into the virtual screen.
constexpr unsigned kPlacementKeepSize = 1;
constexpr unsigned kPlacementKeepPosition = 2;
constexpr unsigned kPlacementIntoScreen = 4;

// Moves a rectangle into the screen without changing its size: vertically
// (bottom edge first, then top), then horizontally (right edge first, then
// left), so a rectangle larger than the screen ends at its top left.
RECT MoveRectIntoScreen(const RECT& rect, const RECT& screen);

// The program's settings, one object for the whole process, and the stored
// friend list that the list file is read into and written from.
class CSetting
{
public:
    // Reads the registry; false when a key or a string is missing or
    // unusable. Whatever could be read is taken, the rest stays.
    bool LoadSettings();
    // Writes the registry; false when a key or a string cannot be written.
    bool SaveSettings();

    // Takes the window's state at exit. The rectangle is taken only from a
    // normal window, so the last normal placement survives a maximized or
    // minimized exit.
    void CaptureWindowPlacement(bool maximized, bool minimized, const RECT& windowRect);
    // The rectangle to place the window at, given the virtual screen. False
    // when none is known (an empty rectangle); the window then takes its
    // default place.
    bool GetRestoreRect(unsigned flags, const RECT& virtualScreen, RECT& rect) const;

    bool m_maximized = false;
    RECT m_windowRect;
    CZarumateDataList m_list;
    std::wstring m_adapterName;
    std::wstring m_browserPath;
    // Where the last run had to put the friend list instead of its usual
    // file, so that this run can tell the user; empty when it did not.
    std::wstring m_savedListFile;
    // The TLS key log the browser writes, when the user named one (empty:
    // SSLKEYLOGFILE or the program's own file is taken).
    std::wstring m_tlsKeyLogPath;

private:
    // SaveSettings' writes, which it gathers into one write of the store.
    bool SaveValues();
};

} // namespace zk
