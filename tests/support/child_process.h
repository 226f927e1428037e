#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zk::test {

// What a finished child process left: its exit code (128 + the signal when a
// signal ended it, -1 when it could not be run) and everything it wrote.
struct CProcessResult
{
    int exitCode = -1;
    bool timedOut = false;
    std::string out;
    std::string err;
};

// A program run without a shell, its standard output and error read through
// pipes. The destructor kills and reaps a child that is still running.
class CChildProcess
{
public:
    CChildProcess() = default;
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    ~CChildProcess();

    // Starts args[0] (searched in PATH) with the environment extended or
    // overridden by "NAME=value" entries.
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {});

    // Reads output until standard output holds text; false when the child
    // ended or the time ran out first.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // The same for standard error (where tcpdump says it is listening).
    bool WaitForErrorOutput(const std::string& text, std::chrono::milliseconds timeout);

    // Reads what the child writes for up to the given time (less when a pipe
    // closes); false once both pipes are closed. Output() then holds all of
    // standard output so far, for tests that follow a running child.
    bool Pump(std::chrono::milliseconds timeout);
    const std::string& Output() const { return m_result.out; }
    const std::string& ErrorOutput() const { return m_result.err; }

    void Signal(int signal);

    // Reads the rest of the output and reaps the child; one that is still
    // running when the time is up is killed (timedOut is then set).
    CProcessResult Finish(std::chrono::milliseconds timeout);

    pid_t Pid() const { return m_pid; }

private:
    // Reads what is there within timeoutMs; false when both pipes are closed.
    bool ReadSome(int timeoutMs);
    // Reads until output (one of the two streams) holds text.
    bool WaitFor(const std::string& output, const std::string& text,
                 std::chrono::milliseconds timeout);

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    CProcessResult m_result;
};

// Runs a program to its end.
CProcessResult RunProcess(const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {},
                          std::chrono::milliseconds timeout = std::chrono::seconds(60));

} // namespace zk::test
