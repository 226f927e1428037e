// What the main window says, seen as a user sees it: the real program on
// its own Xvfb with a window manager and a compositor, watching the quiet
// end of a veth pair of the test's own. An empty list shows its hint; a
// long name stops before the scroll bar, its emoji in colour; a page link
// shows its tooltip while another window is active.

#include "friends/setting.h"
#include "platform/window_types.h"
#include "support/child_process.h"
#include "support/netns.h"
#include "support/scoped_env.h"
#include "support/xvfb_session.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace zk::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Ten times what a loaded machine needs.
constexpr auto kWait = 20s;
// How often the pointer is rested on a link before its tooltip counts as missing.
constexpr int kTooltipAttempts = 3;
constexpr const char* kFrameName = "Zarumatekit";
// The list's first cell, from the window's top left (frame border and
// caption, then the list's inset), and the scroll column right of it.
constexpr int kListLeft = 10;
constexpr int kListTop = 32;
constexpr int kListRightInset = 29; // from the window's right edge
constexpr int kScrollColumnInset = 22;
constexpr int kNameLeft = 44;
constexpr int kNameRowHeight = 18;
// The first link icon's centre in the first cell.
constexpr POINT kFirstLink{kListLeft + 46 + 7, kListTop + 42 - 5 - 7};

std::string ListXml(const std::string& name)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<ZarumateDataList xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n"
           "<ZarumateData><id>alpha01</id><name>" +
           name +
           "</name><updateTime>0</updateTime><imageModifiedTime>0</imageModifiedTime>"
           "</ZarumateData>\n</ZarumateDataList>\n";
}

int Red(std::uint32_t c)
{
    return (c >> 16) & 0xFF;
}
int Green(std::uint32_t c)
{
    return (c >> 8) & 0xFF;
}
int Blue(std::uint32_t c)
{
    return c & 0xFF;
}
bool IsDark(std::uint32_t c)
{
    return Red(c) + Green(c) + Blue(c) < 3 * 0x80;
}
// Far from any grey: lettering is black and grey, emoji are not.
bool IsColourful(std::uint32_t c)
{
    int most = std::max({Red(c), Green(c), Blue(c)});
    int least = std::min({Red(c), Green(c), Blue(c)});
    return most - least > 100;
}

class WindowTextTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_XVFB();
        ZK_REQUIRE_ROOT();
        std::string error;
        ASSERT_TRUE(m_session.Start({.windowManager = true, .compositor = true}, error)) << error;
        ASSERT_TRUE(m_veth.Ok()) << m_veth.Error();
        ASSERT_TRUE(m_session.MouseMove(5, 5));
        CScopedEnv env("XDG_CONFIG_HOME", (m_home.Path() / "config").string());
        CSetting setting;
        setting.m_adapterName = L"zkcap0";
        ASSERT_TRUE(setting.SaveSettings());
    }

    void TearDown() override
    {
        if (m_program.Pid() > 0) {
            m_program.Signal(SIGTERM);
            m_program.Finish(kWait);
        }
    }

    void WriteList(const std::string& name)
    {
        fs::path folder = m_home.Path() / "data" / "Brindlewerk" / "Zarumatekit";
        fs::create_directories(folder);
        std::ofstream(folder / "DefaultList.config") << ListXml(name);
    }

    void StartProgram()
    {
        std::vector<std::string> env = m_session.Environment();
        env.push_back("XDG_DATA_HOME=" + (m_home.Path() / "data").string());
        env.push_back("XDG_CONFIG_HOME=" + (m_home.Path() / "config").string());
        env.push_back("XDG_RUNTIME_DIR=" + m_home.Path().string());
        env.push_back("LC_ALL=C.UTF-8");
        fs::path suppressions = m_home.Path() / "lsan-suppressions";
        std::ofstream(suppressions) << "leak:libdbus-1.so\nleak:libfontconfig.so\n";
        env.push_back("LSAN_OPTIONS=suppressions=" + suppressions.string());
        ASSERT_TRUE(m_program.Start(m_veth.Watched().ExecArgs({ZK_PROGRAM_PATH}), env));
        std::vector<std::string> ids;
        ASSERT_TRUE(WaitUntil(
            [&] {
                m_program.Pump(0ms);
                ids = m_session.FindWindows(kFrameName);
                return ids.size() == 1;
            },
            kWait))
            << Output();
        m_frameId = ids[0];
        ASSERT_TRUE(m_session.GetWindowGeometry(m_frameId, m_frame));
    }

    std::string Output()
    {
        m_program.Pump(0ms);
        return m_program.Output() + m_program.ErrorOutput() + m_session.Log();
    }

    // Screenshots of the window (kept as saveAs) until the condition holds.
    template <class F> bool WaitForShot(F condition, const std::string& saveAs)
    {
        return WaitUntil(
            [&] {
                std::string error;
                return m_session.Screenshot(m_shot, error, saveAs,
                                            {m_frame.left - 16, m_frame.top - 16,
                                             m_frame.right + 16, m_frame.bottom + 16}) &&
                       condition();
            },
            kWait, 100ms);
    }

    // Pixels of the window's box (from its top left) that pass the test.
    template <class F> int Count(const RECT& box, F test) const
    {
        int n = 0;
        for (int y = box.top; y < box.bottom; ++y)
            for (int x = box.left; x < box.right; ++x)
                n += test(m_shot.At(m_frame.left + x, m_frame.top + y));
        return n;
    }

    int ListRight() const { return int(m_frame.Width()) - kListRightInset; }

    CTempDir m_home;
    CXvfbSession m_session;
    CVethPair m_veth;
    CChildProcess m_program;
    std::string m_frameId;
    RECT m_frame;
    CScreenshot m_shot;
};

