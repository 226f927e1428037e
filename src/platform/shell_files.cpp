#include "platform/shell_files.h"

#include "platform/text_convert.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace zk {
namespace {

// The XDG base directory spec only honours absolute paths in its variables.
std::wstring AbsoluteEnv(const char* name)
{
    const char* value = std::getenv(name);
    if (value && value[0] == '/')
        return Utf8ToWide(value);
    return {};
}

std::wstring HomeFolder()
{
    if (auto home = AbsoluteEnv("HOME"); !home.empty())
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return Utf8ToWide(pw->pw_dir);
    return {};
}

std::wstring XdgFolder(const char* variable, const wchar_t* fallback)
{
    if (auto folder = AbsoluteEnv(variable); !folder.empty())
        return folder;
    std::wstring home = HomeFolder();
    if (home.empty())
        return {};
    return home + fallback;
}

} // namespace

std::wstring GetUserDataFolder()
{
    return XdgFolder("XDG_DATA_HOME", L"/.local/share");
}

std::wstring GetUserConfigFolder()
{
    return XdgFolder("XDG_CONFIG_HOME", L"/.config");
}

std::wstring GetUserStateFolder()
{
    return XdgFolder("XDG_STATE_HOME", L"/.local/state");
}

std::wstring GetTempFolder()
{
    if (auto folder = AbsoluteEnv("TMPDIR"); !folder.empty())
        return folder;
    return L"/tmp";
}

} // namespace zk
