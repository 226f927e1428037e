#pragma once

#include "base/simple_err.h"
#include "friends/zarumate_data_list.h"

#include <string>

namespace zk {

// Files of the friend list in the data folder.
constexpr const wchar_t* kDefaultListName = L"DefaultList.config";
constexpr const wchar_t* kTempListName = L"tmpList.config";
constexpr const wchar_t* kBackupListName = L"BackupList.config";

// Creates a folder with all missing parents; a folder already there is
// success. Returns 0 or the failure's result code.
HRESULT EnsureFolder(const std::wstring& path);

// Appends the records of the named list file in the data folder to the list.
// A missing file is an empty list; a file that cannot be read or is no list
// fails with 2011 and leaves the list as it was; so does a folder, FIFO or
// device in its place, which is never waited on. The detail names the
// system's reason after the path when there is one.
bool LoadList(const std::wstring& name, CZarumateDataList& list, CSimpleErr& err);

// Writes the list to the named list file in the data folder. The old file is
// replaced only by a complete new one, and kept as the backup first when the
// new file is smaller. An existing list file keeps its permissions; one
// that is no regular file is not replaced (2010, with the reason).
bool SaveList(const std::wstring& name, const CZarumateDataList& list, CSimpleErr& err);
// The same in another folder (a list kept aside when the data folder cannot
// take it).
bool SaveListIn(const std::wstring& folder, const std::wstring& name, const CZarumateDataList& list,
                CSimpleErr& err);

// Removes the temporary files a save killed half-way left in the data
// folder. Call it at start, before any save of this run can be under way.
void RemoveStaleListFiles();

} // namespace zk
