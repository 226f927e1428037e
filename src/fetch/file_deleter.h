#pragma once

#include <string>

namespace zk {

// Deletes a named file when it goes out of scope, unless its name was
// cleared first: a file that is handed on is disarmed with an empty path.
class CFileDeleter
{
public:
    CFileDeleter() = default;
    explicit CFileDeleter(std::wstring path) : m_path(std::move(path)) {}
    ~CFileDeleter();
    CFileDeleter(const CFileDeleter&) = delete;
    CFileDeleter& operator=(const CFileDeleter&) = delete;

    // Takes a new name; the old one is forgotten, not deleted.
    void SetPath(std::wstring path) { m_path = std::move(path); }
    void Disarm() { m_path.clear(); }

private:
    std::wstring m_path;
};

} // namespace zk
