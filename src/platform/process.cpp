#include "platform/process.h"

#include "platform/text_convert.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zk {

namespace {

// The search path a shell uses when PATH is not set at all.
constexpr const char* kDefaultSearchPath = "/usr/local/bin:/usr/bin:/bin";
// The exit code of a child that could not run what it was asked to.
constexpr int kExecFailedExit = 127;

bool IsExecutableFile(const std::string& path)
{
    struct stat info
    {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string MakeAbsolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? std::string() : absolute.string();
}

std::string FindProgramUtf8(const std::string& name)
{
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos) {
        std::string path = MakeAbsolute(name);
        return !path.empty() && IsExecutableFile(path) ? path : std::string();
    }
    const char* searchPath = std::getenv("PATH");
    std::string_view folders = searchPath ? searchPath : kDefaultSearchPath;
    while (true) {
        std::size_t colon = folders.find(':');
        std::string_view folder = folders.substr(0, colon);
        // An empty entry stands for the current folder, as in a shell.
        std::string candidate = folder.empty() ? name : std::string(folder) + "/" + name;
        candidate = MakeAbsolute(candidate);
        if (!candidate.empty() && IsExecutableFile(candidate))
            return candidate;
        if (colon == std::string_view::npos)
            return {};
        folders.remove_prefix(colon + 1);
    }
}

// The argument vector is made before forking: between fork and exec only
// calls that are safe in a copy of a threaded process may run.
struct CArgv
{
    CArgv(const std::wstring& program, const std::vector<std::wstring>& args)
    {
        strings.push_back(WideToUtf8(program));
        for (const std::wstring& arg : args)
            strings.push_back(WideToUtf8(arg));
        for (std::string& text : strings)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }

    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

// In the new process, just before exec: a clean signal state (the program
// may ignore or block signals the new one needs) and no descriptor of ours
// left open across exec.
void PrepareChild()
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
}

// Tells the waiting parent through the pipe why exec failed, and ends.
[[noreturn]] void ReportAndExit(int reportFd, int error)
{
    ssize_t written = ::write(reportFd, &error, sizeof(error));
    (void)written;
    ::_exit(kExecFailedExit);
}

[[noreturn]] void ExecChild(const std::string& path, CArgv& argv, int reportFd,
                            char** envp = environ)
{
    PrepareChild();
    ::execve(path.c_str(), argv.pointers.data(), envp);
    ReportAndExit(reportFd, errno);
}

// Reads the error a child reported before exec, or 0 when exec succeeded
// (the pipe closed without a word).
int ReadChildReport(int fd)
{
    int error = 0;
    ssize_t got;
    do {
        got = ::read(fd, &error, sizeof(error));
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    return got == static_cast<ssize_t>(sizeof(error)) ? error : 0;
}

void WaitForChild(pid_t pid, int* status)
{
    while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {
    }
}

int ExitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

std::wstring FindProgram(const std::wstring& name)
{
    return Utf8ToWide(FindProgramUtf8(WideToUtf8(name)));
}

namespace {

// Opens the pipe through which a child reports a failed exec, then forks.
// Answers 0 or the errno; in the child only the pipe's writing end is open.
int ForkReporting(int report[2], pid_t& child)
{
    if (::pipe2(report, O_CLOEXEC) != 0)
        return errno;
    child = ::fork();
    if (child < 0) {
        int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return error;
    }
    if (child == 0)
        ::close(report[0]);
    return 0;
}

} // namespace

// This process's environment with the given NAME=value entries in place of
// their names' own, made before the fork: the child may not allocate.
struct CEnvironment
{
    explicit CEnvironment(const std::vector<std::string>& overrides) : strings(overrides)
    {
        for (char** entry = environ; *entry; ++entry) {
            std::string_view text(*entry);
            bool replaced = false;
            for (const std::string& o : overrides) {
                std::size_t equals = o.find('=');
                if (equals != std::string::npos && text.size() > equals &&
                    text.substr(0, equals + 1) == std::string_view(o).substr(0, equals + 1))
                    replaced = true;
            }
            if (!replaced)
                strings.emplace_back(text);
        }
        for (std::string& text : strings)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }

    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

HRESULT StartDetachedProcess(const std::wstring& program, const std::vector<std::wstring>& args)
{
    return StartDetachedProcess(program, args, {});
}

HRESULT StartDetachedProcess(const std::wstring& program, const std::vector<std::wstring>& args,
                             const std::vector<std::string>& environment)
{
    CEnvironment env(environment);
    std::string path = FindProgramUtf8(WideToUtf8(program));
    if (path.empty())
        return HresultFromErrno(ENOENT);
    CArgv argv(program, args);
    // Two forks: the middle process ends at once and is reaped here, so the
    // program is adopted by the system and never becomes a zombie of ours;
    // other children of this process are not touched.
    int report[2];
    pid_t middle = -1;
    if (int error = ForkReporting(report, middle))
        return HresultFromErrno(error);
    if (middle == 0) {
        pid_t grandchild = ::fork();
        if (grandchild < 0)
            ReportAndExit(report[1], errno);
        if (grandchild == 0) {
            // A session of its own: closing the program's terminal or its
            // process group does not take the browser along.
            ::setsid();
            ExecChild(path, argv, report[1], env.pointers.data());
        }
        ::_exit(0);
    }
    ::close(report[1]);
    WaitForChild(middle, nullptr);
    int error = ReadChildReport(report[0]);
    return error == 0 ? S_OK : HresultFromErrno(error);
}

HRESULT StartChildProcess(const std::wstring& program, const std::vector<std::wstring>& args,
                          pid_t& pid, const std::vector<std::string>& environment)
{
    pid = -1;
    CEnvironment env(environment);
    std::string path = FindProgramUtf8(WideToUtf8(program));
    if (path.empty())
        return HresultFromErrno(ENOENT);
    CArgv argv(program, args);
    int report[2];
    pid_t child = -1;
    if (int error = ForkReporting(report, child))
        return HresultFromErrno(error);
    if (child == 0)
        ExecChild(path, argv, report[1], env.pointers.data());
    ::close(report[1]);
    int error = ReadChildReport(report[0]);
    if (error != 0) {
        WaitForChild(child, nullptr);
        return HresultFromErrno(error);
    }
    pid = child;
    return S_OK;
}

bool PollProcess(pid_t pid, int& exitCode)
{
    int status = 0;
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == 0 || (done < 0 && errno == EINTR))
        return false;
    exitCode = done < 0 ? -1 : ExitCodeOf(status);
    return true;
}

} // namespace zk
