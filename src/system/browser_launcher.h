#pragma once

#include <string>

namespace zk {

// Opens one page. With a browser chosen, that program is started with the
// URL as its one argument, unchanged and never seen by a shell; it runs on
// by itself. Without one, the desktop's handler for the URL ("xdg-open
// URL") opens it; the handler stays a child of this process until
// PollUrlHandlers has seen it end. When the program cannot be started the
// default beep sounds at once; nothing else is reported.
bool OpenUrl(const std::wstring& browserPath, const std::wstring& url);

// Opens the URL with the desktop's handler, whatever browser is chosen (the
// about box's link).
bool OpenUrlWithSystemHandler(const std::wstring& url);

// The TLS key log every browser started by OpenUrl is told of in
// SSLKEYLOGFILE, so that the pages it opens can be read; empty for none. A
// browser that is already running keeps the file it started with.
void SetBrowserTlsKeyLogFile(const std::wstring& path);

// Looks, without waiting, at the desktop handlers started so far: each one
// that ended is let go, and one that ended with a failure (no handler for
// the URL, a handler that could not start) sounds the default beep, as the
// page was not opened. The window's timer calls it. Answers how many
// failed this time.
int PollUrlHandlers();

// The desktop handlers that have not ended yet.
int GetPendingUrlHandlers();

} // namespace zk
