#include "friends/setting.h"

#include "friends/app_reg_key.h"

#include <algorithm>
#include <limits>

namespace zk {
namespace {

constexpr std::uint32_t kMakerNameId = 131;
constexpr std::uint32_t kProductNameId = 132;
constexpr std::uint32_t kKeyAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;

constexpr const wchar_t* kSettingKey = L"Setting";
constexpr const wchar_t* kWindowKey = L"Window";
constexpr const wchar_t* kBrowserPathValue = L"BrowserPath";
constexpr const wchar_t* kSavedListFileValue = L"SavedListFile";
constexpr const wchar_t* kTlsKeyLogValue = L"TlsKeyLogFile";
constexpr const wchar_t* kNicNameValue = L"NicName";
constexpr const wchar_t* kFullscreenValue = L"Fullscreen";
constexpr const wchar_t* kLeftValue = L"Left";
constexpr const wchar_t* kTopValue = L"Top";
constexpr const wchar_t* kRightValue = L"Right";
constexpr const wchar_t* kBottomValue = L"Bottom";

// A string is taken only as a string type (an expandable one as it stands,
// unexpanded), of even size and ending in a null; an empty value is an
// empty string.
bool ReadString(const CRegKey& key, const wchar_t* name, std::wstring& field)
{
    CRegValue value;
    if (Failed(key.QueryValue(name, value)))
        return false;
    if (value.m_type != REG_SZ && value.m_type != REG_EXPAND_SZ)
        return false;
    const auto& data = value.m_data;
    if (data.size() % 2 != 0)
        return false;
    if (!data.empty() && (data[data.size() - 2] != 0 || data[data.size() - 1] != 0))
        return false;
    field = DecodeStringData(data);
    return true;
}

bool ReadDword(const CRegKey& key, const wchar_t* name, std::uint32_t& number)
{
    CRegValue value;
    return Succeeded(key.QueryValue(name, value)) && DecodeDwordData(value, number);
}

std::int32_t Saturate(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Moves [low, high) so that it ends at or before `last`, then starts at or
// after `first`.
void MoveIntoRange(std::int32_t& low, std::int32_t& high, std::int32_t first, std::int32_t last)
{
    std::int64_t from = low;
    std::int64_t to = high;
    if (to > last) {
        from -= to - last;
        to = last;
    }
    if (from < first) {
        to += first - from;
        from = first;
    }
    // Stored coordinates are whatever the store holds; a rectangle wider
    // than 32 bits can hold is cut rather than wrapped.
    low = Saturate(from);
    high = Saturate(to);
}

} // namespace

RECT MoveRectIntoScreen(const RECT& rect, const RECT& screen)
{
    RECT moved = rect;
    MoveIntoRange(moved.top, moved.bottom, screen.top, screen.bottom);
    MoveIntoRange(moved.left, moved.right, screen.left, screen.right);
    return moved;
}

bool CSetting::LoadSettings()
{
    CAppRegKey app;
    if (Failed(app.Open(HKEY_CURRENT_USER, kMakerNameId, kProductNameId)))
        return false;
    CRegKey setting;
    if (Failed(setting.Open(app.GetRoot(), app.SubkeyPath(kSettingKey), KEY_READ)))
        return false;
    bool result = ReadString(setting, kBrowserPathValue, m_browserPath);
    result = ReadString(setting, kNicNameValue, m_adapterName) && result;
    // Written only by runs that had to keep the list elsewhere.
    ReadString(setting, kSavedListFileValue, m_savedListFile);
    // Stores written before the key log existed lack the value; that is not
    // a failure.
    ReadString(setting, kTlsKeyLogValue, m_tlsKeyLogPath);

    CRegKey window;
    if (Failed(window.Open(setting, kWindowKey, KEY_READ)))
        return false;
    if (std::uint32_t fullscreen = 0; ReadDword(window, kFullscreenValue, fullscreen))
        m_maximized = fullscreen != 0;
    // The rectangle is taken only whole.
    std::uint32_t left = 0, top = 0, right = 0, bottom = 0;
    if (ReadDword(window, kLeftValue, left) && ReadDword(window, kTopValue, top) &&
        ReadDword(window, kRightValue, right) && ReadDword(window, kBottomValue, bottom)) {
        m_windowRect.left = static_cast<std::int32_t>(left);
        m_windowRect.top = static_cast<std::int32_t>(top);
        m_windowRect.right = static_cast<std::int32_t>(right);
        m_windowRect.bottom = static_cast<std::int32_t>(bottom);
    }
    return result;
}

bool CSetting::SaveSettings()
{
    // All the values go to the store file in one write, when the batch
    // ends; a failed write fails the save.
    CRegBatch batch;
    bool written = SaveValues();
    return Succeeded(batch.Commit()) && written;
}

bool CSetting::SaveValues()
{
    CAppRegKey app;
    if (Failed(app.Open(HKEY_CURRENT_USER, kMakerNameId, kProductNameId)))
        return false;
    CRegKey setting;
    if (Failed(setting.Create(app.GetRoot(), app.SubkeyPath(kSettingKey), kKeyAccess)))
        return false;
    bool result = Succeeded(setting.SetValue(kBrowserPathValue, MakeStringValue(m_browserPath)));
    result = Succeeded(setting.SetValue(kNicNameValue, MakeStringValue(m_adapterName))) && result;
    result = Succeeded(setting.SetValue(kSavedListFileValue, MakeStringValue(m_savedListFile))) &&
             result;
    result =
        Succeeded(setting.SetValue(kTlsKeyLogValue, MakeStringValue(m_tlsKeyLogPath))) && result;

    CRegKey window;
    if (Failed(window.Create(setting, kWindowKey, kKeyAccess)))
        return false;
    // Failures of these single writes do not change the result.
    window.SetValue(kFullscreenValue, MakeDwordValue(m_maximized ? 1 : 0));
    window.SetValue(kLeftValue, MakeDwordValue(static_cast<std::uint32_t>(m_windowRect.left)));
    window.SetValue(kTopValue, MakeDwordValue(static_cast<std::uint32_t>(m_windowRect.top)));
    window.SetValue(kRightValue, MakeDwordValue(static_cast<std::uint32_t>(m_windowRect.right)));
    window.SetValue(kBottomValue, MakeDwordValue(static_cast<std::uint32_t>(m_windowRect.bottom)));
    return result;
}

void CSetting::CaptureWindowPlacement(bool maximized, bool minimized, const RECT& windowRect)
{
    m_maximized = maximized;
    if (!maximized && !minimized)
        m_windowRect = windowRect;
}

bool CSetting::GetRestoreRect(unsigned flags, const RECT& virtualScreen, RECT& rect) const
{
    if (m_windowRect.IsEmpty())
        return false;
    rect = (flags & kPlacementIntoScreen) ? MoveRectIntoScreen(m_windowRect, virtualScreen)
                                          : m_windowRect;
    return true;
}

} // namespace zk
