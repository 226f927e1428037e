#include "fetch/temp_file_name.h"

#include "base/path.h"
#include "platform/shell_files.h"
#include "platform/temp_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace zk {
namespace {

std::atomic<unsigned> g_counter{0};

std::wstring Prefix()
{
    wchar_t pid[16];
    std::swprintf(pid, sizeof pid / sizeof pid[0], L"%08X", GetCurrentProcessId());
    return std::wstring(kTempFilePrefix) + pid + L"_";
}

} // namespace

std::uint32_t MakeTempFileName(std::wstring& outPath)
{
    std::wstring folder = GetTempFolder();
    if (folder.empty() || folder.size() > kMaxTempFolderPath)
        return kTempPathFailedMessage;
    std::wstring prefix = JoinPath(folder, Prefix());
    for (unsigned attempt = 0; attempt < kMaxTempNameAttempts; ++attempt) {
        std::wstring path = prefix + std::to_wstring(g_counter.fetch_add(1) + 1);
        HRESULT hr = CreateFileExclusive(path);
        if (Succeeded(hr)) {
            outPath = path;
            return 0;
        }
        if (hr != HresultFromErrno(EEXIST))
            return kTempPathFailedMessage;
    }
    return kTempPathFailedMessage;
}

} // namespace zk
