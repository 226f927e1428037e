#pragma once

#include "platform/result_code.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk {

// The id of this process.
std::uint32_t GetCurrentProcessId();

// Creates a new, empty file that only this user can read and write (mode
// 0600). The temporary folder is shared, so the file is created exclusively
// and never through a symbolic link: an existing name fails with
// HresultFromErrno(EEXIST) and leaves that file alone.
HRESULT CreateFileExclusive(const std::wstring& path);

// Makes a new folder in the temporary folder that only this user can enter
// (mode 0700), named after the prefix with a random ending that no other
// folder has; answers its path.
HRESULT CreatePrivateTempFolder(const std::wstring& prefix, std::wstring& path);

// A file opened for writing from its start; closed by Close or the
// destructor. It opens only a file that exists and is not a symbolic link.
class COutputFile
{
public:
    COutputFile() = default;
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Opens the file and cuts it to zero length.
    HRESULT Open(const std::wstring& path);
    // Writes all bytes or fails.
    HRESULT Write(const void* data, std::size_t size);
    // Closing reports errors of delayed writes, so its result counts.
    HRESULT Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Copies the content of a file into an existing file (one made with
// CreateFileExclusive), replacing what it held.
HRESULT CopyFileInto(const std::wstring& source, const std::wstring& target);

} // namespace zk
