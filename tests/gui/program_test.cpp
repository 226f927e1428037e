// The whole program on a real X server and a real adapter: zarumatekit runs
// in a network namespace of the test's own on an Xvfb with a window manager
// and a compositor, watching the namespace's end of a veth pair. A real
// client fetches a microblog page across it from a server in the other
// namespace, which also stands in for the image host. The test looks at the
// window as a user would (screenshots, xdotool) and at the files the program
// leaves.

#include "base/path.h"
#include "base/portal_hosts.h"
#include "fetch/drawing_surface.h"
#include "fetch/image.h"
#include "frame_demo_process.h"
#include "friends/setting.h"
#include "friends/zarumate_list_file.h"
#include "platform/text_convert.h"
#include "platform/window_types.h"
#include "support/child_process.h"
#include "support/http_test_server.h"
#include "support/installed_copy.h"
#include "support/microblog_page.h"
#include "support/netns.h"
#include "support/scoped_env.h"
#include "support/test_env.h"
#include "support/tls_page_server.h"
#include "support/xvfb_session.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace zk::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Only a hang takes this long, however busy the machine; a failing wait
// still leaves time for the next one within the test's limit.
constexpr auto kPatience = 30s;
constexpr char kWindowTitle[] = "Zarumatekit";
constexpr char kAdapter[] = "zkcap0";
constexpr char kImagePath[] = "/shop/original/zaru/user/image?nimboId=";
constexpr char kFriendId[] = "someid";
// A second person whose page the server also has.
constexpr char kOtherId[] = "otherid";
constexpr std::uint32_t kAvatarColour = 0xFF3366CC;
// Where the list's top cell lies in the window: inside the frame's border
// and caption (5, 27) and the list's inset (5, 5), left of the scroll column.
constexpr int kCellLeft = 10;
constexpr int kCellTop = 32;
constexpr int kCellRightInset = 29;
constexpr int kCellHeight = 42;
// The name starts this far right of the cell's left edge.
constexpr int kNameLeft = 44;

std::string AvatarPng()
{
    CImage avatar(120, 110);
    for (int y = 0; y < avatar.GetHeight(); ++y)
        for (int x = 0; x < avatar.GetWidth(); ++x)
            avatar.SetPixel(x, y, kAvatarColour);
    std::string png;
    EXPECT_EQ(EncodePng(avatar, png), CDrawStatus::Ok);
    return png;
}

bool Near(std::uint32_t a, std::uint32_t b)
{
    for (int shift : {0, 8, 16}) {
        int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (d < -8 || d > 8)
            return false;
    }
    return true;
}

bool IsDark(std::uint32_t c)
{
    return ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) < 3 * 0x80;
}

// What the top cell shows in a screenshot of the window at `at`.
struct CTopCell
{
    bool painted = false;   // the list's white shows where the name goes
    int darkNamePixels = 0; // the name's lettering
    int avatarPixels = 0;
    bool avatarRound = false; // the corners of the avatar's box are not avatar
    // Dark pixels where the second slot lies: an empty list's hint runs
    // down there, a list of one leaves it blank.
    int secondSlotDarkPixels = 0;

    CTopCell(const CScreenshot& shot, const RECT& at)
    {
        int left = at.left + kCellLeft;
        int top = at.top + kCellTop;
        int right = at.right - kCellRightInset;
        painted = (shot.At(left + kNameLeft, top + 2) & 0xFFFFFF) == 0xFFFFFF;
        int minX = right, minY = top + kCellHeight, maxX = left - 1, maxY = top - 1;
        for (int y = top; y < top + kCellHeight; ++y) {
            for (int x = left; x < right; ++x) {
                std::uint32_t c = shot.At(x, y);
                if (x >= left + kNameLeft && y < top + kCellHeight / 2 && IsDark(c))
                    ++darkNamePixels;
                if (x < left + kNameLeft && Near(c, kAvatarColour)) {
                    ++avatarPixels;
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                    minY = std::min(minY, y);
                    maxY = std::max(maxY, y);
                }
            }
        }
        for (int y = top + kCellHeight + 8; y < top + 2 * kCellHeight; ++y)
            for (int x = left; x < right; ++x)
                secondSlotDarkPixels += IsDark(shot.At(x, y));
        avatarRound = avatarPixels > 0 && !Near(shot.At(minX, minY), kAvatarColour) &&
                      !Near(shot.At(maxX, maxY), kAvatarColour);
    }
};

class ProgramTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_ROOT();
        ZK_REQUIRE_XVFB();
        ASSERT_TRUE(m_net.Ok()) << m_net.Error();
        // "ip netns exec" puts this file in the place of /etc/hosts: the
        // image host is the server across the veth pair.
        m_hostsFolder = fs::path("/etc/netns") / m_net.Watched().Name();
        fs::create_directories(m_hostsFolder);
        std::ofstream(m_hostsFolder / "hosts")
            << "127.0.0.1 localhost\n"
            << AddressText(CVethPair::kPeerAddress) << " " << WideToUtf8(kImageHost) << "\n";

        CMicroblogPage content;
        content.id = kFriendId;
        CHttpScript page = CHttpScript::Status("HTTP/1.1 200 OK", BuildMicroblogPage(content));
        page.headers = {"Content-Type: text/html; charset=UTF-8"};
        m_server.SetScript(std::string("/") + kFriendId + "/", page);
        CMicroblogPage other;
        other.id = kOtherId;
        other.name = "ほかのひと";
        CHttpScript otherPage = CHttpScript::Status("HTTP/1.1 200 OK", BuildMicroblogPage(other));
        otherPage.headers = page.headers;
        m_server.SetScript(std::string("/") + kOtherId + "/", otherPage);
        CHttpScript image = CHttpScript::Status("HTTP/1.1 200 OK", AvatarPng());
        image.headers = {"Last-Modified: Tue, 05 Mar 2024 07:08:09 GMT", "Content-Type: image/png"};
        m_server.SetScript(std::string(kImagePath) + kFriendId, image);
        bool started = false;
        ASSERT_TRUE(m_net.Peer().Run(
            [&] { started = m_server.Start(AddressText(CVethPair::kPeerAddress), 80); }));
        ASSERT_TRUE(started) << "no test server on port 80 of the peer namespace";

        for (const char* folder : {"data", "config", "runtime", "tmp"})
            fs::create_directories(m_dir.Path() / folder);
        // D-Bus and Fontconfig, which the toolkit opens, keep a few blocks
        // for the life of the process; the leak checker of sanitizer builds
        // is told so.
        std::ofstream(m_dir.Path() / "lsan.supp") << "leak:libdbus-1.so\nleak:libfontconfig.so\n";
        fs::permissions(m_dir.Path() / "runtime", fs::perms::owner_all);

        // The adapter to watch, chosen in an earlier run.
        CScopedEnv config("XDG_CONFIG_HOME", Folder("config"));
        CSetting setting;
        setting.m_adapterName = Utf8ToWide(kAdapter);
        ASSERT_TRUE(setting.SaveSettings());

        std::string error;
        ASSERT_TRUE(m_session.Start({.windowManager = true, .compositor = true}, error)) << error;
        // The pointer rests away from every window.
        ASSERT_TRUE(m_session.MouseMove(5, 5));
    }

    void TearDown() override
    {
        m_server.Stop();
        std::error_code ignored;
        if (!m_hostsFolder.empty())
            fs::remove_all(m_hostsFolder, ignored);
    }

    std::string Folder(const char* name) const { return (m_dir.Path() / name).string(); }

    std::vector<std::string> Environment() const
    {
        std::vector<std::string> env = m_session.Environment();
        env.insert(env.end(),
                   {"LC_ALL=C.UTF-8", "XDG_DATA_HOME=" + Folder("data"),
                    "XDG_CONFIG_HOME=" + Folder("config"), "XDG_RUNTIME_DIR=" + Folder("runtime"),
                    "TMPDIR=" + Folder("tmp"), "LSAN_OPTIONS=suppressions=" + Folder("lsan.supp"),
                    "http_proxy=", "HTTP_PROXY=", "all_proxy=", "ALL_PROXY="});
        return env;
    }

    bool StartProgram(CChildProcess& program,
                      const std::vector<std::string>& command = {ZK_PROGRAM_PATH})
    {
        return program.Start(m_net.Watched().ExecArgs(command), Environment());
    }

    static std::string Output(const CChildProcess& program)
    {
        return "program output: " + program.Output() + "\nprogram errors: " + program.ErrorOutput();
    }

    // Waits for the program's one window and answers its id.
    std::string WaitForWindow(CChildProcess& program)
    {
        std::vector<std::string> ids;
        bool shown = WaitUntil(
            [&] {
                program.Pump(0ms);
                ids = m_session.FindWindows(kWindowTitle);
                return ids.size() == 1;
            },
            kPatience);
        EXPECT_TRUE(shown) << ids.size() << " windows named " << kWindowTitle << "\n"
                           << Output(program) << "\n"
                           << m_session.Log();
        return shown ? ids[0] : std::string();
    }

    // The capture socket is open once the program's network namespace
    // lists a packet socket.
    bool WaitForMonitoring(CChildProcess& program)
    {
        fs::path sockets = "/proc/" + std::to_string(program.Pid()) + "/net/packet";
        return WaitUntil(
            [&] {
                program.Pump(0ms);
                std::ifstream in(sockets);
                std::string line;
                int lines = 0;
                while (std::getline(in, line))
                    ++lines;
                return lines > 1; // a heading and a socket
            },
            kPatience);
    }

    RECT Geometry(const std::string& id)
    {
        RECT rect;
        EXPECT_TRUE(m_session.GetWindowGeometry(id, rect)) << id;
        return rect;
    }

    // Takes screenshots of the window until its top cell satisfies the
    // condition.
    template <class F> bool WaitForTopCell(const RECT& at, F condition, const std::string& saveAs)
    {
        return WaitUntil(
            [&] {
                std::string error;
                return m_session.Screenshot(
                           m_shot, error, saveAs,
                           {at.left - 20, at.top - 20, at.right + 20, at.bottom + 20}) &&
                       condition(CTopCell(m_shot, at));
            },
            kPatience, 100ms);
    }

    CProcessResult Fetch(const std::string& id = kFriendId)
    {
        std::string url = "http://" + AddressText(CVethPair::kPeerAddress) + "/" + id + "/";
        return RunProcess(
            m_net.Watched().ExecArgs({"curl", "--silent", "--show-error", "--noproxy", "*",
                                      "--max-time", "60", "--output", "/dev/null", "--header",
                                      "Host: " + MicroblogHost(), url}),
            {}, 2 * kPatience);
    }

    std::size_t ImageRequests() const
    {
        std::size_t count = 0;
        for (const CHttpRecordedRequest& request : m_server.GetRequests())
            count += request.target.rfind(kImagePath, 0) == 0;
        return count;
    }

    // The window the window manager calls active, as a number; 0 for none.
    unsigned long ActiveWindow() const
    {
        return ActiveWindowId(m_session.Xdotool({"getactivewindow"}).out);
    }

    static unsigned long ActiveWindowId(const std::string& text)
    {
        return text.empty() ? 0 : std::stoul(text);
    }

    // Ends the program as the session's end does; it must not have hit
    // undefined behaviour on the way (sanitizer builds say so on stderr).
    CProcessResult Terminate(CChildProcess& program)
    {
        program.Signal(SIGTERM);
        CProcessResult result = program.Finish(kPatience);
        EXPECT_EQ(result.err.find("runtime error"), std::string::npos) << result.err;
        return result;
    }

    CTempDir m_dir;
    CVethPair m_net;
    CHttpTestServer m_server{300s};
    fs::path m_hostsFolder;
    CXvfbSession m_session;
    CScreenshot m_shot;
};

