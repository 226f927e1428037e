#include "system/process_runner.h"

#include "platform/process.h"

#include <chrono>
#include <thread>

namespace zk {

namespace {

// Runs a program as the administrator after asking the user (polkit).
constexpr const wchar_t* kElevator = L"pkexec";

} // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine)
{
    std::vector<std::wstring> args;
    std::wstring current;
    bool inArgument = false;
    bool quoted = false;
    for (wchar_t c : commandLine) {
        if (c == L'"') {
            quoted = !quoted;
            inArgument = true;
        } else if (!quoted && (c == L' ' || c == L'\t')) {
            if (inArgument)
                args.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        args.push_back(std::move(current));
    return args;
}

bool CSystemProcessRunner::Execute(const CShellRun& run, ProcessId& process)
{
    std::wstring program = run.file;
    std::vector<std::wstring> args = SplitCommandLine(run.parameters);
    if (run.verb == kElevateVerb) {
        args.insert(args.begin(), program);
        program = kElevator;
    } else if (!run.verb.empty()) {
        // No other verb has a meaning here.
        return false;
    }
    pid_t pid = -1;
    if (Failed(StartChildProcess(program, args, pid)))
        return false;
    process = pid;
    return true;
}

bool CSystemProcessRunner::HasEnded(ProcessId process, std::uint32_t& exitCode)
{
    int code = 0;
    if (!PollProcess(static_cast<pid_t>(process), code))
        return false;
    exitCode = static_cast<std::uint32_t>(code);
    return true;
}

void CSystemProcessRunner::Sleep(unsigned milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

IProcessRunner& GetSystemProcessRunner()
{
    static CSystemProcessRunner runner;
    return runner;
}

} // namespace zk
