#pragma once

#include <memory>

namespace zk {

class CMenu;

// The program's menus by resource id, built from their data.
constexpr int kTitleMenuId = 209;
constexpr int kCellMenuId = 210;

// Command ids the menus carry.
constexpr int kCmdSettings = 9203;
constexpr int kCmdStartTlsBrowser = 9206; // the browser, told of the key log
constexpr int kCmdAbout = 57664;
constexpr int kCmdRefreshImage = 9102;
constexpr int kCmdCopyId = 9105;
constexpr int kCmdDelete = 9100;
constexpr int kCmdDeleteBelow = 9101;
constexpr int kCmdFirstAdapter = 9900;
constexpr int kCmdLastAdapter = 9999;

// The position of the monitoring sub-menu in the title menu's sub-menu 0.
constexpr int kMonitorSubMenuPosition = 0;

// A new copy of the menu (its bar, whose item 0 is the sub-menu that is
// shown), or nullptr for an unknown id.
std::shared_ptr<CMenu> LoadMenuResource(int id);

} // namespace zk
