#pragma once

#include <string>

namespace zk {

// The separator that path joining inserts.
constexpr wchar_t kPathSeparator = L'/';

// The per-user application-data folder: $XDG_DATA_HOME, else
// $HOME/.local/share. Empty when neither can be found.
std::wstring GetUserDataFolder();

// The per-user configuration folder: $XDG_CONFIG_HOME, else $HOME/.config.
std::wstring GetUserConfigFolder();

// The per-user state folder: $XDG_STATE_HOME, else $HOME/.local/state.
std::wstring GetUserStateFolder();

// The folder for temporary files: $TMPDIR, else /tmp.
std::wstring GetTempFolder();

} // namespace zk
