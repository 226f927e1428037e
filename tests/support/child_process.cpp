#include "support/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zk::test {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::vector<std::string> MergeEnvironment(const std::vector<std::string>& extra)
{
    std::vector<std::string> merged;
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        bool overridden = false;
        for (const std::string& e : extra)
            overridden = overridden || nameOf(e) == nameOf(text);
        if (!overridden)
            merged.push_back(text);
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

} // namespace

CChildProcess::~CChildProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        close(m_out);
    if (m_err >= 0)
        close(m_err);
}

bool CChildProcess::Start(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return false;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The test may block signals in its own threads; the child starts with
    // none blocked so that SIGTERM and SIGINT reach it.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment = MergeEnvironment(env);
    std::vector<char*> envp;
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    int result = posix_spawnp(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(outPipe[1]);
    close(errPipe[1]);
    m_out = outPipe[0];
    m_err = errPipe[0];
    if (result != 0) {
        m_pid = -1;
        m_result.err = std::string("cannot run ") + args[0] + ": " + std::strerror(result);
        return false;
    }
    return true;
}

bool CChildProcess::ReadSome(int timeoutMs)
{
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    if (m_out < 0 && m_err < 0)
        return false;
    int ready = poll(fds, 2, timeoutMs);
    if (ready <= 0)
        return true;
    char buffer[4096];
    auto drain = [&](int& fd, short revents, std::string& into) {
        if (fd < 0 || !(revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        ssize_t length = read(fd, buffer, sizeof buffer);
        if (length > 0) {
            into.append(buffer, static_cast<std::size_t>(length));
        } else if (length == 0 || errno != EINTR) {
            close(fd);
            fd = -1;
        }
    };
    drain(m_out, fds[0].revents, m_result.out);
    drain(m_err, fds[1].revents, m_result.err);
    return m_out >= 0 || m_err >= 0;
}

bool CChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout)
{
    return WaitFor(m_result.out, text, timeout);
}

bool CChildProcess::WaitForErrorOutput(const std::string& text, std::chrono::milliseconds timeout)
{
    return WaitFor(m_result.err, text, timeout);
}

bool CChildProcess::WaitFor(const std::string& output, const std::string& text,
                            std::chrono::milliseconds timeout)
{
    auto deadline = Clock::now() + timeout;
    while (output.find(text) == std::string::npos) {
        int left = MillisecondsLeft(deadline);
        if (left == 0 || !ReadSome(left))
            return output.find(text) != std::string::npos;
    }
    return true;
}

bool CChildProcess::Pump(std::chrono::milliseconds timeout)
{
    return ReadSome(static_cast<int>(timeout.count()));
}

void CChildProcess::Signal(int signal)
{
    if (m_pid > 0)
        kill(m_pid, signal);
}

CProcessResult CChildProcess::Finish(std::chrono::milliseconds timeout)
{
    auto deadline = Clock::now() + timeout;
    while (ReadSome(MillisecondsLeft(deadline))) {
        if (MillisecondsLeft(deadline) == 0)
            break;
    }
    if (m_pid > 0) {
        int status = 0;
        pid_t done = waitpid(m_pid, &status, WNOHANG);
        while (done == 0 && MillisecondsLeft(deadline) > 0) {
            usleep(10000);
            done = waitpid(m_pid, &status, WNOHANG);
        }
        if (done == 0) {
            m_result.timedOut = true;
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
        if (WIFEXITED(status))
            m_result.exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            m_result.exitCode = 128 + WTERMSIG(status);
        m_pid = -1;
    }
    return m_result;
}

CProcessResult RunProcess(const std::vector<std::string>& args, const std::vector<std::string>& env,
                          std::chrono::milliseconds timeout)
{
    CChildProcess child;
    if (!child.Start(args, env))
        return child.Finish(std::chrono::milliseconds(0));
    return child.Finish(timeout);
}

} // namespace zk::test
