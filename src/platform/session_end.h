#pragma once

#include <functional>

namespace zk {

// The ways a run can be ended from outside: SIGTERM, SIGINT, SIGHUP, the
// session manager's request at logout, and the loss of the display
// connection. Each ends up in one call on the user-interface thread, so that
// the program can save what it has before it goes.

// Keeps the three signals from interrupting any thread; call at the very
// start, before any thread exists, so that every thread inherits the mask.
void BlockEndSignals();

// Calls onEnd (once) on the user-interface thread when the session ends; it
// answers the exit status of the run. After the display is lost the process
// ends with that status once onEnd has returned, since the window system
// cannot go on. Call after the window system started.
bool WatchSessionEnd(std::function<int()> onEnd);

} // namespace zk
