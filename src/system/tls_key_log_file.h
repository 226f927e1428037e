#pragma once

#include <string>

namespace zk {

// The environment variable browsers and curl write their TLS secrets to
// the file named in.
constexpr const char* kTlsKeyLogVariable = "SSLKEYLOGFILE";

// The TLS key log the program reads and gives the browsers it starts: the
// file SSLKEYLOGFILE names in the program's environment (the user exported
// it for the whole desktop session), else the one the settings name, else
// the program's own (OwnTlsKeyLogFile). Empty when there is none.
std::wstring FindTlsKeyLogFile(const std::wstring& settingPath);

// The program's own key log, $XDG_RUNTIME_DIR/zarumatekit/tls-keys.log:
// the folder made 0700 and the file 0600 when missing, never replaced when
// they are there (a symbolic link in their place is refused). Empty
// without XDG_RUNTIME_DIR: the file holds secrets of every site, and a
// shared temporary folder is no place for it.
std::wstring OwnTlsKeyLogFile();

} // namespace zk
