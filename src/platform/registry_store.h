#pragma once

#include "platform/result_code.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

// Value types of the store, with the system registry's numbers.
constexpr std::uint32_t REG_NONE = 0;
constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_EXPAND_SZ = 2;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;

// Access rights of an open key.
constexpr std::uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr std::uint32_t KEY_SET_VALUE = 0x0002;
constexpr std::uint32_t KEY_CREATE_SUB_KEY = 0x0004;
constexpr std::uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr std::uint32_t KEY_READ = 0x20019;
constexpr std::uint32_t KEY_WRITE = 0x20006;

// The trees of the store. Only the current user's tree is kept.
enum class CRegRoot
{
    CurrentUser,
};
constexpr CRegRoot HKEY_CURRENT_USER = CRegRoot::CurrentUser;

// A value as stored: its type and its raw data. String data is UTF-16
// (little-endian code units), normally with its terminating null, as the
// system registry keeps it, so that the readers' checks of size and
// terminator mean what they mean there.
struct CRegValue
{
    std::uint32_t m_type = REG_NONE;
    std::vector<std::uint8_t> m_data;

    bool operator==(const CRegValue&) const = default;
};

// A string value with its terminating null in the data.
CRegValue MakeStringValue(std::wstring_view text, std::uint32_t type = REG_SZ);
// A 32-bit value, little-endian.
CRegValue MakeDwordValue(std::uint32_t number);
// The UTF-16 code units of string data as wide text, up to the first null
// or the end; an odd last byte is ignored, a lone surrogate becomes U+FFFD.
std::wstring DecodeStringData(const std::vector<std::uint8_t>& data);
// The number of a REG_DWORD value of four bytes; false for any other value.
bool DecodeDwordData(const CRegValue& value, std::uint32_t& number);

// An open key of the store. Key paths are names joined by backslashes,
// compared without regard to case. The store keeps its tree in memory and
// reads its file again only when the file has changed since it was read or
// written (another process renamed a new one into place, or rewrote it).
// Every change is written to the store file at once, or at the end of the
// CRegBatch it is made in; the file is replaced whole (a new file, flushed,
// renamed over the old one), so a crash never leaves half a store.
//
// Results are 0 or a result code: a missing key or value is ENOENT, a key
// opened without the right for an operation EACCES, a path of more levels
// than the system registry holds (512) EINVAL, and a store file that
// is damaged EBADMSG (the file is then moved aside, see
// TakeDamagedRegistryFile, and the next change starts a new store).
class CRegKey
{
public:
    CRegKey() = default;
    ~CRegKey() { Close(); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Opens the key, creating it and any missing parent.
    HRESULT Create(CRegRoot root, std::wstring_view path, std::uint32_t access);
    HRESULT Create(const CRegKey& parent, std::wstring_view subkey, std::uint32_t access);
    // Opens an existing key.
    HRESULT Open(CRegRoot root, std::wstring_view path, std::uint32_t access);
    HRESULT Open(const CRegKey& parent, std::wstring_view subkey, std::uint32_t access);

    HRESULT QueryValue(std::wstring_view name, CRegValue& value) const;
    HRESULT SetValue(std::wstring_view name, const CRegValue& value);
    HRESULT DeleteValue(std::wstring_view name);

    void Close();
    bool IsOpen() const { return m_open; }
    const std::wstring& GetPath() const { return m_path; }

private:
    HRESULT OpenPath(CRegRoot root, std::wstring path, std::uint32_t access, bool create);
    // Checks the right, brings the store up to date under its lock and runs
    // the action on this key's node; a missing key is ENOENT.
    template <class TAction> HRESULT WithStoredKey(std::uint32_t right, TAction action) const;

    bool m_open = false;
    CRegRoot m_root = HKEY_CURRENT_USER;
    std::wstring m_path;
    std::uint32_t m_access = 0;
};

// Gathers the changes this thread makes while it is open into one write of
// the store file, so that saving many values costs one new file, one flush
// and one rename. Every key sees the changes at once; they reach the file
// when the outermost batch commits or ends. A write made by another thread
// meanwhile takes them along.
class CRegBatch
{
public:
    CRegBatch();
    CRegBatch(const CRegBatch&) = delete;
    CRegBatch& operator=(const CRegBatch&) = delete;
    // Commits if Commit was not called.
    ~CRegBatch();

    // Ends the batch and writes what it changed: S_OK when nothing needed
    // writing (or an outer batch will write it), else the write's result.
    // After a failed write the store reads its file again.
    HRESULT Commit();

private:
    bool m_open = true;
};

// What the store has done since the process started, so that tests can
// count its work: parses of the file, and writes (each one new file, one
// flush of it, one rename and one flush of its folder).
struct CRegStoreCounts
{
    std::uint64_t m_parses = 0;
    std::uint64_t m_writes = 0;
};
CRegStoreCounts GetRegistryStoreCounts();

// The store file: $XDG_CONFIG_HOME/Brindlewerk/Zarumatekit32/registry.xml.
std::wstring GetRegistryFilePath();

// Removes the temporary files a change killed half-way left beside the
// store file. Call it at start, while no other copy of the program runs.
void RemoveStaleRegistryFiles();

// Where a damaged store file was moved since the last call; empty if none.
std::wstring TakeDamagedRegistryFile();

} // namespace zk