TEST_F(ProgramTest, FriendSeenOnAdapterIsShownKeptAndShownAgainWhereWindowWasLeft)
{
    CChildProcess program;
    ASSERT_TRUE(StartProgram(program));
    std::string id = WaitForWindow(program);
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(WaitForMonitoring(program)) << "no capture socket\n" << Output(program);
    RECT at = Geometry(id);
    ASSERT_TRUE(WaitForTopCell(
        at,
        [](const CTopCell& cell) {
            return cell.painted && cell.avatarPixels == 0 && cell.secondSlotDarkPixels > 20;
        },
        "program_empty"))
        << "the empty list shows no hint before any page";

    CProcessResult curl = Fetch();
    ASSERT_EQ(curl.exitCode, 0) << curl.err;
    EXPECT_TRUE(WaitForTopCell(
        at,
        [](const CTopCell& cell) {
            return cell.darkNamePixels > 10 && cell.secondSlotDarkPixels == 0;
        },
        "program_name"))
        << "no name in the top cell\n"
        << Output(program);
    // Then the avatar from the image host, round.
    EXPECT_TRUE(WaitForTopCell(
        at, [](const CTopCell& cell) { return cell.avatarPixels > 200 && cell.avatarRound; },
        "program_avatar"))
        << "no round avatar in the top cell (" << CTopCell(m_shot, at).avatarPixels
        << " pixels of its colour)\n"
        << Output(program);
    EXPECT_EQ(ImageRequests(), 1u);

    // The user moves the window by its caption, then the session ends.
    POINT grip{at.left + 120, at.top + 13};
    ASSERT_TRUE(m_session.Drag(grip.x, grip.y, grip.x - 200, grip.y + 100));
    RECT moved = OffsetRect(at, -200, 100);
    EXPECT_TRUE(WaitUntil([&] { return Geometry(id) == moved; }, kPatience))
        << "window at " << Describe(Geometry(id)) << ", expected " << Describe(moved);
    CProcessResult end = Terminate(program);
    EXPECT_FALSE(end.timedOut);
    ASSERT_EQ(end.exitCode, 0) << end.out << end.err;

    {
        CScopedEnv data("XDG_DATA_HOME", Folder("data"));
        CScopedEnv config("XDG_CONFIG_HOME", Folder("config"));
        CZarumateDataList list;
        CSimpleErr err;
        ASSERT_TRUE(LoadList(kDefaultListName, list, err)) << WideToUtf8(err.GetText());
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(WideToUtf8((*list.begin())->m_id), kFriendId);
        EXPECT_EQ(WideToUtf8((*list.begin())->m_name), CMicroblogPage{}.name);
        fs::path avatar = fs::path(GetDataFolder()) / "Image" / (std::string(kFriendId) + ".png");
        EXPECT_EQ(fs::file_size(avatar), AvatarPng().size()) << avatar;
        CSetting setting;
        EXPECT_TRUE(setting.LoadSettings());
        EXPECT_EQ(WideToUtf8(setting.m_adapterName), kAdapter);
        EXPECT_EQ(setting.m_windowRect, moved) << Describe(setting.m_windowRect);
    }

    // The next start shows the friend, avatar from the cache, where the
    // window was left.
    CChildProcess again;
    ASSERT_TRUE(StartProgram(again));
    std::string second = WaitForWindow(again);
    ASSERT_FALSE(second.empty());
    EXPECT_TRUE(WaitUntil([&] { return Geometry(second) == moved; }, kPatience))
        << "window at " << Describe(Geometry(second)) << ", left at " << Describe(moved);
    EXPECT_TRUE(WaitForTopCell(
        moved,
        [](const CTopCell& cell) {
            return cell.darkNamePixels > 10 && cell.avatarPixels > 200 && cell.avatarRound;
        },
        "program_restarted"))
        << "the friend is not shown after the restart\n"
        << Output(again);
    EXPECT_EQ(ImageRequests(), 1u) << "the cached avatar was fetched again";
    CProcessResult last = Terminate(again);
    EXPECT_FALSE(last.timedOut);
    EXPECT_EQ(last.exitCode, 0) << last.err;
}

