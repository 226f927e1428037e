#include "friends/app_reg_key.h"
#include "friends/setting.h"
#include "support/scoped_env.h"
#include "support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace zk {
namespace {

namespace fs = std::filesystem;

constexpr const wchar_t* kSettingPath = L"Software\\Brindlewerk\\Zarumatekit32\\Setting";
constexpr const wchar_t* kWindowPath = L"Software\\Brindlewerk\\Zarumatekit32\\Setting\\Window";

// A store of its own for every test, as $XDG_CONFIG_HOME points it.
class SettingTest : public ::testing::Test
{
protected:
    SettingTest() : m_env("XDG_CONFIG_HOME", m_home.Path().string()) {}

    void Put(const wchar_t* path, const wchar_t* name, const CRegValue& value)
    {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, path, KEY_WRITE), S_OK);
        ASSERT_EQ(key.SetValue(name, value), S_OK);
    }
    CRegValue Get(const wchar_t* path, const wchar_t* name)
    {
        CRegKey key;
        CRegValue value;
        EXPECT_EQ(key.Open(HKEY_CURRENT_USER, path, KEY_READ), S_OK);
        EXPECT_EQ(key.QueryValue(name, value), S_OK);
        return value;
    }
    void PutStrings()
    {
        Put(kSettingPath, L"BrowserPath", MakeStringValue(L"/usr/bin/browser"));
        Put(kSettingPath, L"NicName", MakeStringValue(L"eth0"));
        CRegKey window;
        ASSERT_EQ(window.Create(HKEY_CURRENT_USER, kWindowPath, KEY_WRITE), S_OK);
    }

    test::CTempDir m_home;
    test::CScopedEnv m_env;
};

TEST_F(SettingTest, FirstStartCreatesTheEmptyApplicationKeyAndKeepsDefaults)
{
    CSetting setting;
    EXPECT_FALSE(setting.LoadSettings());
    EXPECT_FALSE(setting.m_maximized);
    EXPECT_TRUE(setting.m_windowRect.IsEmpty());
    EXPECT_TRUE(setting.m_browserPath.empty());
    CRegKey app;
    EXPECT_EQ(app.Open(HKEY_CURRENT_USER, L"Software\\Brindlewerk\\Zarumatekit32", KEY_READ), S_OK);
    CRegKey settingKey;
    EXPECT_EQ(settingKey.Open(HKEY_CURRENT_USER, kSettingPath, KEY_READ), HresultFromErrno(ENOENT));
}

TEST_F(SettingTest, SaveAndLoadGiveBackEveryField)
{
    CSetting saved;
    saved.m_maximized = true;
    saved.m_windowRect = RECT{-1280, -20, -1020, 268};
    saved.m_adapterName = L"有線 LAN";
    saved.m_browserPath = L"/opt/ブラウザ/bin";
    ASSERT_TRUE(saved.SaveSettings());

    CSetting loaded;
    ASSERT_TRUE(loaded.LoadSettings());
    EXPECT_TRUE(loaded.m_maximized);
    EXPECT_EQ(loaded.m_windowRect, saved.m_windowRect);
    EXPECT_EQ(loaded.m_adapterName, saved.m_adapterName);
    EXPECT_EQ(loaded.m_browserPath, saved.m_browserPath);

    // Strings carry their null; coordinates are the 32-bit patterns.
    EXPECT_EQ(Get(kSettingPath, L"NicName"), MakeStringValue(L"有線 LAN"));
    EXPECT_EQ(Get(kWindowPath, L"Left"), MakeDwordValue(0xFFFFFB00u));
    EXPECT_EQ(Get(kWindowPath, L"Fullscreen"), MakeDwordValue(1));
}

TEST_F(SettingTest, RectangleIsTakenOnlyWhenAllFourCoordinatesArePresent)
{
    PutStrings();
    Put(kWindowPath, L"Fullscreen", MakeDwordValue(7));
    Put(kWindowPath, L"Left", MakeDwordValue(10));
    Put(kWindowPath, L"Top", MakeDwordValue(20));
    Put(kWindowPath, L"Right", MakeDwordValue(30));
    CSetting setting;
    EXPECT_TRUE(setting.LoadSettings());
    EXPECT_TRUE(setting.m_maximized);
    EXPECT_TRUE(setting.m_windowRect.IsEmpty());

    Put(kWindowPath, L"Bottom", MakeDwordValue(40));
    ASSERT_TRUE(setting.LoadSettings());
    EXPECT_EQ(setting.m_windowRect, (RECT{10, 20, 30, 40}));
}

