#pragma once

#include <cstdint>
#include <string>

namespace zk {

// Temporary files of the image download: "BRS_", the process id in eight
// upper-case hexadecimal digits, "_" and a decimal counter, in the temporary
// folder.
constexpr const wchar_t* kTempFilePrefix = L"BRS_";
// The temporary folder's path must fit a buffer of this many characters.
constexpr std::size_t kMaxTempFolderPath = 260;
// Names tried before giving up.
constexpr unsigned kMaxTempNameAttempts = 32767;

constexpr std::uint32_t kTempPathFailedMessage = 40046;

// Picks a free name and creates the file at once, empty, readable and
// writable by this user only: the temporary folder is shared, and a name
// that is only picked could be taken by someone else before it is used.
// A name that exists is skipped for the next counter. Returns 0, or 40046
// when there is no temporary folder or no name could be had.
std::uint32_t MakeTempFileName(std::wstring& outPath);

} // namespace zk