// As an installation lays them out, with the capability on the capture
// helper alone: an ordinary user sees a friend, and the program holds no
// capability and no packet socket; its helper holds the one socket.
TEST_F(ProgramTest, AnOrdinaryUserSeesAFriendWithTheCapabilityOnTheHelperAlone)
{
    CInstalledCopy installed({ZK_PROGRAM_PATH, ZK_CAPTURE_PATH});
    ASSERT_TRUE(installed.Ok()) << installed.Error();
    ASSERT_TRUE(CInstalledCopy::GiveToOrdinaryUser(m_dir.Path().string()));
    CChildProcess program;
    ASSERT_TRUE(StartProgram(program,
                             CInstalledCopy::RunAsOrdinaryUser({installed.PathOf("zarumatekit")})));
    std::string id = WaitForWindow(program);
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(WaitForMonitoring(program)) << "no capture socket\n" << Output(program);

    CProcessResult curl = Fetch();
    ASSERT_EQ(curl.exitCode, 0) << curl.err;
    EXPECT_TRUE(WaitForTopCell(
        Geometry(id), [](const CTopCell& cell) { return cell.darkNamePixels > 10; },
        "program_ordinary_user"))
        << "no name in the top cell\n"
        << Output(program);
    // The page came through the helper, which gave up its capability
    // before it read a single datagram.
    CHeld held = HeldBy(program.Pid());
    EXPECT_TRUE(held.HoldsNoCapability()) << held.effective << " " << held.permitted;
    EXPECT_EQ(held.packetSockets, 0);
    std::vector<pid_t> children = ChildrenOf(program.Pid());
    ASSERT_EQ(children.size(), 1u);
    CHeld helper = HeldBy(children[0]);
    EXPECT_TRUE(helper.HoldsNoCapability()) << helper.effective << " " << helper.permitted;
    EXPECT_EQ(helper.packetSockets, 1);
    CProcessResult end = Terminate(program);
    EXPECT_FALSE(end.timedOut);
    EXPECT_EQ(end.exitCode, 0) << end.out << end.err;

    // The ordinary user's program kept the friend in a list of its own.
    CScopedEnv data("XDG_DATA_HOME", Folder("data"));
    fs::path listFile = fs::path(GetDataFolder()) / kDefaultListName;
    struct stat info
    {};
    ASSERT_EQ(stat(listFile.c_str(), &info), 0) << listFile;
    EXPECT_EQ(info.st_uid, CInstalledCopy::kUser);
    std::ifstream in(listFile);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find(kFriendId), std::string::npos) << text.str();
}

