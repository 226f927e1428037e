#include "app/list_rescue.h"

#include "base/path.h"
#include "friends/zarumate_list_file.h"
#include "platform/file_ops.h"
#include "platform/shell_files.h"
#include "platform/system_clock.h"
#include "platform/temp_file.h"

#include <cwchar>

namespace zk {

namespace {

constexpr std::uint32_t kErrFolder = 2013;

std::wstring StampedName(const SYSTEMTIME& utc, int attempt)
{
    SYSTEMTIME local;
    if (!UtcToLocalTime(utc, local))
        local = utc;
    wchar_t stamp[64];
    std::swprintf(stamp, std::size(stamp), L"%04u%02u%02u-%02u%02u%02u",
                  static_cast<unsigned>(local.wYear), static_cast<unsigned>(local.wMonth),
                  static_cast<unsigned>(local.wDay), static_cast<unsigned>(local.wHour),
                  static_cast<unsigned>(local.wMinute), static_cast<unsigned>(local.wSecond));
    std::wstring name = L"DefaultList-";
    name += stamp;
    if (attempt > 1)
        name += L"-" + std::to_wstring(attempt);
    return name + L".config";
}

} // namespace

std::wstring MakeSideListName(const std::wstring& folder, const SYSTEMTIME& utc)
{
    for (int attempt = 1; attempt <= kMaxSideListTries; ++attempt) {
        std::wstring name = StampedName(utc, attempt);
        if (!PathExists(JoinPath(folder, name)))
            return name;
    }
    return {};
}

bool SaveListAside(const CZarumateDataList& list, const std::wstring& name, std::wstring& path,
                   CSimpleErr& err)
{
    if (std::wstring state = GetUserStateFolder(); !state.empty()) {
        std::wstring folder = JoinPath(state, kRescueFolderName);
        std::wstring file = MakeSideListName(folder, GetSystemTimeUtc());
        if (file.empty())
            file = name;
        if (Succeeded(CreateFolderTree(folder)) && !PathExists(JoinPath(folder, file)) &&
            SaveListIn(folder, file, list, err)) {
            path = JoinPath(folder, file);
            return true;
        }
    }
    // The temporary folder is shared: a fresh folder of our own, and in it a
    // file that did not exist before.
    std::wstring folder;
    if (Failed(CreatePrivateTempFolder(kRescueTempPrefix, folder))) {
        err.SetErr(kErrFolder, GetTempFolder());
        return false;
    }
    std::wstring file = JoinPath(folder, name);
    if (Failed(CreateFileExclusive(file))) {
        err.SetErr(kErrFolder, folder);
        return false;
    }
    if (!SaveListIn(folder, name, list, err))
        return false;
    path = file;
    return true;
}

} // namespace zk
