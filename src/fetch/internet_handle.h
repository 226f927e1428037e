#pragma once

namespace zk {

// The base of every internet handle wrapper: it owns one handle and
// releases it in Close or on destruction. Wrappers are not copyable.
class CInternetHandle
{
public:
    CInternetHandle() = default;
    CInternetHandle(const CInternetHandle&) = delete;
    CInternetHandle& operator=(const CInternetHandle&) = delete;
    virtual ~CInternetHandle() = default;

    // Releases the handle; false when it could not be released.
    virtual bool Close()
    {
        m_handle = nullptr;
        return true;
    }

    void* GetHandle() const { return m_handle; }
    bool IsOpen() const { return m_handle != nullptr; }

protected:
    void* m_handle = nullptr;
};

} // namespace zk
