#include "platform/file_ops.h"

#include "platform/text_convert.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zk {
namespace {

constexpr int kOpCount = 3;
constexpr std::size_t kCopyBufferSize = 64 * 1024;
// mkostemp's six letters and digits after the name and a dot.
constexpr std::size_t kTempSuffixLength = 6;
constexpr std::uint32_t kPermissionBits = 07777;

std::mutex g_faultLock;
HRESULT g_faults[kOpCount] = {};

HRESULT TakeFault(CFileOp op)
{
    std::lock_guard lock(g_faultLock);
    HRESULT fault = g_faults[static_cast<int>(op)];
    g_faults[static_cast<int>(op)] = S_OK;
    return fault;
}

HRESULT LastError()
{
    return HresultFromErrno(errno);
}

// Closes a descriptor when it goes out of scope.
class CFd
{
public:
    explicit CFd(int fd = -1) : m_fd(fd) {}
    ~CFd() { Close(); }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd)
    {
        Close();
        m_fd = fd;
    }
    // Closing reports errors of delayed writes, so its result counts.
    bool Close()
    {
        if (m_fd < 0)
            return true;
        int result = ::close(m_fd);
        m_fd = -1;
        return result == 0;
    }

private:
    int m_fd;
};

HRESULT NotRegular(const struct stat& info)
{
    return S_ISDIR(info.st_mode) ? HresultFromErrno(EISDIR) : E_NOT_REGULAR_FILE;
}

// Opens a regular file only. A FIFO would wait in open() for its other end
// (for ever, if nobody comes), and opening a device may act on it, so the
// path is looked at first, opened without waiting, and looked at once more
// through the descriptor, as something else may have been put there.
HRESULT OpenRegular(const std::string& path, int flags, CFd& fd, struct stat* opened = nullptr,
                    mode_t mode = 0)
{
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode))
            return NotRegular(info);
    } else if (errno != ENOENT || !(flags & O_CREAT)) {
        return LastError();
    }
    int got;
    do {
        got = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return errno == ENXIO ? E_NOT_REGULAR_FILE : LastError();
    CFd candidate(got);
    if (::fstat(candidate.Get(), &info) != 0)
        return LastError();
    if (!S_ISREG(info.st_mode))
        return NotRegular(info);
    // Reads and writes of a regular file never wait anyway; the flag is
    // cleared so that nothing later depends on it.
    int status = ::fcntl(candidate.Get(), F_GETFL);
    if (status >= 0)
        ::fcntl(candidate.Get(), F_SETFL, status & ~O_NONBLOCK);
    if (opened)
        *opened = info;
    fd.Reset(candidate.Release());
    return S_OK;
}

std::wstring JoinFolderAndName(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty() || folder.back() == L'/')
        return folder + name;
    return folder + L"/" + name;
}

bool IsTempSuffix(std::string_view suffix)
{
    if (suffix.size() != kTempSuffixLength)
        return false;
    for (char c : suffix)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// A rename is only durable once its folder is flushed; failure to flush a
// folder is not worth failing a finished rename for.
void SyncFolder(const std::string& folder)
{
    CFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.IsValid())
        ::fsync(fd.Get());
}

// A new, exclusively created file beside the target; its name is returned.
int CreateBeside(const std::string& target, std::string& name)
{
    name = target + ".XXXXXX";
    return ::mkostemp(name.data(), O_CLOEXEC);
}

// Fills a fresh file beside the target by `fill`, flushes it and renames it
// over the target. The new file is removed on any failure.
template <class TFill> HRESULT ReplaceBeside(const std::string& target, TFill fill)
{
    std::string temp;
    CFd fd(CreateBeside(target, temp));
    if (!fd.IsValid())
        return LastError();
    HRESULT result = fill(fd.Get());
    if (Succeeded(result) && ::fsync(fd.Get()) != 0)
        result = LastError();
    if (!fd.Close() && Succeeded(result))
        result = LastError();
    if (Succeeded(result) && ::rename(temp.c_str(), target.c_str()) != 0)
        result = LastError();
    if (Failed(result)) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return result;
    }
    SyncFolder(FolderOf(target));
    return S_OK;
}

} // namespace

