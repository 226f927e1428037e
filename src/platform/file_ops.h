#pragma once

#include "platform/result_code.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

// True when anything (a file, a folder, a link) is at the path.
bool PathExists(const std::wstring& path);

// Creates the folder with every missing parent. A folder that is already
// there counts as success; a file in its place does not.
HRESULT CreateFolderTree(const std::wstring& path);

// Every operation here that opens a file opens only a regular file (a link
// to one is followed), and never waits in the opening: a folder, FIFO,
// device or socket in its place fails with E_NOT_REGULAR_FILE (a folder
// read or copied from with EISDIR), however late it was put there.

// S_OK when a regular file is at the path; ENOENT when nothing is there.
HRESULT CheckRegularFile(const std::wstring& path);

// The 64-bit size of a regular file; a folder is no file.
HRESULT QueryFileSize(const std::wstring& path, std::uint64_t& size);

// The permission bits of a regular file, and setting them.
HRESULT QueryFileMode(const std::wstring& path, std::uint32_t& mode);
HRESULT SetFileMode(const std::wstring& path, std::uint32_t mode);

// What tells one version of a file from another: a file renamed into place
// has a new inode, one rewritten in place a new size or modification time.
struct CFileStamp
{
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
    std::uint64_t m_size = 0;
    std::int64_t m_modifiedNs = 0;

    bool operator==(const CFileStamp&) const = default;
};

// The stamp of the regular file at the path, found without opening it.
HRESULT QueryFileStamp(const std::wstring& path, CFileStamp& stamp);

// Reads a whole file.
HRESULT ReadWholeFile(const std::wstring& path, std::string& data);
// Reads a whole file and answers the stamp of the file read.
HRESULT ReadWholeFile(const std::wstring& path, std::string& data, CFileStamp& stamp);

// Writes a whole file in place (created or truncated) and flushes it to disk.
HRESULT WriteWholeFile(const std::wstring& path, std::string_view data);

// Replaces the file at the path by the data without a moment in which it is
// cut short: a new file beside it, flushed, then renamed over it.
HRESULT WriteFileAtomically(const std::wstring& path, std::string_view data);
// The same, answering the stamp of the file it put in place.
HRESULT WriteFileAtomically(const std::wstring& path, std::string_view data, CFileStamp& written);

// Copies a file over the target, written beside the target and renamed over
// it, so that a failed copy leaves the old target whole.
HRESULT CopyFileReplacing(const std::wstring& source, const std::wstring& target);

// Moves a file onto the target, replacing it. Across file systems the file
// is copied beside the target, renamed over it and then deleted; if only the
// delete fails the move still counts as done.
HRESULT MoveFileReplacing(const std::wstring& source, const std::wstring& target);

// Deletes a file; a missing file counts as success.
HRESULT DeleteFileIfExists(const std::wstring& path);

// Removes what a write killed half-way left beside the target: the regular
// files named like the new files the replacing writes above make (the
// target's name, ".", six letters or digits). Call it only when no write of
// this target can be under way. Answers how many were removed.
std::size_t RemoveStaleTempFiles(const std::wstring& target);

// The names of the regular files directly in a folder (links not followed).
HRESULT ListRegularFiles(const std::wstring& folder, std::vector<std::wstring>& names);

// Test seam: the next call of the operation fails with the code without
// touching any file.
enum class CFileOp
{
    Size,
    Copy,
    Move,
};
void InjectFileFailure(CFileOp op, HRESULT code);
void ClearFileFailures();

} // namespace zk
