#include "friends/app_reg_key.h"

#include "res/string_table.h"

namespace zk {

constexpr std::uint32_t kAppKeyAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;

HRESULT CAppRegKey::Open(CRegRoot root, std::uint32_t makerId, std::uint32_t productId)
{
    m_root = root;
    m_maker = LoadString(makerId);
    m_product = LoadString(productId);
    // The key is named after the product with "32" appended.
    m_path = L"Software\\" + m_maker + L"\\" + m_product + L"32";
    return m_key.Create(root, m_path, kAppKeyAccess);
}

std::wstring CAppRegKey::SubkeyPath(std::wstring_view name) const
{
    return m_path + L"\\" + std::wstring(name);
}

} // namespace zk
