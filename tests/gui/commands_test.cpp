// Everything a user does from the window, done the user's way: the real
// program runs on its own Xvfb with a window manager and a compositor, and
// xdotool right-clicks, types menu mnemonics and presses the popups'
// buttons. What the commands did is read back from where it lands: the
// clipboard, a fake browser's record of its arguments, and the files the
// program saves when it is ended.

#include "friends/setting.h"
#include "friends/zarumate_list_file.h"
#include "platform/window_types.h"
#include "support/child_process.h"
#include "support/netns.h"
#include "support/scoped_env.h"
#include "support/xvfb_session.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <thread>

namespace zk::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Ten times what a loaded machine needs.
constexpr auto kWait = 20s;

// The names the program's windows carry: its own skinned windows, its menus
// (the toolkit names those after the program), the standard dialogs.
constexpr const char* kFrameName = "Zarumatekit";
constexpr const char* kMenuName = "zarumatekit";
constexpr const char* kAboutName = "バージョン情報";
constexpr const char* kSettingsName = "設定";

// Where things are in the main window, from its top left: the caption, and
// the name line of the cell in a slot (away from the cell's links).
constexpr POINT kCaption{100, 12};
constexpr int kCellX = 180;
constexpr int kFirstCellNameY = 32 + 12;
constexpr int kCellPitch = 45;
// The detail popup's first link (the game room), from the popup's top left.
constexpr POINT kFirstLink{18 + 7, 220 + 7};
// The question popup's two buttons lie side by side in the middle of its
// bottom row: delete left, close right.
constexpr int kQuestionButtonOffset = 38;
constexpr int kQuestionButtonsAboveBottom = 38;

const char* const kIds[] = {"alpha01", "bravo02", "charlie03"};

