#include "base/path.h"

#include "platform/shell_files.h"
#include "res/string_table.h"

namespace zk {

constexpr std::uint32_t kMakerNameId = 131;
constexpr std::uint32_t kProductNameId = 132;

std::wstring JoinPath(std::wstring_view left, std::wstring_view right)
{
    std::wstring path(left);
    if (!path.empty()) {
        wchar_t last = path.back();
        if (last != L'\\' && last != L'/' && last != L':')
            path.push_back(kPathSeparator);
    }
    path.append(right);
    return path;
}

std::wstring GetDataFolder()
{
    std::wstring base = GetUserDataFolder();
    if (base.empty())
        return {};
    return JoinPath(JoinPath(base, LoadString(kMakerNameId)), LoadString(kProductNameId));
}

} // namespace zk