TEST_F(ProgramTest, FindsThePersonOfAnHttpsPageChromiumLoads)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the browser runs in release builds only";
#endif
    // The session exports SSLKEYLOGFILE; the program and Chromium both
    // take it from their environment.
    CTlsPageServer tls;
    ASSERT_TRUE(tls.MakeCertificate()) << tls.Error();
    CMicroblogPage content;
    content.id = kFriendId;
    ASSERT_TRUE(tls.AddPage("page.html", BuildMicroblogPage(content)));
    std::string address = AddressText(CVethPair::kPeerAddress);
    ASSERT_TRUE(tls.Start(m_net.Peer(), address, m_net.Watched())) << tls.Error();
    std::string keyLog = "SSLKEYLOGFILE=" + Folder("runtime") + "/session-keys.log";

    CChildProcess program;
    std::vector<std::string> env = Environment();
    env.push_back(keyLog);
    ASSERT_TRUE(program.Start(m_net.Watched().ExecArgs({ZK_PROGRAM_PATH}), env));
    ASSERT_FALSE(WaitForWindow(program).empty());
    ASSERT_TRUE(WaitForMonitoring(program)) << "no capture socket\n" << Output(program);

    std::string host = MicroblogHost();
    CProcessResult chromium = RunProcess(
        m_net.Watched().ExecArgs(
            {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + Folder("tmp") + "/chromium",
             "--host-resolver-rules=MAP " + host + " " + address + ", MAP * ~NOTFOUND",
             "--ignore-certificate-errors", "--dump-dom", "https://" + host + "/page.html"}),
        {keyLog, "HOME=" + Folder("tmp")}, 2 * kPatience);
    ASSERT_EQ(chromium.exitCode, 0) << chromium.err;

    // The friend is kept in the list the program saves at its end.
    CScopedEnv data("XDG_DATA_HOME", Folder("data"));
    CScopedEnv config("XDG_CONFIG_HOME", Folder("config"));
    CZarumateDataList list;
    CSimpleErr err;
    ASSERT_TRUE(WaitForTopCell(
        Geometry(m_session.FindWindows(kWindowTitle).at(0)),
        [](const CTopCell& cell) { return cell.darkNamePixels > 10; }, "program_https_name"))
        << "no name in the top cell\n"
        << Output(program);
    CProcessResult end = Terminate(program);
    ASSERT_EQ(end.exitCode, 0) << end.err;
    ASSERT_TRUE(LoadList(kDefaultListName, list, err)) << WideToUtf8(err.GetText());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(WideToUtf8((*list.begin())->m_id), kFriendId);
}