std::string ListXml()
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                      "<ZarumateDataList xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                      "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n";
    const char* const names[] = {"Alpha", "Bravo", "Charlie"};
    for (int i = 0; i < 3; ++i) {
        xml += std::string("<ZarumateData><id>") + kIds[i] + "</id><name>" + names[i] +
               "</name><updateTime>0</updateTime><imageModifiedTime>0</imageModifiedTime>"
               "</ZarumateData>\n";
    }
    return xml + "</ZarumateDataList>\n";
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class CommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_XVFB();
        ZK_REQUIRE_ROOT();
        if (RunProcess({"sh", "-c", "command -v xclip"}).exitCode != 0) {
            if (IsCi())
                FAIL() << "CI=true but xclip is not installed (scripts/install-deps installs it)";
            GTEST_SKIP() << "xclip is not installed (scripts/install-deps installs it)";
        }
        std::string error;
        ASSERT_TRUE(m_session.Start({.windowManager = true, .compositor = true}, error)) << error;
        // The program watches the veth end of a namespace of its own, so
        // that capture starts cleanly and sees only this test's quiet link.
        ASSERT_TRUE(m_veth.Ok()) << m_veth.Error();
        fs::create_directories(DataHome() / "Brindlewerk" / "Zarumatekit");
        std::ofstream(DataHome() / "Brindlewerk" / "Zarumatekit" / "DefaultList.config")
            << ListXml();
        m_browserRecord = m_home.Path() / "browser argv";
        // A path with a space, as browsers often live in one; the fake
        // writes the number of its arguments, then each on its own line.
        m_fakeBrowser = m_home.Path() / "fake browser";
        std::ofstream(m_fakeBrowser) << "#!/bin/sh\n"
                                        "out='"
                                     << m_browserRecord.string()
                                     << "'\n"
                                        "printf '%s\\n' \"$#\" \"$@\" > \"$out.tmp\"\n"
                                        "mv \"$out.tmp\" \"$out\"\n";
        fs::permissions(m_fakeBrowser, fs::perms::owner_all);
    }

    fs::path DataHome() const { return m_home.Path() / "data"; }
    fs::path ConfigHome() const { return m_home.Path() / "config"; }

    void WriteSettings(const std::string& browserPath)
    {
        CScopedEnv env("XDG_CONFIG_HOME", ConfigHome().string());
        CSetting setting;
        setting.m_adapterName = L"zkcap0";
        setting.m_browserPath = fs::path(browserPath).wstring();
        ASSERT_TRUE(setting.SaveSettings());
    }

    CSetting ReadSettings() const
    {
        CScopedEnv env("XDG_CONFIG_HOME", ConfigHome().string());
        CSetting setting;
        setting.LoadSettings();
        return setting;
    }

    std::vector<std::string> SavedIds() const
    {
        CScopedEnv env("XDG_DATA_HOME", DataHome().string());
        CZarumateDataList list;
        CSimpleErr err;
        EXPECT_TRUE(LoadList(kDefaultListName, list, err));
        std::vector<std::string> ids;
        for (const auto& record : list)
            ids.push_back(fs::path(record->m_id).string());
        return ids;
    }

    // Starts the program and waits for its window, with nothing else open.
    void StartProgram()
    {
        auto args = m_veth.Watched().ExecArgs({ZK_PROGRAM_PATH});
        std::vector<std::string> env = m_session.Environment();
        env.push_back("XDG_DATA_HOME=" + DataHome().string());
        env.push_back("XDG_CONFIG_HOME=" + ConfigHome().string());
        env.push_back("XDG_RUNTIME_DIR=" + m_home.Path().string());
        env.push_back("LC_ALL=C.UTF-8");
        // In a sanitizer build the program's own leaks are checked at its
        // exit; the desktop's libraries keep blocks for the life of the
        // process, which is not a fault of the program.
        fs::path suppressions = m_home.Path() / "lsan-suppressions";
        std::ofstream(suppressions) << "leak:libdbus-1.so\nleak:libfontconfig.so\n";
        env.push_back("LSAN_OPTIONS=suppressions=" + suppressions.string());
        ASSERT_TRUE(m_program.Start(args, env));
        std::optional<std::string> frame = WaitForWindow(kFrameName);
        ASSERT_TRUE(frame) << Output();
        m_frameId = *frame;
        ASSERT_TRUE(m_session.GetWindowGeometry(m_frameId, m_frame));
        ASSERT_EQ(OtherWindows(), std::vector<std::string>{}) << "a message at start\n" << Output();
    }

    // Ends the program as the session does; it saves the list and the
    // settings on its way out.
    void StopProgram()
    {
        m_program.Signal(SIGTERM);
        CProcessResult result = m_program.Finish(kWait);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    }

    std::string Output()
    {
        m_program.Pump(0ms);
        return m_program.Output() + m_program.ErrorOutput() + m_session.Log();
    }

    // The program's visible windows whose name is exactly name. They are
    // found by their class, as the toolkit's menus are not found by name,
    // and xdotool matches names without regard to case, while the menus
    // differ from the frame only so.
    std::vector<std::string> WindowsNamed(const std::string& name) const
    {
        std::vector<std::string> found;
        CProcessResult ids =
            m_session.Xdotool({"search", "--onlyvisible", "--class", "^zarumatekit$"});
        std::istringstream lines(ids.out);
        for (std::string id; std::getline(lines, id);) {
            CProcessResult title = m_session.Xdotool({"getwindowname", id});
            if (title.exitCode == 0 && title.out == name + "\n")
                found.push_back(id);
        }
        return found;
    }

    // Windows of the program other than the main one: popups, message
    // boxes, dialogs, menus.
    std::vector<std::string> OtherWindows() const
    {
        std::vector<std::string> found;
        for (const char* name : {kFrameName, kMenuName, kAboutName, kSettingsName}) {
            for (const std::string& id : WindowsNamed(name)) {
                if (id != m_frameId)
                    found.push_back(name);
            }
        }
        return found;
    }

    std::optional<std::string> WaitForWindow(const std::string& name)
    {
        std::optional<std::string> found;
        WaitUntil(
            [&] {
                for (const std::string& id : WindowsNamed(name)) {
                    if (id != m_frameId)
                        found = id;
                }
                return found.has_value();
            },
            kWait);
        return found;
    }

    bool WaitUntilClosed(const std::string& id)
    {
        return WaitUntil(
            [&] {
                auto open =
                    m_session.Xdotool({"search", "--onlyvisible", "--class", "^zarumatekit$"});
                return open.out.find(id + "\n") == std::string::npos;
            },
            kWait);
    }

    // Moves the pointer and clicks in one go. The events reach the server
    // in order, so the click lands where the pointer went; a synchronous
    // move would wait for motion that never comes when the pointer is there
    // already.
    bool ClickAt(int x, int y, int button = 1) const
    {
        return m_session
                   .Xdotool({"mousemove", std::to_string(x), std::to_string(y), "click",
                             std::to_string(button)})
                   .exitCode == 0;
    }

    POINT CellPoint(int slot) const
    {
        return {m_frame.left + kCellX, m_frame.top + kFirstCellNameY + kCellPitch * slot};
    }

    // Right-clicks at the point and chooses the menu's item by its
    // mnemonic; the menu must have opened and closed again.
    void ChooseFromMenu(POINT at, const std::string& mnemonic)
    {
        ASSERT_TRUE(ClickAt(at.x, at.y, 3));
        std::optional<std::string> menu = WaitForWindow(kMenuName);
        if (!menu)
            KeepScreenshot("no-menu");
        ASSERT_TRUE(menu) << "no menu at " << at.x << "," << at.y << "\n" << Output();
        ASSERT_TRUE(m_session.Xdotool({"key", mnemonic}).exitCode == 0);
        ASSERT_TRUE(WaitUntilClosed(*menu)) << "the menu stayed open after " << mnemonic;
    }

    // Keeps a picture of the screen when ZK_GUI_SCREENSHOTS names a folder.
    void KeepScreenshot(const std::string& name) const
    {
        CScreenshot shot;
        std::string error;
        m_session.Screenshot(shot, error,
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                 std::string("-") + name);
    }

    std::string Clipboard() const
    {
        std::vector<std::string> env = m_session.Environment();
        return RunProcess({"xclip", "-o", "-selection", "clipboard"}, env, kWait).out;
    }

    // The arguments the fake browser was last started with, once it was.
    std::optional<std::vector<std::string>> BrowserArguments() const
    {
        if (!WaitUntil([&] { return fs::exists(m_browserRecord); }, kWait))
            return std::nullopt;
        std::istringstream lines(ReadFile(m_browserRecord));
        std::string count;
        std::getline(lines, count);
        std::vector<std::string> args;
        for (std::string line; std::getline(lines, line);)
            args.push_back(line);
        // An argument with a line break in it would show here.
        if (count != std::to_string(args.size()))
            args.push_back("<" + count + " arguments>");
        return args;
    }

    // Left-clicks a cell, opens the first link of the detail popup and
    // closes the popup again; answers the browser's arguments.
    std::vector<std::string> OpenPageFromDetail(int slot)
    {
        POINT cell = CellPoint(slot);
        EXPECT_TRUE(ClickAt(cell.x, cell.y));
        std::optional<std::string> popup = WaitForWindow(kFrameName);
        EXPECT_TRUE(popup) << Output();
        if (!popup)
            return {};
        RECT rect;
        EXPECT_TRUE(m_session.GetWindowGeometry(*popup, rect));
        fs::remove(m_browserRecord);
        EXPECT_TRUE(ClickAt(rect.left + kFirstLink.x, rect.top + kFirstLink.y));
        std::optional<std::vector<std::string>> args = BrowserArguments();
        EXPECT_TRUE(args) << "the browser was not started\n" << Output();
        // A link keeps the popup open. Its close button came to lie where
        // the cell was clicked, so a second click there closes it, unless
        // the popup opened under the window kept on top.
        EXPECT_EQ(WindowsNamed(kFrameName).size(), 2u);
        EXPECT_TRUE(ClickAt(cell.x, cell.y));
        EXPECT_TRUE(WaitUntilClosed(*popup));
        return args.value_or(std::vector<std::string>{});
    }

    // Asks for a deletion from a cell's menu and answers the question with
    // one of its buttons.
    void DeleteWithButton(int slot, const std::string& mnemonic, bool deleteButton)
    {
        ChooseFromMenu(CellPoint(slot), mnemonic);
        std::optional<std::string> question = WaitForWindow(kFrameName);
        ASSERT_TRUE(question) << Output();
        RECT rect;
        ASSERT_TRUE(m_session.GetWindowGeometry(*question, rect));
        int middle = (rect.left + rect.right) / 2;
        int x = deleteButton ? middle - kQuestionButtonOffset : middle + kQuestionButtonOffset;
        // The button is clicked where the user sees it, which also shows
        // that the question is not hidden under the window that asked it.
        ASSERT_TRUE(ClickAt(x, rect.bottom - kQuestionButtonsAboveBottom));
        ASSERT_TRUE(WaitUntilClosed(*question)) << "the question stayed open";
    }

    CTempDir m_home;
    CXvfbSession m_session;
    CVethPair m_veth;
    CChildProcess m_program;
    std::string m_frameId;
    RECT m_frame;
    fs::path m_fakeBrowser;
    fs::path m_browserRecord;
};

