#pragma once

#include "system/process_runner.h"

#include <cstdint>
#include <string>

namespace zk {

class CWindow;

// The inbound allow rule the program keeps for itself in the system's
// advanced firewall, refreshed at every start where there is one.

// Message ids of AddFirewallRule.
constexpr std::uint32_t kMsgNoProgramPath = 2016;
constexpr std::uint32_t kMsgFirewallAddFailed = 2018;
constexpr std::uint32_t kMsgFirewallDeleteFailed = 2019;

// Whether the system has an advanced firewall with per-program inbound
// rules. A Linux desktop has none, and a packet socket sees traffic before
// any firewall filters it, so the rule is never needed there.
bool HasAdvancedFirewall();

// The program's own path from its command line: a quoted first word up to
// its closing quote, otherwise the text up to the first space, then looked
// for as the system finds programs. False when the command line is empty,
// the closing quote is missing or no such program is found.
bool GetProgramPath(const std::wstring& commandLine, std::wstring& path);
// The same for this process.
bool GetProgramPath(std::wstring& path);
// This process's command line: its arguments joined by spaces, one that
// holds a space or tab in double quotes.
std::wstring GetProcessCommandLine();

// Deletes the rule of the name and adds it again for this program, each
// time through the elevated firewall tool, waiting for it. Answers 0 or the
// message id of the step that failed. The tool's own verdict is not read:
// a delete that finds no rule is not an error.
std::uint32_t AddFirewallRule(const std::wstring& ruleName,
                              IProcessRunner& runner = GetSystemProcessRunner());
// The same for the program of the command line given.
std::uint32_t AddFirewallRule(const std::wstring& ruleName, IProcessRunner& runner,
                              const std::wstring& commandLine);

// Runs the program and waits for it to end, looking every kRunPollMs;
// false when it cannot be started.
constexpr unsigned kRunPollMs = 100;
bool RunAndWait(IProcessRunner& runner, const std::wstring& file, const std::wstring& parameters,
                const std::wstring& verb, CWindow* owner, int show, std::uint32_t& exitCode);
bool RunElevatedAndWait(IProcessRunner& runner, const std::wstring& file,
                        const std::wstring& parameters, CWindow* owner, int show,
                        std::uint32_t& exitCode);

} // namespace zk
