#pragma once

#include "platform/registry_store.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

// The program's own key: "Software\" + maker + "\" + product + "32", opened
// (and created if missing) with read, create-subkey and set-value access.
// The key is closed when the object goes.
class CAppRegKey
{
public:
    // Returns 0 or the store's result code.
    HRESULT Open(CRegRoot root, std::uint32_t makerId, std::uint32_t productId);
    void Close() { m_key.Close(); }

    // The application key's path followed by "\" and the name.
    std::wstring SubkeyPath(std::wstring_view name) const;

    CRegKey& Key() { return m_key; }
    CRegRoot GetRoot() const { return m_root; }
    const std::wstring& GetPath() const { return m_path; }

private:
    CRegKey m_key;
    CRegRoot m_root = HKEY_CURRENT_USER;
    std::wstring m_maker;
    std::wstring m_product;
    std::wstring m_path;
};

} // namespace zk