TEST_F(CommandsTest, MenusOpenByRightClickAndWorkByMnemonics)
{
    WriteSettings("");
    StartProgram();

    // The cell menu copies exactly the id of the cell clicked.
    ChooseFromMenu(CellPoint(1), "c");
    EXPECT_TRUE(WaitUntil([&] { return Clipboard() == kIds[1]; }, kWait)) << Clipboard();
    ChooseFromMenu(CellPoint(2), "c");
    EXPECT_TRUE(WaitUntil([&] { return Clipboard() == kIds[2]; }, kWait)) << Clipboard();

    // Refreshing an avatar starts its download; the image host is out of
    // reach here, which the cell shows without a message.
    ChooseFromMenu(CellPoint(0), "p");
    ChooseFromMenu(CellPoint(0), "c");
    EXPECT_TRUE(WaitUntil([&] { return Clipboard() == kIds[0]; }, kWait));
    EXPECT_EQ(OtherWindows(), std::vector<std::string>{}) << Output();

    // The title menu opens the about box, whose OK closes it.
    ChooseFromMenu({m_frame.left + kCaption.x, m_frame.top + kCaption.y}, "a");
    std::optional<std::string> about = WaitForWindow(kAboutName);
    ASSERT_TRUE(about) << Output();
    EXPECT_TRUE(m_session.Xdotool({"key", "Return"}).exitCode == 0);
    EXPECT_TRUE(WaitUntilClosed(*about));

    // Esc closes a menu without a command.
    ASSERT_TRUE(ClickAt(m_frame.left + kCaption.x, m_frame.top + kCaption.y, 3));
    std::optional<std::string> menu = WaitForWindow(kMenuName);
    ASSERT_TRUE(menu);
    EXPECT_TRUE(m_session.Xdotool({"key", "Escape"}).exitCode == 0);
    EXPECT_TRUE(WaitUntilClosed(*menu));
    EXPECT_EQ(OtherWindows(), std::vector<std::string>{});

    StopProgram();
    EXPECT_EQ(SavedIds(), (std::vector<std::string>{kIds[0], kIds[1], kIds[2]}));
}

