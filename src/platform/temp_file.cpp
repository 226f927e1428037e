#include "platform/temp_file.h"

#include "platform/shell_files.h"
#include "platform/text_convert.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zk {
namespace {

constexpr mode_t kPrivateMode = 0600;
constexpr std::size_t kCopyBufferSize = 64 * 1024;

HRESULT LastError()
{
    return HresultFromErrno(errno);
}

} // namespace

std::uint32_t GetCurrentProcessId()
{
    return static_cast<std::uint32_t>(::getpid());
}

HRESULT CreateFileExclusive(const std::wstring& path)
{
    std::string name = WideToUtf8(path);
    int fd =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateMode);
    if (fd < 0)
        return LastError();
    if (::close(fd) != 0)
        return LastError();
    return S_OK;
}

HRESULT CreatePrivateTempFolder(const std::wstring& prefix, std::wstring& path)
{
    // mkdtemp chooses the ending and creates the folder with mode 0700 in
    // one step, so nobody else can have put anything there first.
    std::string name = WideToUtf8(GetTempFolder() + L"/" + prefix) + "XXXXXX";
    if (!::mkdtemp(name.data()))
        return LastError();
    path = Utf8ToWide(name);
    return S_OK;
}

COutputFile::~COutputFile()
{
    Close();
}

HRESULT COutputFile::Open(const std::wstring& path)
{
    Close();
    std::string name = WideToUtf8(path);
    int fd;
    do {
        fd = ::open(name.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return LastError();
    m_fd = fd;
    return S_OK;
}

HRESULT COutputFile::Write(const void* data, std::size_t size)
{
    if (m_fd < 0)
        return HresultFromErrno(EBADF);
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = ::write(m_fd, p, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return LastError();
        }
        p += written;
        size -= static_cast<std::size_t>(written);
    }
    return S_OK;
}

HRESULT COutputFile::Close()
{
    if (m_fd < 0)
        return S_OK;
    int result = ::close(m_fd);
    m_fd = -1;
    return result == 0 ? S_OK : LastError();
}

HRESULT CopyFileInto(const std::wstring& source, const std::wstring& target)
{
    std::string name = WideToUtf8(source);
    int in = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return LastError();
    COutputFile out;
    HRESULT hr = out.Open(target);
    char buffer[kCopyBufferSize];
    while (Succeeded(hr)) {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            hr = LastError();
            break;
        }
        if (got == 0)
            break;
        hr = out.Write(buffer, static_cast<std::size_t>(got));
    }
    ::close(in);
    HRESULT closed = out.Close();
    return Failed(hr) ? hr : closed;
}

} // namespace zk
