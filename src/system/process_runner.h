#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk {

class CWindow;

// The verb that asks for a program to run with the administrator's rights.
constexpr const wchar_t* kElevateVerb = L"runas";

// One run of a program as the shell starts it: the file, its parameters as
// one command-line string, an optional verb ("runas" asks for elevation),
// the owner window and the show state.
struct CShellRun
{
    std::wstring file;
    std::wstring parameters;
    std::wstring verb;
    CWindow* owner = nullptr;
    int show = 0;
};

// Starts programs and looks after them until they end; tests put in a
// recording one.
class IProcessRunner
{
public:
    using ProcessId = std::int64_t;

    virtual ~IProcessRunner() = default;

    // False when the program cannot be started (missing, refused).
    virtual bool Execute(const CShellRun& run, ProcessId& process) = 0;
    // Looks without waiting; when the process has ended, gives its exit
    // code and lets it go.
    virtual bool HasEnded(ProcessId process, std::uint32_t& exitCode) = 0;
    virtual void Sleep(unsigned milliseconds) = 0;
};

// The desktop's runner: the parameters are split into arguments as the
// system's command lines are (white space separates, double quotes group
// and are dropped), and the verb "runas" runs the program through pkexec.
class CSystemProcessRunner : public IProcessRunner
{
public:
    bool Execute(const CShellRun& run, ProcessId& process) override;
    bool HasEnded(ProcessId process, std::uint32_t& exitCode) override;
    void Sleep(unsigned milliseconds) override;
};

// Splits a command-line string into its arguments.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

IProcessRunner& GetSystemProcessRunner();

} // namespace zk
