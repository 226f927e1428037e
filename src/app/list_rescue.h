#pragma once

#include "base/simple_err.h"
#include "friends/zarumate_data_list.h"
#include "platform/system_time.h"

#include <string>

namespace zk {

// Where the friend list goes when its usual file must not or cannot take it.

// The folder of lists kept when the data folder fails, under the user's
// state folder.
constexpr const wchar_t* kRescueFolderName = L"zarumatekit";
// A private folder in the temporary folder is named with this prefix.
constexpr const wchar_t* kRescueTempPrefix = L"zarumatekit-";
// So many names are tried beside the usual list before giving up.
constexpr int kMaxSideListTries = 100;

// A new name for the run's list beside the usual one, from the local time:
// "DefaultList-YYYYMMDD-HHMMSS.config", with "-2", "-3", ... added when that
// name is taken in the folder. Empty when every try is taken.
std::wstring MakeSideListName(const std::wstring& folder, const SYSTEMTIME& utc);

// Writes the list to a place likely to work when the data folder failed:
// the user's state folder, else a new folder in the temporary folder that
// only this user can enter, holding a file made exclusively (never a fixed
// name in a shared folder). Answers the file's path; the reason when both
// fail.
bool SaveListAside(const CZarumateDataList& list, const std::wstring& name, std::wstring& path,
                   CSimpleErr& err);

} // namespace zk