bool PathExists(const std::wstring& path)
{
    struct stat info;
    return ::lstat(WideToUtf8(path).c_str(), &info) == 0;
}

HRESULT CreateFolderTree(const std::wstring& path)
{
    std::string folder = WideToUtf8(path);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty())
        return HresultFromErrno(ENOENT);
    // Walk down from the top, creating what is missing.
    std::size_t pos = folder[0] == '/' ? 1 : 0;
    for (;;) {
        std::size_t slash = folder.find('/', pos);
        std::string part = folder.substr(0, slash);
        if (!part.empty() && part.back() != '/' && ::mkdir(part.c_str(), 0777) != 0 &&
            errno != EEXIST)
            return LastError();
        if (slash == std::string::npos)
            break;
        pos = slash + 1;
    }
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0)
        return LastError();
    if (!S_ISDIR(info.st_mode))
        return HresultFromErrno(ENOTDIR);
    return S_OK;
}

HRESULT CheckRegularFile(const std::wstring& path)
{
    struct stat info;
    if (::stat(WideToUtf8(path).c_str(), &info) != 0)
        return LastError();
    return S_ISREG(info.st_mode) ? S_OK : NotRegular(info);
}

HRESULT QueryFileSize(const std::wstring& path, std::uint64_t& size)
{
    if (HRESULT fault = TakeFault(CFileOp::Size))
        return fault;
    CFd fd;
    struct stat info;
    if (HRESULT result = OpenRegular(WideToUtf8(path), O_RDONLY, fd, &info); Failed(result))
        return result;
    size = static_cast<std::uint64_t>(info.st_size);
    return S_OK;
}

HRESULT QueryFileMode(const std::wstring& path, std::uint32_t& mode)
{
    CFd fd;
    struct stat info;
    if (HRESULT result = OpenRegular(WideToUtf8(path), O_RDONLY, fd, &info); Failed(result))
        return result;
    mode = static_cast<std::uint32_t>(info.st_mode) & kPermissionBits;
    return S_OK;
}

HRESULT SetFileMode(const std::wstring& path, std::uint32_t mode)
{
    CFd fd;
    if (HRESULT result = OpenRegular(WideToUtf8(path), O_RDONLY | O_NOFOLLOW, fd); Failed(result))
        return result;
    if (::fchmod(fd.Get(), static_cast<mode_t>(mode & kPermissionBits)) != 0)
        return LastError();
    return S_OK;
}

namespace {

CFileStamp StampOf(const struct stat& info)
{
    constexpr std::int64_t kNsPerSecond = 1000000000;
    CFileStamp stamp;
    stamp.m_device = static_cast<std::uint64_t>(info.st_dev);
    stamp.m_inode = static_cast<std::uint64_t>(info.st_ino);
    stamp.m_size = static_cast<std::uint64_t>(info.st_size);
    stamp.m_modifiedNs =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * kNsPerSecond + info.st_mtim.tv_nsec;
    return stamp;
}

} // namespace

HRESULT QueryFileStamp(const std::wstring& path, CFileStamp& stamp)
{
    struct stat info;
    if (::stat(WideToUtf8(path).c_str(), &info) != 0)
        return LastError();
    if (!S_ISREG(info.st_mode))
        return NotRegular(info);
    stamp = StampOf(info);
    return S_OK;
}

HRESULT ReadWholeFile(const std::wstring& path, std::string& data)
{
    CFileStamp ignored;
    return ReadWholeFile(path, data, ignored);
}

HRESULT ReadWholeFile(const std::wstring& path, std::string& data, CFileStamp& stamp)
{
    CFd fd;
    struct stat info;
    if (HRESULT result = OpenRegular(WideToUtf8(path), O_RDONLY, fd, &info); Failed(result))
        return result;
    // Taken before the read, so that a change during it makes the stamp
    // older than the content, never newer.
    stamp = StampOf(info);
    std::string content;
    char buffer[kCopyBufferSize];
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return LastError();
        }
        if (got == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    data = std::move(content);
    return S_OK;
}

HRESULT WriteWholeFile(const std::wstring& path, std::string_view data)
{
    CFd fd;
    if (HRESULT result =
            OpenRegular(WideToUtf8(path), O_WRONLY | O_CREAT | O_TRUNC, fd, nullptr, 0666);
        Failed(result))
        return result;
    if (!WriteAll(fd.Get(), data.data(), data.size()) || ::fsync(fd.Get()) != 0)
        return LastError();
    if (!fd.Close())
        return LastError();
    return S_OK;
}