TEST_F(WindowTextTest, EmptyListShowsItsHintInTheListArea)
{
    StartProgram();
    // Lines of dark text from the top of the list, none in the scroll
    // column.
    RECT top{kListLeft, kListTop, ListRight(), kListTop + 40};
    RECT lower{kListLeft, kListTop + 40, ListRight(), kListTop + 120};
    ASSERT_TRUE(WaitForShot([&] { return Count(top, IsDark) > 40 && Count(lower, IsDark) > 40; },
                            "window-empty-hint"))
        << Output();
}

TEST_F(WindowTextTest, LongNameStopsBeforeTheScrollBarWithItsEmojiInColour)
{
    WriteList("😀🌸 Zarumate とても長いニックネームのザルメイトさん Long Nickname");
    StartProgram();
    RECT nameRow{kListLeft + kNameLeft, kListTop + 3, ListRight(), kListTop + kNameRowHeight};
    RECT beyond{ListRight(), kListTop, int(m_frame.Width()) - kScrollColumnInset,
                kListTop + kNameRowHeight};
    ASSERT_TRUE(
        WaitForShot([&] { return Count(nameRow, IsColourful) > 20 && Count(nameRow, IsDark) > 40; },
                    "window-long-name-emoji"))
        << Output();
    // The ellipsis stands at the end of the row, and nothing of the name
    // runs on towards the scroll bar.
    EXPECT_GT(
        Count({ListRight() - 14, kListTop + 3, ListRight(), kListTop + kNameRowHeight}, IsDark), 0);
    EXPECT_EQ(Count(beyond, IsDark), 0);
}

TEST_F(WindowTextTest, PageLinkShowsItsTooltipWhileAnotherWindowIsActive)
{
    WriteList("Alpha");
    StartProgram();
    // Another program's window takes the focus, as it usually has.
    CChildProcess other;
    ASSERT_TRUE(other.Start({"xmessage", "-geometry", "+700+500", "another program"},
                            m_session.Environment()));
    std::vector<std::string> ids;
    ASSERT_TRUE(WaitUntil(
        [&] {
            ids = m_session.FindWindows("xmessage");
            return ids.size() == 1;
        },
        kWait));
    ASSERT_EQ(m_session.Xdotool({"windowactivate", "--sync", ids[0]}).exitCode, 0);
    ASSERT_NE(m_session.Xdotool({"getactivewindow"}).out, m_frameId + "\n");

    // The pointer rests on the first link: a tooltip window of the program
    // appears beside it.
    POINT link{m_frame.left + kFirstLink.x, m_frame.top + kFirstLink.y};
    // The pointer comes in from the side, as a hand moves it: the toolkit
    // counts the rest from motion inside the window, not from entering.
    // A rest the toolkit missed (its motion came while the server was busy)
    // is tried again, as a user moves the pointer once more; each try waits
    // many times the toolkit's tooltip delay.
    std::string tip;
    bool shown = false;
    for (int attempt = 0; attempt < kTooltipAttempts && !shown; ++attempt) {
        ASSERT_TRUE(m_session.MouseMove(link.x - 5, link.y));
        ASSERT_TRUE(m_session.MouseMove(link.x, link.y));
        shown = WaitUntil(
            [&] {
                std::istringstream lines(
                    m_session.Xdotool({"search", "--onlyvisible", "--class", "^zarumatekit$"}).out);
                for (std::string id; std::getline(lines, id);)
                    if (id != m_frameId)
                        tip = id;
                return !tip.empty();
            },
            kWait / kTooltipAttempts);
    }
    std::string error;
    m_session.Screenshot(
        m_shot, error, "window-link-tooltip",
        {m_frame.left - 16, m_frame.top - 16, m_frame.right + 120, m_frame.bottom + 16});
    ASSERT_TRUE(shown) << "no tooltip over the link\n" << Output();
    RECT rect;
    ASSERT_TRUE(m_session.GetWindowGeometry(tip, rect));
    EXPECT_LT(std::abs(rect.top - link.y), 60);
    EXPECT_LT(std::abs(rect.left - link.x), 60);
    // Away from the link it goes.
    ASSERT_TRUE(m_session.MouseMove(5, 5));
    EXPECT_TRUE(WaitUntil(
        [&] {
            return m_session.Xdotool({"search", "--onlyvisible", "--class", "^zarumatekit$"})
                       .out.find(tip + "\n") == std::string::npos;
        },
        kWait));
    other.Signal(SIGTERM);
    other.Finish(kWait);
}

} // namespace
} // namespace zk::test
