#pragma once

#include <string>

namespace zk {

// Opens one page. With a browser chosen, that program is started with the
// URL as its one argument, unchanged and never seen by a shell; without
// one, the desktop's handler for the URL ("xdg-open URL") opens it. The
// program runs on by itself. When it cannot be started the default beep
// sounds; nothing else is reported.
bool OpenUrl(const std::wstring& browserPath, const std::wstring& url);

// Opens the URL with the desktop's handler, whatever browser is chosen (the
// about box's link).
bool OpenUrlWithSystemHandler(const std::wstring& url);

// The TLS key log every browser started by OpenUrl is told of in
// SSLKEYLOGFILE, so that the pages it opens can be read; empty for none. A
// browser that is already running keeps the file it started with.
void SetBrowserTlsKeyLogFile(const std::wstring& path);

} // namespace zk