TEST_F(ProgramTest, SecondStartBringsFirstForwardAndEnds)
{
    CChildProcess first;
    ASSERT_TRUE(StartProgram(first));
    std::string id = WaitForWindow(first);
    ASSERT_FALSE(id.empty());

    // Shown behind another window that has the focus: the second copy
    // leaves no window of its own and makes the first one active again.
    CChildProcess other;
    ASSERT_TRUE(other.Start({ZK_SKINNED_DEMO_PATH, "--at", "20", "20", "200", "100"},
                            m_session.Environment()));
    ASSERT_TRUE(WaitUntil([&] { return ActiveWindow() != ActiveWindowId(id); }, kPatience))
        << "the other window never took the focus";
    CProcessResult second =
        RunProcess(m_net.Watched().ExecArgs({ZK_PROGRAM_PATH}), Environment(), kPatience);
    EXPECT_FALSE(second.timedOut);
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(m_session.FindWindows(kWindowTitle).size(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return ActiveWindow() == ActiveWindowId(id); }, kPatience))
        << "the first window was not activated";

    // Minimised: the second copy asks for attention with the urgency hint.
    RECT at = Geometry(id);
    ASSERT_TRUE(m_session.Click(at.right - 16 - 23, at.top + 14));
    ASSERT_TRUE(WaitUntil([&] { return m_session.FindWindows(kWindowTitle).empty(); }, kPatience))
        << "the minimise button did not minimise the window";
    second = RunProcess(m_net.Watched().ExecArgs({ZK_PROGRAM_PATH}), Environment(), kPatience);
    EXPECT_FALSE(second.timedOut);
    EXPECT_EQ(second.exitCode, 0) << second.err << second.out;
    CProcessResult hints;
    EXPECT_TRUE(WaitUntil(
        [&] {
            hints = RunProcess({"xprop", "-display", m_session.Display(), "-id", id, "WM_HINTS"});
            return hints.out.find("urgency hint bit is set") != std::string::npos;
        },
        kPatience))
        << "no urgency hint: " << hints.out << hints.err << "\n"
        << Output(first);

    CProcessResult end = Terminate(first);
    EXPECT_FALSE(end.timedOut);
    EXPECT_EQ(end.exitCode, 0) << end.err;
}

