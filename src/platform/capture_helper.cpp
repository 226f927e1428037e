#include "platform/capture_helper.h"

#include "platform/capture_helper_exit.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zk {
namespace {

// One read takes what a full pipe holds.
constexpr std::size_t kReadBytes = 1024 * 1024;
// The helper's report of a failure is one line; more is not read.
constexpr std::size_t kReportBytes = 4096;

bool IsRegularFile(const std::string& path)
{
    struct stat info
    {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The errno in the helper's report: "...: <text> (errno N)".
int ReportedErrno(const std::string& report)
{
    std::size_t at = report.rfind("(errno ");
    if (at == std::string::npos)
        return 0;
    return std::atoi(report.c_str() + at + 7);
}

} // namespace

std::string CCaptureHelper::Find()
{
    std::string beside;
    char self[4096];
    ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string path(self, static_cast<std::size_t>(length));
        std::size_t slash = path.rfind('/');
        if (slash != std::string::npos)
            beside = path.substr(0, slash + 1) + capture_helper::kProgramName;
    }
    if (!beside.empty() && IsRegularFile(beside))
        return beside;
    return std::string(ZK_INSTALLED_BINDIR) + "/" + capture_helper::kProgramName;
}

int CCaptureHelper::Start(const std::string& path, const std::string& adapter)
{
    Stop();
    int output[2];
    int errors[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return errno;
    if (::pipe2(errors, O_CLOEXEC) != 0) {
        int err = errno;
        ::close(output[0]);
        ::close(output[1]);
        return err;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
    // The helper starts with every signal at its default and none blocked
    // (the probe blocks SIGINT and SIGTERM in all its threads), in a
    // process group of its own: a Ctrl-C at the terminal reaches this
    // process, which then stops the helper as it stops any capture.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETPGROUP);

    std::string program = path;
    std::string option = "--adapter";
    std::string name = adapter;
    char* argv[] = {program.data(), option.data(), name.data(), nullptr};
    // An empty environment: the helper clears its own anyway.
    char* envp[] = {nullptr};
    pid_t pid = -1;
    int err = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(output[1]);
    ::close(errors[1]);
    if (err != 0) {
        ::close(output[0]);
        ::close(errors[0]);
        return err;
    }
    m_pid = pid;
    m_output = output[0];
    m_errors = errors[0];
    m_reader.Reset();
    return 0;
}

int CCaptureHelper::Read(int timeoutMs, CPcapngReader::CHandler& handler, bool& ended)
{
    ended = false;
    if (m_output < 0) {
        ended = true;
        return 0;
    }
    pollfd ready{m_output, POLLIN, 0};
    int result = ::poll(&ready, 1, timeoutMs);
    if (result < 0)
        return errno == EINTR ? 0 : errno;
    if (result == 0)
        return 0;
    if (m_buffer.size() < kReadBytes)
        m_buffer.resize(kReadBytes);
    ssize_t got = ::read(m_output, m_buffer.data(), m_buffer.size());
    if (got < 0)
        return errno == EINTR || errno == EAGAIN ? 0 : errno;
    if (got == 0) {
        ended = true;
        return 0;
    }
    return m_reader.Feed(m_buffer.data(), static_cast<std::size_t>(got), handler) ? 0 : EPROTO;
}

CCaptureHelper::CEnd CCaptureHelper::End()
{
    CEnd end;
    if (m_pid <= 0)
        return end;
    // The output has ended, so the helper has closed it or is gone; its
    // report is complete once its stderr ends too.
    char buffer[512];
    while (m_errors >= 0 && end.report.size() < kReportBytes) {
        ssize_t got = ::read(m_errors, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        end.report.append(buffer, static_cast<std::size_t>(got));
    }
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    end.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    end.err = ReportedErrno(end.report);
    CloseAll();
    return end;
}

void CCaptureHelper::Stop()
{
    if (m_pid > 0) {
        // Closing the output alone ends the helper at its next look; the
        // signal ends it at once.
        CloseAll();
        ::kill(m_pid, SIGTERM);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    CloseAll();
}

void CCaptureHelper::CloseAll()
{
    if (m_output >= 0)
        ::close(m_output);
    if (m_errors >= 0)
        ::close(m_errors);
    m_output = -1;
    m_errors = -1;
}

} // namespace zk
