#pragma once

namespace zk {

// The program's run from start to end: one copy per user, the settings,
// the main window and its message loop, then everything torn down in
// reverse. Answers the exit status. Arguments are not read.
int RunZarumatekit(int argc, char** argv);

} // namespace zk