TEST_F(CommandsTest, MonitoringMenuMarksTheWatchedAdapterWithItsAddress)
{
    WriteSettings("");
    StartProgram();
    // The refresh of an avatar whose host is out of reach: the cell says
    // so where the time goes.
    ChooseFromMenu(CellPoint(0), "p");
    // Pictures only: the state is shown from the next tick on, and the
    // failure once the download gave up.
    std::this_thread::sleep_for(300ms);
    KeepScreenshot("refresh");
    std::this_thread::sleep_for(3s);
    KeepScreenshot("refresh-later");
    ASSERT_TRUE(ClickAt(m_frame.left + kCaption.x, m_frame.top + kCaption.y, 3));
    std::optional<std::string> menu = WaitForWindow(kMenuName);
    ASSERT_TRUE(menu) << Output();
    // The monitoring submenu is the first item.
    ASSERT_TRUE(m_session.Xdotool({"key", "Down", "Right"}).exitCode == 0);
    EXPECT_TRUE(WaitUntil([&] { return WindowsNamed(kMenuName).size() == 2; }, kWait));
    KeepScreenshot("adapters");
    ASSERT_TRUE(m_session.Xdotool({"key", "Escape", "Escape"}).exitCode == 0);
    EXPECT_TRUE(WaitUntilClosed(*menu));
    StopProgram();
}

TEST_F(CommandsTest, DeletingOneFriendTakesTheDeleteButtonAndNotTheCloseButton)
{
    WriteSettings("");
    StartProgram();
    DeleteWithButton(1, "d", false);
    DeleteWithButton(1, "d", true);
    StopProgram();
    EXPECT_EQ(SavedIds(), (std::vector<std::string>{kIds[0], kIds[2]}));
}

TEST_F(CommandsTest, DeletingEverythingBelowAFriendKeepsThoseAbove)
{
    WriteSettings("");
    StartProgram();
    DeleteWithButton(1, "b", false);
    DeleteWithButton(1, "b", true);
    StopProgram();
    EXPECT_EQ(SavedIds(), (std::vector<std::string>{kIds[0]}));
}

TEST_F(CommandsTest, DetailPopupOpensAPageInTheChosenBrowser)
{
    WriteSettings(m_fakeBrowser.string());
    StartProgram();
    EXPECT_EQ(OpenPageFromDetail(1),
              std::vector<std::string>{std::string("http://zaru.nimbo.example/?targetNimboId=") +
                                       kIds[1]});
    StopProgram();
}

