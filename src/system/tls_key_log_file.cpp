#include "system/tls_key_log_file.h"

#include "platform/text_convert.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zk {
namespace {

constexpr const char* kFolderName = "zarumatekit";
constexpr const char* kFileName = "tls-keys.log";
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

} // namespace

std::wstring FindTlsKeyLogFile(const std::wstring& settingPath)
{
    if (const char* named = std::getenv(kTlsKeyLogVariable); named && *named)
        return Utf8ToWide(named);
    if (!settingPath.empty())
        return settingPath;
    return OwnTlsKeyLogFile();
}

std::wstring OwnTlsKeyLogFile()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || runtime[0] != '/')
        return {};
    std::string folder = std::string(runtime) + "/" + kFolderName;
    if (mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST)
        return {};
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
        return {};
    // A folder made earlier with a wider mode is narrowed.
    if ((info.st_mode & 0777) != kFolderMode && chmod(folder.c_str(), kFolderMode) != 0)
        return {};
    std::string file = folder + "/" + kFileName;
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0)
        return {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              ((info.st_mode & 0777) == kFileMode || fchmod(fd, kFileMode) == 0);
    close(fd);
    return ok ? Utf8ToWide(file) : std::wstring();
}

} // namespace zk
