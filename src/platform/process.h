#pragma once

#include "platform/result_code.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace zk {

// Starting other programs without a shell: the arguments reach the program
// exactly as given, one each, so nothing in them (spaces, quotes, $, ;) is
// ever interpreted.

// Where a program of this name is, as a shell would find it: a name with a
// slash is taken as it stands (a relative one from the current folder), any
// other name is looked for in the folders of PATH in order. The answer is an
// absolute path of an executable regular file, without symbolic links
// resolved, or empty when there is none.
std::wstring FindProgram(const std::wstring& name);

// Starts the program (found as FindProgram finds it) with the arguments,
// detached: it runs in a session of its own, and nothing of it is left for
// this process to reap. Answers S_OK once the program is running, or the
// errno result of what failed (a program that is missing or cannot be
// executed included).
HRESULT StartDetachedProcess(const std::wstring& program, const std::vector<std::wstring>& args);
// The same with "NAME=value" entries added to (or replacing those of) this
// process's environment for the program.
HRESULT StartDetachedProcess(const std::wstring& program, const std::vector<std::wstring>& args,
                             const std::vector<std::string>& environment);

// Starts the program with the arguments as a child of this process, which
// must collect it with PollProcess until that answers true; environment as
// for StartDetachedProcess.
HRESULT StartChildProcess(const std::wstring& program, const std::vector<std::wstring>& args,
                          pid_t& pid, const std::vector<std::string>& environment = {});

// Looks, without waiting, whether the child has ended; when it has, it is
// reaped and its exit code given (128 + the signal when a signal ended it).
// A child that cannot be waited for counts as ended with exit code -1.
bool PollProcess(pid_t pid, int& exitCode);

} // namespace zk
