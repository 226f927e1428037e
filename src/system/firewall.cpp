#include "system/firewall.h"

#include "platform/file_ops.h"
#include "platform/process.h"
#include "platform/text_convert.h"
#include "platform/window_types.h"

#include <string_view>

namespace zk {

namespace {

// The system's firewall tool and the parameters of its two runs; the name
// and the path are put in between the double quotes as they stand.
constexpr const wchar_t* kFirewallTool = L"netsh";
// The longest program path the rule can hold.
constexpr std::size_t kMaxProgramPath = 4096;

std::wstring DeleteRuleParameters(const std::wstring& name)
{
    return L"advfirewall firewall del rule name=\"" + name + L"\"";
}

std::wstring AddRuleParameters(const std::wstring& name, const std::wstring& path)
{
    return L"advfirewall firewall add rule program=\"" + path + L"\" name=\"" + name +
           L"\" dir=in action=allow enable=yes profile=any edge=yes";
}

} // namespace

bool HasAdvancedFirewall()
{
    return false;
}

bool GetProgramPath(const std::wstring& commandLine, std::wstring& path)
{
    if (commandLine.empty())
        return false;
    std::wstring name;
    if (commandLine[0] == L'"') {
        std::size_t close = commandLine.find(L'"', 1);
        if (close == std::wstring::npos)
            return false;
        name = commandLine.substr(1, close - 1);
    } else {
        name = commandLine.substr(0, commandLine.find(L' '));
    }
    std::wstring found = FindProgram(name);
    if (found.empty() || found.size() >= kMaxProgramPath)
        return false;
    path = found;
    return true;
}

bool GetProgramPath(std::wstring& path)
{
    return GetProgramPath(GetProcessCommandLine(), path);
}

std::wstring GetProcessCommandLine()
{
    std::string raw;
    if (Failed(ReadWholeFile(L"/proc/self/cmdline", raw)))
        return {};
    std::wstring commandLine;
    std::string_view rest = raw;
    while (!rest.empty()) {
        std::size_t end = rest.find('\0');
        std::wstring arg = Utf8ToWide(rest.substr(0, end));
        if (!commandLine.empty())
            commandLine += L' ';
        if (arg.find_first_of(L" \t") != std::wstring::npos)
            commandLine += L'"' + arg + L'"';
        else
            commandLine += arg;
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return commandLine;
}

std::uint32_t AddFirewallRule(const std::wstring& ruleName, IProcessRunner& runner)
{
    return AddFirewallRule(ruleName, runner, GetProcessCommandLine());
}

std::uint32_t AddFirewallRule(const std::wstring& ruleName, IProcessRunner& runner,
                              const std::wstring& commandLine)
{
    std::wstring path;
    if (!GetProgramPath(commandLine, path))
        return kMsgNoProgramPath;
    std::uint32_t exitCode = 0;
    if (!RunElevatedAndWait(runner, kFirewallTool, DeleteRuleParameters(ruleName), nullptr, SW_HIDE,
                            exitCode))
        return kMsgFirewallDeleteFailed;
    if (!RunElevatedAndWait(runner, kFirewallTool, AddRuleParameters(ruleName, path), nullptr,
                            SW_HIDE, exitCode))
        return kMsgFirewallAddFailed;
    return 0;
}

bool RunAndWait(IProcessRunner& runner, const std::wstring& file, const std::wstring& parameters,
                const std::wstring& verb, CWindow* owner, int show, std::uint32_t& exitCode)
{
    IProcessRunner::ProcessId process = 0;
    if (!runner.Execute({file, parameters, verb, owner, show}, process))
        return false;
    while (!runner.HasEnded(process, exitCode))
        runner.Sleep(kRunPollMs);
    return true;
}

bool RunElevatedAndWait(IProcessRunner& runner, const std::wstring& file,
                        const std::wstring& parameters, CWindow* owner, int show,
                        std::uint32_t& exitCode)
{
    return RunAndWait(runner, file, parameters, kElevateVerb, owner, show, exitCode);
}

} // namespace zk