TEST_F(CommandsTest, ClickOnAnotherFriendWhileTheDetailIsOpenShowsThatOne)
{
    WriteSettings(m_fakeBrowser.string());
    StartProgram();
    POINT first = CellPoint(0);
    ASSERT_TRUE(ClickAt(first.x, first.y));
    std::optional<std::string> popup = WaitForWindow(kFrameName);
    ASSERT_TRUE(popup) << Output();
    RECT rect;
    ASSERT_TRUE(m_session.GetWindowGeometry(*popup, rect));
    // The popup covers the cells below the pointer up to its right edge;
    // the third friend's cell is clicked right of it.
    POINT third{(rect.right + m_frame.right) / 2, CellPoint(2).y};
    ASSERT_LT(rect.right + 4, m_frame.right - 20);
    ASSERT_TRUE(ClickAt(third.x, third.y));
    // The same popup shows the third friend, above the window just clicked:
    // its first link is clicked where the user sees it.
    fs::remove(m_browserRecord);
    ASSERT_TRUE(ClickAt(rect.left + kFirstLink.x, rect.top + kFirstLink.y));
    KeepScreenshot("third-friend");
    EXPECT_EQ(BrowserArguments(),
              std::vector<std::string>{std::string("http://zaru.nimbo.example/?targetNimboId=") +
                                       kIds[2]});
    EXPECT_EQ(WindowsNamed(kFrameName).size(), 2u);
    EXPECT_TRUE(m_session.Xdotool({"key", "Escape"}).exitCode == 0);
    EXPECT_TRUE(WaitUntilClosed(*popup));
    StopProgram();
}

TEST_F(CommandsTest, BrowserTypedIntoTheSettingsOpensThePages)
{
    WriteSettings("");
    StartProgram();
    ChooseFromMenu({m_frame.left + kCaption.x, m_frame.top + kCaption.y}, "s");
    std::optional<std::string> dialog = WaitForWindow(kSettingsName);
    ASSERT_TRUE(dialog) << Output();
    // The browser's combo box has the focus; Enter is OK.
    ASSERT_EQ(m_session.Xdotool({"type", "--delay", "20", m_fakeBrowser.string()}).exitCode, 0);
    ASSERT_EQ(m_session.Xdotool({"key", "Return"}).exitCode, 0);
    ASSERT_TRUE(WaitUntilClosed(*dialog));

    EXPECT_EQ(OpenPageFromDetail(2),
              std::vector<std::string>{std::string("http://zaru.nimbo.example/?targetNimboId=") +
                                       kIds[2]});
    StopProgram();
    EXPECT_EQ(ReadSettings().m_browserPath, m_fakeBrowser.wstring());
    EXPECT_EQ(SavedIds(), (std::vector<std::string>{kIds[0], kIds[1], kIds[2]}));
}

TEST_F(CommandsTest, SettingsPathTakesAShorterPathTypedOverTheOfferedOne)
{
    // The offered item is the stored path; the user types only its start
    // over it. The field must keep what was typed, however it offers the
    // longer one.
    WriteSettings(m_fakeBrowser.string());
    StartProgram();
    ChooseFromMenu({m_frame.left + kCaption.x, m_frame.top + kCaption.y}, "s");
    std::optional<std::string> dialog = WaitForWindow(kSettingsName);
    ASSERT_TRUE(dialog) << Output();
    std::string shorter = m_fakeBrowser.string().substr(0, m_fakeBrowser.string().size() - 4);
    ASSERT_EQ(m_session.Xdotool({"key", "ctrl+a", "BackSpace"}).exitCode, 0);
    ASSERT_EQ(m_session.Xdotool({"type", "--delay", "20", shorter}).exitCode, 0);
    // Return closes a list of offers first, if one is open; the next one
    // is OK.
    ASSERT_EQ(m_session.Xdotool({"key", "Return"}).exitCode, 0);
    if (!WaitUntil([&] { return WindowsNamed(kSettingsName).empty(); }, 2s)) {
        ASSERT_EQ(m_session.Xdotool({"key", "Return"}).exitCode, 0);
    }
    ASSERT_TRUE(WaitUntilClosed(*dialog));
    StopProgram();
    EXPECT_EQ(fs::path(ReadSettings().m_browserPath).string(), shorter);
}

} // namespace
} // namespace zk::test