// While the user answers a question or looks at a popup, people go on
// being seen: nobody is lost, and the question's answer applies to the
// persons it counted.
TEST_F(ProgramTest, PersonsSeenUnderTheQuestionAndThePopupAreKeptAndDeletionDeletesWhatItNamed)
{
    {
        CScopedEnv data("XDG_DATA_HOME", Folder("data"));
        CZarumateDataList list;
        for (const char* id : {"alpha01", kFriendId, "charlie03"}) {
            auto record = std::make_shared<CZarumateData>();
            record->m_id = Utf8ToWide(id);
            record->m_name = Utf8ToWide(std::string("Name ") + id);
            list.PushBack(record);
        }
        CSimpleErr err;
        ASSERT_TRUE(SaveList(kDefaultListName, list, err));
    }
    CChildProcess program;
    ASSERT_TRUE(StartProgram(program));
    std::string id = WaitForWindow(program);
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(WaitForMonitoring(program)) << "no capture socket\n" << Output(program);
    RECT at = Geometry(id);
    auto cellPoint = [&](int slot) {
        return POINT{at.left + 180, at.top + kCellTop + 12 + (kCellHeight + 3) * slot};
    };
    // The program's visible windows named exactly so. The toolkit names its
    // menus after the program, in lower case, and xdotool matches names
    // regardless of case, so each window's name is compared.
    auto windowsNamed = [&](const std::string& name) {
        std::vector<std::string> found;
        std::istringstream lines(
            m_session.Xdotool({"search", "--onlyvisible", "--class", "^zarumatekit$"}).out);
        for (std::string window; std::getline(lines, window);) {
            if (m_session.Xdotool({"getwindowname", window}).out == name + "\n")
                found.push_back(window);
        }
        return found;
    };
    // Another window of the program named as the frame: a popup.
    auto waitForPopup = [&] {
        std::string popup;
        WaitUntil(
            [&] {
                for (const std::string& window : windowsNamed(kWindowTitle))
                    if (window != id)
                        popup = window;
                return !popup.empty();
            },
            kPatience);
        return popup;
    };
    auto waitUntilClosed = [&](const std::string& popup) {
        return WaitUntil(
            [&] {
                auto windows = windowsNamed(kWindowTitle);
                return std::find(windows.begin(), windows.end(), popup) == windows.end();
            },
            kPatience);
    };
    auto shoot = [&](const std::string& name) {
        std::string error;
        EXPECT_TRUE(m_session.Screenshot(m_shot, error, name)) << error;
    };

    // "ここから下を全て削除" on the middle person, who is seen again while
    // the question asks about 2 persons.
    POINT middle = cellPoint(1);
    ASSERT_TRUE(m_session.Click(middle.x, middle.y, 3));
    ASSERT_TRUE(WaitUntil([&] { return !windowsNamed("zarumatekit").empty(); }, kPatience))
        << "no cell menu\n"
        << Output(program);
    ASSERT_EQ(m_session.Xdotool({"key", "b"}).exitCode, 0);
    std::string question = waitForPopup();
    ASSERT_FALSE(question.empty()) << "no question\n" << Output(program);
    CProcessResult curl = Fetch(kFriendId);
    ASSERT_EQ(curl.exitCode, 0) << curl.err;
    // The page is taken up within a moment; the question stays open well
    // past that.
    std::this_thread::sleep_for(3s);
    shoot("program_question_open");
    RECT box = Geometry(question);
    ASSERT_TRUE(m_session.Click((box.left + box.right) / 2 - 38, box.bottom - 38));
    ASSERT_TRUE(waitUntilClosed(question)) << "the question stayed open";

    // The detail popup of the top cell, open while another person is seen.
    POINT top = cellPoint(0);
    ASSERT_TRUE(m_session.Click(top.x, top.y));
    std::string popup = waitForPopup();
    ASSERT_FALSE(popup.empty()) << "no detail popup\n" << Output(program);
    curl = Fetch(kOtherId);
    ASSERT_EQ(curl.exitCode, 0) << curl.err;
    std::this_thread::sleep_for(3s);
    shoot("program_popup_open");
    // Its close button came to lie where the cell was clicked.
    ASSERT_TRUE(m_session.Click(top.x, top.y));
    ASSERT_TRUE(waitUntilClosed(popup)) << "the popup stayed open";
    EXPECT_TRUE(WaitForTopCell(
        at, [](const CTopCell& cell) { return cell.darkNamePixels > 10; }, "program_after_popup"));

    // The window is destroyed from outside, as a window manager or xdotool
    // may: the program ends through its normal end and saves.
    ASSERT_EQ(m_session.Xdotool({"windowclose", id}).exitCode, 0);
    CProcessResult end = program.Finish(kPatience);
    EXPECT_FALSE(end.timedOut) << "the program outlived its window";
    EXPECT_EQ(end.err.find("runtime error"), std::string::npos) << end.err;
    ASSERT_EQ(end.exitCode, 0) << end.out << end.err;
    CScopedEnv data("XDG_DATA_HOME", Folder("data"));
    CZarumateDataList list;
    CSimpleErr err;
    ASSERT_TRUE(LoadList(kDefaultListName, list, err)) << WideToUtf8(err.GetText());
    std::vector<std::string> ids;
    for (const auto& record : list)
        ids.push_back(WideToUtf8(record->m_id));
    // The person below went, the one above stayed, the one seen again is
    // back as seen, and the one seen under the popup is on top.
    EXPECT_EQ(ids, (std::vector<std::string>{kOtherId, kFriendId, "alpha01"}));
}