HRESULT WriteFileAtomically(const std::wstring& path, std::string_view data)
{
    CFileStamp ignored;
    return WriteFileAtomically(path, data, ignored);
}

HRESULT WriteFileAtomically(const std::wstring& path, std::string_view data, CFileStamp& written)
{
    return ReplaceBeside(WideToUtf8(path), [data, &written](int fd) {
        if (!WriteAll(fd, data.data(), data.size()))
            return LastError();
        // The rename that follows keeps inode, size and modification time.
        struct stat info;
        if (::fstat(fd, &info) != 0)
            return LastError();
        written = StampOf(info);
        return S_OK;
    });
}

HRESULT CopyFileReplacing(const std::wstring& source, const std::wstring& target)
{
    if (HRESULT fault = TakeFault(CFileOp::Copy))
        return fault;
    CFd in;
    struct stat info;
    if (HRESULT result = OpenRegular(WideToUtf8(source), O_RDONLY, in, &info); Failed(result))
        return result;
    return ReplaceBeside(WideToUtf8(target), [&](int out) {
        // The copy keeps the source's permissions, as a copied file does.
        if (::fchmod(out, info.st_mode & 0777) != 0)
            return LastError();
        char buffer[kCopyBufferSize];
        for (;;) {
            ssize_t got = ::read(in.Get(), buffer, sizeof buffer);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return LastError();
            }
            if (got == 0)
                return S_OK;
            if (!WriteAll(out, buffer, static_cast<std::size_t>(got)))
                return LastError();
        }
    });
}

HRESULT MoveFileReplacing(const std::wstring& source, const std::wstring& target)
{
    if (HRESULT fault = TakeFault(CFileOp::Move))
        return fault;
    std::string from = WideToUtf8(source);
    std::string to = WideToUtf8(target);
    if (::rename(from.c_str(), to.c_str()) == 0) {
        SyncFolder(FolderOf(to));
        return S_OK;
    }
    if (errno != EXDEV)
        return LastError();
    if (HRESULT result = CopyFileReplacing(source, target); Failed(result))
        return result;
    ::unlink(from.c_str());
    return S_OK;
}

HRESULT DeleteFileIfExists(const std::wstring& path)
{
    if (::unlink(WideToUtf8(path).c_str()) != 0 && errno != ENOENT)
        return LastError();
    return S_OK;
}

HRESULT ListRegularFiles(const std::wstring& folder, std::vector<std::wstring>& names)
{
    std::string path = WideToUtf8(folder);
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return LastError();
    std::vector<std::wstring> found;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info;
        if (::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode))
            found.push_back(Utf8ToWide(name));
    }
    ::closedir(dir);
    names = std::move(found);
    return S_OK;
}

std::size_t RemoveStaleTempFiles(const std::wstring& target)
{
    std::size_t slash = target.rfind(L'/');
    std::wstring folder = slash == std::wstring::npos ? L"." : target.substr(0, slash + 1);
    std::string prefix =
        WideToUtf8(slash == std::wstring::npos ? target : target.substr(slash + 1)) + ".";
    std::vector<std::wstring> names;
    if (Failed(ListRegularFiles(folder, names)))
        return 0;
    std::size_t removed = 0;
    for (const std::wstring& name : names) {
        std::string utf8 = WideToUtf8(name);
        if (utf8.size() <= prefix.size() || utf8.compare(0, prefix.size(), prefix) != 0 ||
            !IsTempSuffix(std::string_view(utf8).substr(prefix.size())))
            continue;
        if (Succeeded(DeleteFileIfExists(JoinFolderAndName(folder, name))))
            ++removed;
    }
    return removed;
}

void InjectFileFailure(CFileOp op, HRESULT code)
{
    std::lock_guard lock(g_faultLock);
    g_faults[static_cast<int>(op)] = code;
}

void ClearFileFailures()
{
    std::lock_guard lock(g_faultLock);
    for (HRESULT& fault : g_faults)
        fault = S_OK;
}

} // namespace zk