TEST_F(SettingTest, ExpandableStringIsTakenLiterally)
{
    PutStrings();
    Put(kSettingPath, L"BrowserPath", MakeStringValue(L"%ProgramFiles%/$HOME/b", REG_EXPAND_SZ));
    CSetting setting;
    EXPECT_TRUE(setting.LoadSettings());
    EXPECT_EQ(setting.m_browserPath, L"%ProgramFiles%/$HOME/b");
}

TEST_F(SettingTest, ValuesOfTheWrongShapeLeaveTheirFieldAndFailTheLoad)
{
    CRegValue oddSize = MakeStringValue(L"eth1");
    oddSize.m_data.push_back(0);
    CRegValue noNull = MakeStringValue(L"eth1");
    noNull.m_data.resize(noNull.m_data.size() - 2);
    CRegValue binary = MakeStringValue(L"eth1");
    binary.m_type = REG_BINARY;
    for (const CRegValue& bad : {MakeDwordValue(1), oddSize, noNull, binary}) {
        PutStrings();
        Put(kSettingPath, L"NicName", bad);
        CSetting setting;
        setting.m_adapterName = L"before";
        EXPECT_FALSE(setting.LoadSettings());
        EXPECT_EQ(setting.m_adapterName, L"before");
        // The other string is still read.
        EXPECT_EQ(setting.m_browserPath, L"/usr/bin/browser");
    }
}

TEST_F(SettingTest, EmptyStringValueIsAnEmptyString)
{
    PutStrings();
    Put(kSettingPath, L"NicName", CRegValue{REG_SZ, {}});
    CSetting setting;
    setting.m_adapterName = L"before";
    EXPECT_TRUE(setting.LoadSettings());
    EXPECT_EQ(setting.m_adapterName, L"");
}

TEST_F(SettingTest, WindowValuesOfTheWrongTypeAreIgnored)
{
    PutStrings();
    Put(kWindowPath, L"Fullscreen", MakeStringValue(L"1"));
    Put(kWindowPath, L"Left", CRegValue{REG_BINARY, {1, 0, 0, 0}});
    Put(kWindowPath, L"Top", MakeDwordValue(20));
    Put(kWindowPath, L"Right", MakeDwordValue(30));
    Put(kWindowPath, L"Bottom", MakeDwordValue(40));
    CSetting setting;
    EXPECT_TRUE(setting.LoadSettings());
    EXPECT_FALSE(setting.m_maximized);
    EXPECT_TRUE(setting.m_windowRect.IsEmpty());
}

TEST_F(SettingTest, SaveFailsWhenTheStoreCannotBeWritten)
{
    std::ofstream(m_home.Path() / "Brindlewerk") << "a file where the folder should be";
    CSetting setting;
    EXPECT_FALSE(setting.SaveSettings());
}

TEST_F(SettingTest, SaveParsesAtMostOnceAndWritesOnce)
{
    const fs::path folder = m_home.Path() / "Brindlewerk" / "Zarumatekit32";
    const fs::path file = folder / "registry.xml";
    auto work = [last = GetRegistryStoreCounts()]() mutable {
        CRegStoreCounts now = GetRegistryStoreCounts();
        std::pair<std::uint64_t, std::uint64_t> since{now.m_parses - last.m_parses,
                                                      now.m_writes - last.m_writes};
        last = now;
        return since;
    };
    using CWork = std::pair<std::uint64_t, std::uint64_t>; // parses, writes
    CSetting setting;
    setting.m_browserPath = L"/usr/bin/browser";
    setting.m_windowRect = RECT{1, 2, 261, 290};
    ASSERT_TRUE(setting.SaveSettings());
    EXPECT_EQ(work(), (CWork{0, 1})) << "a first start has nothing to read";

    // Another process saved the store: its file is renamed into place.
    std::stringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    std::ofstream(folder / "other", std::ios::binary) << bytes.str();
    fs::rename(folder / "other", file);
    setting.m_adapterName = L"eth1";
    ASSERT_TRUE(setting.SaveSettings());
    EXPECT_EQ(work(), (CWork{1, 1}));

    CSetting loaded;
    ASSERT_TRUE(loaded.LoadSettings());
    EXPECT_EQ(loaded.m_adapterName, L"eth1");
    EXPECT_EQ(loaded.m_windowRect, setting.m_windowRect);
    EXPECT_EQ(work(), (CWork{0, 0})) << "loading what this process saved reads nothing";
    ASSERT_TRUE(loaded.SaveSettings());
    EXPECT_EQ(work(), (CWork{0, 1}));
}