// A list file that does not load is left as it was when the question at
// exit gets no answer: Escape on it, or the end of the session while it is
// open. The run's persons are kept beside it, and the next start says where.
TEST_F(ProgramTest, UnansweredExitQuestionKeepsTheDamagedListAndTheRunBesideIt)
{
    const std::string damaged = "<ZarumateDataList><Zarumate><id>u1";
    fs::path folder;
    {
        CScopedEnv data("XDG_DATA_HOME", Folder("data"));
        folder = fs::path(GetDataFolder());
    }
    fs::create_directories(folder);
    std::ofstream(folder / "DefaultList.config") << damaged;
    auto contents = [](const fs::path& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto sideLists = [&] {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::string name = entry.path().filename().string();
            if (name.rfind("DefaultList-", 0) == 0 && name.ends_with(".config"))
                found.push_back(entry.path());
        }
        return found;
    };
    auto waitForBox = [&](CChildProcess& program, const std::string& title) {
        std::vector<std::string> boxes;
        WaitUntil(
            [&] {
                program.Pump(0ms);
                boxes = m_session.FindWindows(title);
                return boxes.size() == 1;
            },
            kPatience);
        return boxes.size() == 1 ? boxes[0] : std::string();
    };
    auto press = [&](const std::string& window, const char* key) {
        m_session.Xdotool({"windowactivate", "--sync", window});
        return m_session.Xdotool({"key", key}).exitCode == 0;
    };

    // Escape first, then the end of the session.
    for (bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "SIGTERM");
        std::size_t before = sideLists().size();
        CChildProcess program;
        ASSERT_TRUE(StartProgram(program));
        std::string failed = waitForBox(program, "エラー");
        ASSERT_FALSE(failed.empty()) << "no load failure\n" << Output(program);
        ASSERT_TRUE(press(failed, "Return"));
        if (!escape) {
            std::string told = waitForBox(program, "確認");
            ASSERT_FALSE(told.empty()) << "the side file of the last run was not told";
            ASSERT_TRUE(press(told, "Return"));
        }
        std::string id = WaitForWindow(program);
        ASSERT_FALSE(id.empty());
        ASSERT_TRUE(WaitForMonitoring(program)) << "no capture socket\n" << Output(program);
        RECT at = Geometry(id);
        CProcessResult curl = Fetch();
        ASSERT_EQ(curl.exitCode, 0) << curl.err;
        ASSERT_TRUE(WaitForTopCell(
            at, [](const CTopCell& cell) { return cell.darkNamePixels > 10; }, "program_named"))
            << Output(program);

        // The frame's close button asks the question.
        ASSERT_TRUE(m_session.Click(at.right - 16, at.top + 14));
        std::string question = waitForBox(program, "確認");
        ASSERT_FALSE(question.empty()) << "no question at exit\n" << Output(program);
        if (escape) {
            std::string error;
            RECT box = Geometry(question);
            EXPECT_TRUE(m_session.Screenshot(
                m_shot, error, "program_exit_question",
                {box.left - 20, box.top - 40, box.right + 20, box.bottom + 20}))
                << error;
            ASSERT_TRUE(press(question, "Escape"));
        } else {
            program.Signal(SIGTERM);
        }
        CProcessResult end = program.Finish(kPatience);
        EXPECT_FALSE(end.timedOut) << "the program did not end";
        EXPECT_EQ(end.err.find("runtime error"), std::string::npos) << end.err;
        EXPECT_EQ(end.exitCode, 0) << end.out << end.err;

        EXPECT_EQ(contents(folder / "DefaultList.config"), damaged);
        std::vector<fs::path> beside = sideLists();
        ASSERT_EQ(beside.size(), before + 1);
        std::sort(beside.begin(), beside.end(), [](const fs::path& a, const fs::path& b) {
            return fs::last_write_time(a) < fs::last_write_time(b);
        });
        CScopedEnv data("XDG_DATA_HOME", Folder("data"));
        CZarumateDataList list;
        CSimpleErr err;
        ASSERT_TRUE(LoadList(Utf8ToWide(beside.back().filename().string()), list, err))
            << WideToUtf8(err.GetText());
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(WideToUtf8((*list.begin())->m_id), kFriendId);
    }
}

} // namespace
} // namespace zk::test