TEST(AppRegKey, PathIsMakerAndProductWith32)
{
    test::CTempDir home;
    test::CScopedEnv env("XDG_CONFIG_HOME", home.Path().string());
    CAppRegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, 131, 132), S_OK);
    EXPECT_EQ(key.SubkeyPath(L"Setting"), kSettingPath);
}

TEST(WindowPlacement, LastNormalRectangleSurvivesAMaximizedOrMinimizedExit)
{
    CSetting setting;
    setting.CaptureWindowPlacement(false, false, RECT{1, 2, 261, 290});
    setting.CaptureWindowPlacement(true, false, RECT{0, 0, 1920, 1080});
    EXPECT_TRUE(setting.m_maximized);
    EXPECT_EQ(setting.m_windowRect, (RECT{1, 2, 261, 290}));
    setting.CaptureWindowPlacement(false, true, RECT{-32000, -32000, -31840, -31976});
    EXPECT_FALSE(setting.m_maximized);
    EXPECT_EQ(setting.m_windowRect, (RECT{1, 2, 261, 290}));
}

TEST(WindowPlacement, EmptyRectangleGivesNoPlacement)
{
    const RECT screen{0, 0, 1920, 1080};
    RECT rect{5, 5, 5, 5};
    CSetting setting;
    for (RECT empty : {RECT{}, RECT{10, 10, 10, 300}, RECT{10, 10, 300, 9}}) {
        setting.m_windowRect = empty;
        EXPECT_FALSE(setting.GetRestoreRect(kPlacementIntoScreen, screen, rect));
        EXPECT_EQ(rect, (RECT{5, 5, 5, 5}));
    }
}

TEST(WindowPlacement, RectangleIsPulledIntoTheVirtualScreenWithItsSizeKept)
{
    const RECT screen{-1280, 0, 1920, 1080};
    CSetting setting;
    RECT rect;
    // Left on a second monitor that is gone.
    setting.m_windowRect = RECT{2000, 900, 2260, 1188};
    ASSERT_TRUE(setting.GetRestoreRect(kPlacementIntoScreen, screen, rect));
    EXPECT_EQ(rect, (RECT{1660, 792, 1920, 1080}));
    setting.m_windowRect = RECT{-2000, -50, -1740, 238};
    ASSERT_TRUE(setting.GetRestoreRect(kPlacementIntoScreen, screen, rect));
    EXPECT_EQ(rect, (RECT{-1280, 0, -1020, 288}));
    // Inside already: unchanged; without the flag: as stored.
    setting.m_windowRect = RECT{100, 100, 360, 388};
    ASSERT_TRUE(setting.GetRestoreRect(kPlacementIntoScreen, screen, rect));
    EXPECT_EQ(rect, setting.m_windowRect);
    setting.m_windowRect = RECT{2000, 900, 2260, 1188};
    ASSERT_TRUE(setting.GetRestoreRect(0, screen, rect));
    EXPECT_EQ(rect, setting.m_windowRect);
}

TEST(WindowPlacement, RectangleLargerThanTheScreenEndsAtItsTopLeft)
{
    EXPECT_EQ(MoveRectIntoScreen(RECT{500, 400, 3500, 2400}, RECT{0, 0, 1920, 1080}),
              (RECT{0, 0, 3000, 2000}));
    EXPECT_EQ(MoveRectIntoScreen(RECT{-3000, -3000, -2000, -1000}, RECT{0, 0, 800, 600}),
              (RECT{0, 0, 1000, 2000}));
}

} // namespace
} // namespace zk
