#include "app/main_frame.h"
// The frame's header keeps the capture's pattern matching and the toolkit
// behind it: its includers compile without either.
#if defined(BOOST_RE_REGEX_HPP) || defined(QGLOBAL_H)
#error "app/main_frame.h brings in Boost.Regex or Qt"
#endif
#include "fetch/download_image_task.h"
#include "friends/setting.h"
#include "friends/zarumate_list_file.h"
#include "platform/text_convert.h"
#include "support/fake_window_system.h"
#include "support/offscreen_gui.h"
#include "support/scoped_env.h"
#include "support/test_env.h"
#include "system/tls_key_log_file.h"
#include "ui/zaru_msg_dlg.h"
#include "ui/zarumate_data_dlg.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zk {
namespace {

namespace fs = std::filesystem;

// What the frame did to its threads, in order.
std::vector<std::string> g_events;

// Stands in for the capture thread: starts and stops only when told, and
// reports what the test makes it report.
class CFakeCapture : public ICaptureThread, public CHasErr<CSimpleErr>
{
public:
    bool Start() override
    {
        g_events.push_back("capture start");
        ++m_starts;
        return m_startWorks;
    }
    void Wait(unsigned) override { g_events.push_back("capture wait"); }
    void SetStop(bool stop) override { m_stop = stop; }
    void SetTerminate(bool terminate) override
    {
        g_events.push_back("capture terminate");
        m_terminate = terminate;
    }
    bool IsTerminating() const override { return m_terminate; }
    void SetClient(CZarumateSockClient* client) override { m_client = client; }
    void SetAdapterName(const std::wstring& name) override { m_name = name; }
    void SetTlsKeyLogFile(const std::string& path) override { m_keyLog = path; }
    int GetAdapterIndex() const override { return m_index; }
    const std::vector<std::wstring>& GetAdapterList() const override { return m_adapters; }
    EMonitorFailure GetFailureCause() const override { return m_cause; }
    std::wstring GetFailureText() const override { return GetErr().GetText(); }

    int m_starts = 0;
    EMonitorFailure m_cause = EMonitorFailure::None;
    bool m_startWorks = true;
    bool m_stop = false;
    bool m_terminate = false;
    CZarumateSockClient* m_client = nullptr;
    std::wstring m_name;
    std::string m_keyLog;
    int m_index = 0;
    std::vector<std::wstring> m_adapters{L"eth0", L"wlan0"};
};

class CFakePool : public IImagePool
{
public:
    void PushTask(std::shared_ptr<CDownloadImageTask> task) override
    {
        m_tasks.push_back(std::move(task));
    }
    bool StartAll() override { return true; }
    void SetShutdown(bool) override { g_events.push_back("pool shutdown"); }
    void WaitAll(unsigned) override { g_events.push_back("pool wait"); }

    std::vector<std::shared_ptr<CDownloadImageTask>> m_tasks;
};

using CTestFrame = CMainFrame;

class MainFrameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::EnsureOffscreenGui();
        g_events.clear();
        m_frame = MakeFrame();
        m_frame->SetAdapterLister([this](std::vector<CNetworkAdapter>& adapters) {
            adapters = m_adapters;
            return 0;
        });
    }

    static CNetworkAdapter Adapter(const char* name, std::uint8_t last, bool ipv6 = false)
    {
        CNetworkAdapter adapter{name, last, {198, 18, 0, last}, {}};
        if (ipv6)
            adapter.m_ipv6Address = {0x20, 0x01, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last};
        return adapter;
    }

    // The monitoring submenu of the title menu as it was shown last.
    std::vector<CMenu::Item> ShownAdapterItems()
    {
        RECT frame = m_frame->GetWindowRect();
        std::size_t menus = m_system.m_menus.size();
        m_system.Click(*m_frame, {frame.left + 100, frame.top + 10}, CMouseButton::Right);
        if (m_system.m_menus.size() != menus + 1)
            return {};
        const auto& items = m_system.m_menus.back().items;
        return items.at(kMonitorSubMenuPosition).subMenu->GetItems();
    }

    void TearDown() override
    {
        if (m_frame->IsWindow())
            m_frame->DestroyWindow();
    }

    void Create() { ASSERT_TRUE(m_frame->CreateMain()); }
    void Tick() { m_system.PeerOf(*m_frame)->window->PeerTimer(1); }
    CFakeCapture& Capture() { return *m_capture; }
    CFakePool& Pool() { return *m_pool; }
    // A frame on stand-ins of the capture thread and the pool, which the
    // test reaches through Capture() and Pool().
    std::unique_ptr<CTestFrame> MakeFrame()
    {
        auto capture = std::make_unique<CFakeCapture>();
        auto pool = std::make_unique<CFakePool>();
        m_capture = capture.get();
        m_pool = pool.get();
        return std::make_unique<CTestFrame>(m_setting, std::move(capture), std::move(pool));
    }
    std::vector<std::wstring> Boxes() const
    {
        std::vector<std::wstring> texts;
        for (const auto& box : m_system.m_messageBoxes)
            texts.push_back(box.text);
        return texts;
    }

    fs::path DataFolder() const { return m_home.Path() / "data" / "Brindlewerk" / "Zarumatekit"; }

    // A list file that does not load, left by an earlier run.
    std::string PutDamagedList()
    {
        const std::string damaged = "<ZarumateDataList><Zarumate><id>u1";
        fs::create_directories(DataFolder());
        std::ofstream(DataFolder() / "DefaultList.config") << damaged;
        return damaged;
    }

    static std::string Contents(const fs::path& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // The lists written beside the usual one.
    std::vector<fs::path> SideLists() const
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(DataFolder())) {
            std::string name = entry.path().filename().string();
            if (name.rfind("DefaultList-", 0) == 0 && name.ends_with(".config"))
                found.push_back(entry.path());
        }
        return found;
    }

    // The ids a list file holds, in order.
    static std::vector<std::string> IdsIn(const fs::path& path)
    {
        std::string text = Contents(path);
        std::vector<std::string> ids;
        for (std::size_t at = text.find("<id>"); at != std::string::npos;
             at = text.find("<id>", at + 1)) {
            std::size_t end = text.find("</id>", at);
            ids.push_back(text.substr(at + 4, end - at - 4));
        }
        return ids;
    }

    void Report(const wchar_t* id)
    {
        auto person = std::make_shared<CZarumateData>();
        person->m_id = id;
        person->m_name = std::wstring(L"name-") + id;
        Capture().m_client->OnZarumateFound(person);
    }

    // Starts again as the next run does, with the settings the last one left.
    void Restart()
    {
        if (m_frame->IsWindow())
            m_frame->DestroyWindow();
        m_setting = CSetting();
        m_setting.LoadSettings();
        m_frame = MakeFrame();
        Create();
    }

    test::CTempDir m_home;
    test::CScopedEnv m_data{"XDG_DATA_HOME", (m_home.Path() / "data").string()};
    test::CScopedEnv m_config{"XDG_CONFIG_HOME", (m_home.Path() / "config").string()};
    test::CScopedEnv m_stateHome{"XDG_STATE_HOME", (m_home.Path() / "state").string()};
    test::CFakeWindowSystem m_system;
    CSetting m_setting;
    std::vector<CNetworkAdapter> m_adapters{Adapter("eth0", 1), Adapter("wlan0", 2, true)};
    CFakeCapture* m_capture = nullptr;
    CFakePool* m_pool = nullptr;
    std::unique_ptr<CTestFrame> m_frame;
};

TEST_F(MainFrameTest, CaptureStartsWithTheKeyLogTheBrowsersAreGiven)
{
    test::CScopedEnv unnamed(kTlsKeyLogVariable, "");
    const fs::path keyLog = m_home.Path() / "keys" / "tls.log";
    m_setting.m_tlsKeyLogPath = Utf8ToWide(keyLog.string());
    Create();
    EXPECT_EQ(Capture().m_keyLog, keyLog.string());
    EXPECT_EQ(Capture().m_starts, 1);
}

TEST_F(MainFrameTest, OpensCentredInThePrimaryWorkAreaAndStartsMonitoring)
{
    m_system.m_monitors = {{{0, 0, 1000, 800}, {0, 30, 1000, 800}}};
    m_setting.m_adapterName = L"wlan0";
    Create();
    EXPECT_EQ(m_frame->GetWindowRect(), (RECT{370, 271, 630, 559}));
    EXPECT_TRUE(m_frame->IsWindowVisible());
    EXPECT_EQ(m_system.PeerOf(*m_frame)->timers.at(1), 25u);
    EXPECT_EQ(m_system.PeerOf(*m_frame)->minimumSize, (SIZE{156, 30}));
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorStarting);
    EXPECT_EQ(Capture().m_name, L"wlan0");
    EXPECT_EQ(m_frame->GetWindowText(), L"Zarumatekit");
    // Until the capture reports, the monitoring menu holds the waiting label.
    CMenu menu = m_frame->GetTitleMenu();
    EXPECT_EQ(menu.GetItemText(kCmdFirstAdapter), L"初期化中...");
}

TEST_F(MainFrameTest, MonitorStatesFollowReportsAndChoices)
{
    Create();
    // 1004 while the capture has not reported yet.
    m_frame->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(kCmdFirstAdapter + 1));
    ASSERT_EQ(m_system.m_messageBoxes.size(), 1u);
    EXPECT_EQ(m_system.m_messageBoxes[0].text, LoadString(kMsgMonitorBusy));
    EXPECT_EQ(m_system.m_messageBoxes[0].title, L"エラー");

    Capture().m_index = 1;
    Capture().m_client->OnSockStarted();
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorRunning);
    EXPECT_EQ(m_setting.m_adapterName, L"wlan0");
    CMenu menu = m_frame->GetTitleMenu();
    EXPECT_TRUE(menu.FindCommand(kCmdFirstAdapter + 1)->checked);
    EXPECT_FALSE(menu.FindCommand(kCmdFirstAdapter)->checked);

    // Another adapter: the run is asked to stop, and restarts on the next
    // tick after it stopped, without a message.
    m_frame->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(kCmdFirstAdapter));
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorRestarting);
    EXPECT_TRUE(Capture().m_stop);
    EXPECT_EQ(m_setting.m_adapterName, L"eth0");
    Capture().m_client->OnSockStopped();
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorRestartReady);
    Tick();
    EXPECT_EQ(Capture().m_starts, 2);
    EXPECT_EQ(Capture().m_name, L"eth0");
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorStarting);

    // A failure: the next tick tells why, unchecks the adapters, goes idle;
    // choosing an adapter then starts at once.
    Capture().m_client->OnSockStarted();
    Capture().GetErr().SetErr(4008, L"No such device");
    Capture().m_cause = EMonitorFailure::AdapterMissing;
    Capture().m_client->OnSockStopped();
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorFailed);
    Tick();
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorIdle);
    ASSERT_EQ(m_system.m_messageBoxes.size(), 2u);
    EXPECT_NE(m_system.m_messageBoxes[1].text.find(L"No such device"), std::wstring::npos);
    // The advice fits the cause: another adapter, not the capability.
    EXPECT_NE(m_system.m_messageBoxes[1].text.find(L"「監視状態」"), std::wstring::npos);
    EXPECT_EQ(m_system.m_messageBoxes[1].text.find(L"cap_net_raw"), std::wstring::npos);
    EXPECT_EQ(m_system.m_messageBoxes[1].title, L"確認");
    menu = m_frame->GetTitleMenu();
    EXPECT_FALSE(menu.FindCommand(kCmdFirstAdapter)->checked);
    m_frame->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(kCmdFirstAdapter + 1));
    EXPECT_EQ(Capture().m_starts, 3);
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorStarting);
}

TEST_F(MainFrameTest, EmptyListSaysHowTheWatchingStandsOnEachTick)
{
    Create();
    Tick();
    CZarumateLayout& list = m_frame->GetLayout();
    EXPECT_EQ(list.GetHintText(), LoadString(CZarumateLayout::kHintStartingId));
    Capture().m_index = 1;
    Capture().m_client->OnSockStarted();
    Tick();
    EXPECT_NE(list.GetHintText().find(L"wlan0"), std::wstring::npos);
    Capture().GetErr().SetErr(4008, L"No such device");
    Capture().m_client->OnSockStopped();
    Tick();
    EXPECT_EQ(list.GetHintText(), LoadString(CZarumateLayout::kHintStoppedId));
}

TEST_F(MainFrameTest, MonitorFailureGivesTheAdviceOfItsCause)
{
    Create();
    struct CCase
    {
        EMonitorFailure cause;
        const wchar_t* detail;
        const wchar_t* advice; // a part of the advice, or none
    };
    const CCase cases[] = {
        {EMonitorFailure::Permission, L"Operation not permitted", L"cap_net_raw"},
        {EMonitorFailure::AdapterMissing, L"No such device", L"別のアダプターを選んで"},
        {EMonitorFailure::NoAdapter, L"ネットワークアドレスが1つもありません",
         L"監視できるネットワークアダプターがありません"},
        {EMonitorFailure::Other, L"メモリーが足りません", nullptr},
    };
    for (const CCase& c : cases) {
        m_system.m_messageBoxes.clear();
        Capture().m_client->OnSockStarted();
        Capture().GetErr().SetErr(4008, c.detail);
        Capture().m_cause = c.cause;
        Capture().m_client->OnSockStopped();
        Tick();
        ASSERT_EQ(m_system.m_messageBoxes.size(), 1u);
        const std::wstring& text = m_system.m_messageBoxes[0].text;
        EXPECT_EQ(text.rfind(L"以下の理由で、ネットワークの監視に失敗しました", 0), 0u);
        EXPECT_NE(text.find(c.detail), std::wstring::npos);
        if (c.advice) {
            EXPECT_NE(text.find(c.advice), std::wstring::npos) << WideToUtf8(text);
        } else {
            EXPECT_TRUE(text.ends_with(c.detail)) << WideToUtf8(text);
        }
        EXPECT_EQ(text.find(L"cap_net_raw") != std::wstring::npos,
                  c.cause == EMonitorFailure::Permission);
        m_frame->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(kCmdFirstAdapter));
    }
}

TEST_F(MainFrameTest, CaptureThatCannotStartIsToldAndTheMenuStillListsTheAdapters)
{
    Capture().m_startWorks = false;
    Create();
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorIdle);
    EXPECT_EQ(Boxes(), std::vector<std::wstring>{LoadString(kMsgMonitorStartFailed)});
    // Without the capability the adapters are offered all the same, none
    // of them chosen.
    auto items = ShownAdapterItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, L"eth0\t198.18.0.1");
    EXPECT_EQ(items[1].text, L"wlan0\t198.18.0.2, 2001:2::2");
    EXPECT_TRUE(items[0].radio && items[1].radio);
    EXPECT_FALSE(items[0].checked || items[1].checked);

    m_adapters.clear();
    items = ShownAdapterItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, LoadString(kMsgNoAdapters));
    EXPECT_FALSE(items[0].enabled);
}

TEST_F(MainFrameTest, AdapterMenuIsMadeFromTheSystemEachTimeItOpens)
{
    Create();
    Capture().m_index = 1;
    Capture().m_client->OnSockStarted();
    auto items = ShownAdapterItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_TRUE(items[1].checked);

    // eth0 went, eth1 came: the watched one stays marked.
    m_adapters = {Adapter("wlan0", 2), Adapter("eth1", 3)};
    items = ShownAdapterItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, L"wlan0\t198.18.0.2");
    EXPECT_TRUE(items[0].checked);
    EXPECT_EQ(items[1].text, L"eth1\t198.18.0.3");

    // eth1 goes while its item is offered: choosing it says so and changes
    // nothing.
    m_adapters.pop_back();
    m_frame->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(kCmdFirstAdapter + 1));
    ASSERT_EQ(m_system.m_messageBoxes.size(), 1u);
    EXPECT_NE(m_system.m_messageBoxes[0].text.find(L"「eth1」"), std::wstring::npos);
    EXPECT_FALSE(Capture().m_stop);
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorRunning);
    EXPECT_EQ(m_setting.m_adapterName, L"wlan0");
    EXPECT_EQ(m_frame->GetTitleMenu().GetItemText(kCmdFirstAdapter + 1), L"");
}

TEST_F(MainFrameTest, SightingsReachTheListOnTheNextTickUnlessAPopupIsOpen)
{
    Create();
    auto person = std::make_shared<CZarumateData>();
    person->m_id = L"u1";
    person->m_name = L"ざる";
    Capture().m_client->OnZarumateFound(person);
    EXPECT_TRUE(m_frame->GetLayout().GetRecords().empty());
    Tick();
    ASSERT_EQ(m_frame->GetLayout().GetRecords().size(), 1u);
    EXPECT_EQ(m_frame->GetLayout().GetRecords()[0]->m_id, L"u1");
    EXPECT_NE(m_frame->GetLayout().GetRecords()[0]->m_updateTime.wYear, 0);
}

TEST_F(MainFrameTest, ShutdownStopsThreadsThenSavesSettingsBeforeTheList)
{
    // Both stores fail (a file where their folder should be), so the order
    // of the two messages shows the order of the saves.
    std::ofstream(m_home.Path() / "data") << "x";
    std::ofstream(m_home.Path() / "config") << "x";
    Create();
    m_frame->DestroyWindow();
    EXPECT_EQ(g_events, (std::vector<std::string>{"capture start", "capture terminate",
                                                  "capture wait", "pool shutdown", "pool wait"}));
    ASSERT_EQ(m_system.m_messageBoxes.size(), 2u);
    EXPECT_EQ(m_system.m_messageBoxes[0].text, LoadString(kMsgSaveSettingsFailed));
    EXPECT_EQ(m_system.m_messageBoxes[1].text.rfind(L"保存先フォルダーの作成に失敗しました", 0),
              0u);
    EXPECT_TRUE(m_system.m_quit);
}

TEST_F(MainFrameTest, ListThatFailedToLoadIsKeptOnYesAndOnEndOfSession)
{
    fs::path folder = m_home.Path() / "data" / "Brindlewerk" / "Zarumatekit";
    fs::create_directories(folder);
    const std::string damaged = "<ZarumateDataList><Zarumate><id>u1";
    std::ofstream(folder / "DefaultList.config") << damaged;
    auto contents = [&] {
        std::ifstream in(folder / "DefaultList.config");
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    Create();
    ASSERT_EQ(m_system.m_messageBoxes.size(), 1u); // the load failure
    EXPECT_EQ(m_system.m_messageBoxes[0].type, MB_ICONERROR);
    m_system.m_messageBoxAnswers.push_back(IDYES);
    m_frame->DestroyWindow();
    EXPECT_EQ(m_system.m_messageBoxes.back().text, LoadString(kMsgListNotLoaded));
    EXPECT_EQ(contents(), damaged);

    // At the end of a session nobody is asked and the file stays too; the
    // sequence runs once, whatever comes after.
    m_frame = MakeFrame();
    Create();
    std::size_t boxes = m_system.m_messageBoxes.size();
    m_frame->EndSession();
    m_frame->DestroyWindow();
    EXPECT_EQ(m_system.m_messageBoxes.size(), boxes);
    EXPECT_EQ(contents(), damaged);
    EXPECT_EQ(std::count(g_events.begin(), g_events.end(), "capture terminate"), 2);
}

TEST_F(MainFrameTest, AcceptedListIsSavedAtExitWithThePlacement)
{
    Create();
    auto person = std::make_shared<CZarumateData>();
    person->m_id = L"u9";
    person->m_name = L"なまえ";
    Capture().m_client->OnZarumateFound(person);
    Tick();
    m_frame->MoveWindow({40, 50, 300, 338});
    m_frame->DestroyWindow();

    CZarumateDataList loaded;
    CSimpleErr err;
    ASSERT_TRUE(LoadList(kDefaultListName, loaded, err)) << err.GetText();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->m_name, L"なまえ");
    CSetting again;
    ASSERT_TRUE(again.LoadSettings());
    EXPECT_EQ(again.m_windowRect, (RECT{40, 50, 300, 338}));
}

TEST_F(MainFrameTest, ChangedListReachesItsFileWithinThirtySeconds)
{
    std::uint32_t now = 0xFFFFF000u; // across the wrap of the clock
    m_frame->SetClock([&] { return now; });
    Create();
    auto person = std::make_shared<CZarumateData>();
    person->m_id = L"u5";
    person->m_name = L"あ";
    Capture().m_client->OnZarumateFound(person);
    Tick();
    auto saved = [] {
        CZarumateDataList list;
        CSimpleErr err;
        return LoadList(kDefaultListName, list, err) && list.size() == 1;
    };
    now += kAutosaveDelayMs - 25;
    Tick();
    EXPECT_FALSE(saved());
    now += 25;
    Tick();
    m_frame->WaitForAutosave();
    EXPECT_TRUE(saved());
}

TEST_F(MainFrameTest, DismissedExitQuestionKeepsTheDamagedFileAndTheRunBesideIt)
{
    const std::string damaged = PutDamagedList();
    Create();
    Report(L"u7");
    Tick();
    // Escape or the box's close button: no answer.
    m_system.m_messageBoxAnswers.push_back(IDCANCEL);
    m_frame->DestroyWindow();
    EXPECT_EQ(m_system.m_messageBoxes.back().text, LoadString(kMsgListNotLoaded));
    EXPECT_EQ(Contents(DataFolder() / "DefaultList.config"), damaged);
    std::vector<fs::path> beside = SideLists();
    ASSERT_EQ(beside.size(), 1u);
    EXPECT_EQ(IdsIn(beside[0]), std::vector<std::string>{"u7"});
    EXPECT_EQ(m_system.m_quitCode, 0);

    // The next start says where the run's list is.
    Restart();
    EXPECT_NE(m_system.m_messageBoxes.back().text.find(Utf8ToWide(beside[0].string())),
              std::wstring::npos);
    EXPECT_EQ(
        m_system.m_messageBoxes.back().text.rfind(LoadString(kMsgListKeptBeside).substr(0, 8), 0),
        0u);
}

TEST_F(MainFrameTest, SessionEndingUnderTheExitQuestionKeepsTheDamagedFile)
{
    const std::string damaged = PutDamagedList();
    Create();
    Report(L"u7");
    Tick();
    // The signal comes while the question is open; the box then ends with
    // whatever its loop answers, which no longer counts.
    int code = -1;
    m_system.m_whileBoxOpen = [&] { code = m_frame->EndSession(); };
    m_system.m_messageBoxAnswers.push_back(IDNO);
    m_frame->DestroyWindow();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Contents(DataFolder() / "DefaultList.config"), damaged);
    std::vector<fs::path> beside = SideLists();
    ASSERT_EQ(beside.size(), 1u);
    EXPECT_EQ(IdsIn(beside[0]), std::vector<std::string>{"u7"});

    // Ended without any question after a failed load, autosaves included:
    // every write goes beside the damaged file.
    fs::remove(beside[0]);
    std::uint32_t now = 0;
    m_setting = CSetting();
    m_frame = MakeFrame();
    m_frame->SetClock([&] { return now; });
    Create();
    Report(L"u8");
    Tick();
    now += kAutosaveDelayMs;
    Tick();
    m_frame->WaitForAutosave();
    ASSERT_EQ(SideLists().size(), 1u);
    EXPECT_EQ(IdsIn(SideLists()[0]), std::vector<std::string>{"u8"});
    Report(L"u9");
    std::size_t boxes = m_system.m_messageBoxes.size();
    EXPECT_EQ(m_frame->EndSession(), 0);
    EXPECT_EQ(m_system.m_messageBoxes.size(), boxes);
    EXPECT_EQ(Contents(DataFolder() / "DefaultList.config"), damaged);
    ASSERT_EQ(SideLists().size(), 1u);
    EXPECT_EQ(IdsIn(SideLists()[0]), (std::vector<std::string>{"u9", "u8"}));
}

// The answer that lets the run's list replace the damaged file also takes
// away the side file the autosaves wrote meanwhile; one that cannot be
// removed is told at the next start instead of lying there unknown.
TEST_F(MainFrameTest, ReplacedDamagedFileTakesTheRunsSideFileAway)
{
    std::uint32_t now = 0;
    auto autosaved = [&](const wchar_t* id) {
        Report(id);
        Tick();
        now += kAutosaveDelayMs;
        Tick();
        m_frame->WaitForAutosave();
    };
    PutDamagedList();
    m_frame->SetClock([&] { return now; });
    Create();
    autosaved(L"u7");
    ASSERT_EQ(SideLists().size(), 1u);
    Report(L"u8");
    m_system.m_messageBoxAnswers.push_back(IDNO);
    m_frame->DestroyWindow();
    EXPECT_EQ(m_system.m_messageBoxes.back().text, LoadString(kMsgListNotLoaded));
    EXPECT_EQ(IdsIn(DataFolder() / "DefaultList.config"), (std::vector<std::string>{"u8", "u7"}));
    EXPECT_TRUE(SideLists().empty());
    EXPECT_EQ(m_system.m_quitCode, 0);
    std::size_t boxes = m_system.m_messageBoxes.size();
    Restart();
    EXPECT_EQ(m_system.m_messageBoxes.size(), boxes) << "a list that loads needs no word";

    // Damaged again; this time something stands in the side file's place
    // that cannot be unlinked.
    m_frame->DestroyWindow();
    PutDamagedList();
    Restart();
    m_frame->SetClock([&] { return now; });
    autosaved(L"u9");
    ASSERT_EQ(SideLists().size(), 1u);
    fs::path side = SideLists()[0];
    fs::remove(side);
    fs::create_directories(side / "inside");
    m_system.m_messageBoxAnswers.push_back(IDNO);
    m_frame->DestroyWindow();
    EXPECT_EQ(IdsIn(DataFolder() / "DefaultList.config"), std::vector<std::string>{"u9"});
    Restart();
    EXPECT_NE(m_system.m_messageBoxes.back().text.find(Utf8ToWide(side.string())),
              std::wstring::npos);
}

// Exiting without saving keeps the damaged file; a side file the run's
// autosaves wrote stays, and the next start names it.
TEST_F(MainFrameTest, ExitWithoutSavingTellsOfTheSideFileTheAutosavesWrote)
{
    std::uint32_t now = 0;
    PutDamagedList();
    m_frame->SetClock([&] { return now; });
    Create();
    Report(L"u7");
    Tick();
    now += kAutosaveDelayMs;
    Tick();
    m_frame->WaitForAutosave();
    ASSERT_EQ(SideLists().size(), 1u);
    fs::path side = SideLists()[0];
    m_system.m_messageBoxAnswers.push_back(IDYES);
    m_frame->DestroyWindow();
    EXPECT_EQ(IdsIn(side), std::vector<std::string>{"u7"});
    Restart();
    EXPECT_NE(m_system.m_messageBoxes.back().text.find(Utf8ToWide(side.string())),
              std::wstring::npos);
}

TEST_F(MainFrameTest, ListThatCannotBeSavedAtSessionEndGoesToTheStateFolder)
{
    Create();
    Report(L"u5");
    Tick();
    // The data folder cannot be made: a file stands where it should be.
    fs::create_directories(m_home.Path() / "data" / "Brindlewerk");
    std::ofstream(DataFolder()) << "x";
    testing::internal::CaptureStderr();
    int code = m_frame->EndSession();
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(code, 0);
    EXPECT_EQ(m_system.m_quitCode, code);
    fs::path folder = m_home.Path() / "state" / "zarumatekit";
    ASSERT_TRUE(fs::is_directory(folder));
    std::vector<fs::path> kept{fs::directory_iterator(folder), fs::directory_iterator()};
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(IdsIn(kept[0]), std::vector<std::string>{"u5"});
    EXPECT_NE(said.find(kept[0].string()), std::string::npos) << said;

    fs::remove(DataFolder());
    Restart();
    EXPECT_NE(m_system.m_messageBoxes.back().text.find(Utf8ToWide(kept[0].string())),
              std::wstring::npos);
    // Told once.
    std::size_t boxes = m_system.m_messageBoxes.size();
    Restart();
    EXPECT_EQ(m_system.m_messageBoxes.size(), boxes);
}

TEST_F(MainFrameTest, WithoutAStateFolderTheListGoesToAPrivateTemporaryFolder)
{
    test::CScopedEnv state("XDG_STATE_HOME", (m_home.Path() / "nostate").string());
    fs::create_directories(m_home.Path() / "tmp");
    test::CScopedEnv tmp("TMPDIR", (m_home.Path() / "tmp").string());
    std::ofstream(m_home.Path() / "nostate") << "x"; // no folder can be made there
    Create();
    Report(L"u6");
    Tick();
    fs::create_directories(m_home.Path() / "data" / "Brindlewerk");
    std::ofstream(DataFolder()) << "x";
    testing::internal::CaptureStderr();
    EXPECT_NE(m_frame->EndSession(), 0);
    testing::internal::GetCapturedStderr();
    std::vector<fs::path> folders{fs::directory_iterator(m_home.Path() / "tmp"),
                                  fs::directory_iterator()};
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(fs::status(folders[0]).permissions() & fs::perms::all, fs::perms::owner_all);
    fs::path file = folders[0] / "DefaultList.config";
    EXPECT_EQ(IdsIn(file), std::vector<std::string>{"u6"});
    EXPECT_EQ(fs::status(file).permissions() & (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
}

TEST_F(MainFrameTest, FirstFailedAutosaveIsToldOnceWithItsReason)
{
    std::uint32_t now = 0;
    m_frame->SetClock([&] { return now; });
    Create();
    fs::create_directories(m_home.Path() / "data" / "Brindlewerk");
    std::ofstream(DataFolder()) << "x";
    std::size_t boxes = m_system.m_messageBoxes.size();
    for (const wchar_t* id : {L"a1", L"a2"}) {
        Report(id);
        Tick();
        now += kAutosaveDelayMs;
        Tick();
        m_frame->WaitForAutosave();
        Tick();
    }
    ASSERT_EQ(m_system.m_messageBoxes.size(), boxes + 1);
    const std::wstring& told = m_system.m_messageBoxes.back().text;
    EXPECT_NE(told.find(L"保存先フォルダーの作成に失敗しました"), std::wstring::npos) << told;
    EXPECT_EQ(m_system.m_messageBoxes.back().type, MB_ICONERROR);
}

TEST_F(MainFrameTest, FoundQueueKeepsOneSightingPerIdTheLatestLast)
{
    Create();
    m_system.m_whileBoxOpen = [&] {
        Report(L"p1");
        Report(L"p2");
        auto again = std::make_shared<CZarumateData>();
        again->m_id = L"p1";
        again->m_name = L"renamed";
        Capture().m_client->OnZarumateFound(again);
        Tick();
        EXPECT_TRUE(m_frame->GetLayout().GetRecords().empty());
        EXPECT_EQ(m_frame->GetLayout().GetFoundCount(), 2u);
    };
    m_frame->MsgBox(L"question", MB_OK);
    Tick();
    const CZarumateDataList& records = m_frame->GetLayout().GetRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]->m_id, L"p1");
    EXPECT_EQ(records[0]->m_name, L"renamed");
    EXPECT_EQ(records[1]->m_id, L"p2");

    // One person seen again and again under a box stays one sighting.
    m_system.m_whileBoxOpen = [&] {
        for (std::size_t i = 0; i < 3 * CZarumateLayout::kMaxHeldSightings; ++i)
            Report(L"p2");
        EXPECT_EQ(m_frame->GetLayout().GetFoundCount(), 1u);
    };
    m_frame->MsgBox(L"question", MB_OK);
    Tick();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]->m_id, L"p2");

    // A queue that grows to its cap under a box is merged anyway.
    m_system.m_whileBoxOpen = [&] {
        for (std::size_t i = 0; i < CZarumateLayout::kMaxHeldSightings; ++i)
            Report((L"c" + std::to_wstring(i)).c_str());
        Tick();
        EXPECT_EQ(m_frame->GetLayout().GetRecords().size(), CZarumateLayout::kMaxHeldSightings + 2);
    };
    m_frame->MsgBox(L"question", MB_OK);
}

TEST_F(MainFrameTest, SightingsHeldByAnOpenPopupAreSavedWhenTheSessionEnds)
{
    Create();
    m_system.m_whileBoxOpen = [&] {
        Report(L"late");
        EXPECT_EQ(m_frame->EndSession(), 0);
    };
    m_frame->MsgBox(L"question", MB_OK);
    CZarumateDataList loaded;
    CSimpleErr err;
    ASSERT_TRUE(LoadList(kDefaultListName, loaded, err));
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->m_id, L"late");
}

class MainFrameCommandTest : public MainFrameTest
{
protected:
    void SetUp() override
    {
        MainFrameTest::SetUp();
        Create();
        m_frame->MoveWindow({0, 0, 260, 288});
        for (const wchar_t* id : {L"u3", L"u2", L"u1"}) // u1 ends on top
            Find(id);
    }

    void Find(const wchar_t* id)
    {
        auto person = std::make_shared<CZarumateData>();
        person->m_id = id;
        person->m_name = std::wstring(L"name-") + id;
        Capture().m_client->OnZarumateFound(person);
        Tick();
    }

    // Right-clicks the cell of the given row and chooses the command in
    // its menu.
    void ChooseInCellMenu(int row, int command)
    {
        m_system.m_menuChoices.push_back(command);
        POINT inCell{60, 27 + 5 + 45 * row + 20};
        m_system.Click(*m_frame, inCell, CMouseButton::Right);
    }

    CWindow& Popup() { return *m_system.Peers().back()->window; }

    std::vector<std::wstring> Ids()
    {
        std::vector<std::wstring> ids;
        for (const auto& record : m_frame->GetLayout().GetRecords())
            ids.push_back(record->m_id);
        return ids;
    }
};

TEST_F(MainFrameCommandTest, CellMenuCopiesExactlyTheIdAndNeedsAPressedCell)
{
    ChooseInCellMenu(1, kCmdCopyId);
    EXPECT_EQ(m_system.m_clipboard, L"u2");
    ASSERT_EQ(m_system.m_menus.size(), 1u);
    EXPECT_EQ(m_system.m_menus[0].items.size(), 9u);

    m_frame->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(kCmdCopyId));
    EXPECT_EQ(Boxes(), std::vector<std::wstring>{LoadString(2006)});
}

TEST_F(MainFrameCommandTest, DeleteBelowTheLastCountsOneAndDeletesOnlyOnTheDeleteButton)
{
    std::wstring question;
    m_system.m_onNestedLoopIdle = [&] {
        question = dynamic_cast<CZaruMsgDlg&>(Popup()).GetLayout().GetText();
        Popup().PeerKeyDown(VK_ESCAPE); // answers 2
    };
    ChooseInCellMenu(2, kCmdDeleteBelow);
    EXPECT_EQ(question, L"name-u3 と過去の計 1 人のZarumateを消しますか？");
    EXPECT_EQ(Ids(), (std::vector<std::wstring>{L"u1", L"u2", L"u3"}));
    EXPECT_TRUE(m_frame->IsWindowEnabled());

    m_system.m_onNestedLoopIdle = [&] { Popup().PeerKeyDown(VK_RETURN); }; // answers 1
    ChooseInCellMenu(1, kCmdDeleteBelow);
    EXPECT_EQ(Ids(), std::vector<std::wstring>{L"u1"});
}

TEST_F(MainFrameCommandTest, DeletionAppliesToTheRecordTheQuestionNamed)
{
    // While the question is shown a new person arrives; it waits, and takes
    // the top after the question.
    m_system.m_onNestedLoopIdle = [&] {
        Find(L"u4");
        Popup().PeerKeyDown(VK_RETURN);
    };
    ChooseInCellMenu(0, kCmdDelete);
    EXPECT_EQ(Ids(), (std::vector<std::wstring>{L"u2", L"u3"}));
    Tick();
    EXPECT_EQ(Ids(), (std::vector<std::wstring>{L"u4", L"u2", L"u3"}));

    // A record that went meanwhile is not looked for at its old place.
    Tick();
    m_system.m_onNestedLoopIdle = [&] {
        m_frame->GetLayout().DeleteRecord(1);
        Popup().PeerKeyDown(VK_RETURN);
    };
    ChooseInCellMenu(1, kCmdDelete);
    EXPECT_EQ(Ids(), (std::vector<std::wstring>{L"u4", L"u3"}));
}

TEST_F(MainFrameCommandTest, PersonsFoundWhileTheDetailPopupIsOpenArriveAfterIt)
{
    bool wasOpen = false;
    std::vector<std::wstring> during;
    m_system.m_onNestedLoopIdle = [&] {
        wasOpen = m_frame->IsPopupOpen();
        Find(L"u9");
        during = Ids();
        Popup().PeerKeyDown(VK_ESCAPE);
    };
    m_system.Click(*m_frame, {60, 27 + 5 + 20});
    EXPECT_TRUE(wasOpen);
    EXPECT_FALSE(m_frame->IsPopupOpen());
    EXPECT_EQ(during, (std::vector<std::wstring>{L"u1", L"u2", L"u3"}));
    Tick();
    EXPECT_EQ(Ids(), (std::vector<std::wstring>{L"u9", L"u1", L"u2", L"u3"}));
}

TEST_F(MainFrameCommandTest, AnotherAvatarClickedWhileTheDetailPopupIsOpenShowsThatPerson)
{
    std::vector<std::wstring> shown;
    bool frameEnabled = false;
    int popups = 0;
    m_system.m_onNestedLoopIdle = [&] {
        auto& popup = dynamic_cast<CZarumateDataDlg&>(Popup());
        shown.push_back(popup.GetLayout().GetRecord()->m_id);
        frameEnabled = m_frame->IsWindowEnabled();
        std::size_t peers = m_system.Peers().size();
        m_system.PeerOf(popup)->active = false; // the click activates the main window
        m_system.Click(*m_frame, {60, 27 + 5 + 45 * 2 + 20});
        m_system.RunPending();
        shown.push_back(popup.GetLayout().GetRecord()->m_id);
        popups = static_cast<int>(m_system.Peers().size() - peers);
        EXPECT_TRUE(m_system.PeerOf(popup)->active); // back above the clicked window
        // The title buttons and the menus wait while the popup is open.
        m_system.Click(*m_frame, {100, 10}, CMouseButton::Right);
        EXPECT_TRUE(m_system.m_menus.empty());
        popup.PeerKeyDown(VK_ESCAPE);
    };
    m_system.Click(*m_frame, {60, 27 + 5 + 20});
    EXPECT_EQ(shown, (std::vector<std::wstring>{L"u1", L"u3"}));
    EXPECT_TRUE(frameEnabled);
    EXPECT_EQ(popups, 0);
    EXPECT_FALSE(m_frame->IsPopupOpen());
}

TEST_F(MainFrameCommandTest, WindowGoesOnPaintingUnderThePopupItsClickOpened)
{
    // The click's release holds the window's paints; what it opens runs a
    // loop of its own, in which the window paints as it goes.
    int painted = -1;
    m_system.m_onNestedLoopIdle = [&] {
        int before = m_system.PeerOf(*m_frame)->bitmapsShown;
        m_frame->Redraw();
        painted = m_system.PeerOf(*m_frame)->bitmapsShown - before;
        Popup().PeerKeyDown(VK_ESCAPE);
    };
    m_system.Click(*m_frame, {60, 27 + 5 + 20});
    EXPECT_EQ(painted, 1);
    EXPECT_FALSE(m_frame->IsPopupOpen());

    // Likewise under a question that a menu's command asks.
    painted = -1;
    m_system.m_onNestedLoopIdle = [&] {
        int before = m_system.PeerOf(*m_frame)->bitmapsShown;
        m_frame->Redraw();
        painted = m_system.PeerOf(*m_frame)->bitmapsShown - before;
        Popup().PeerKeyDown(VK_ESCAPE);
    };
    ChooseInCellMenu(1, kCmdDelete);
    EXPECT_EQ(painted, 1);
    EXPECT_EQ(Ids(), (std::vector<std::wstring>{L"u1", L"u2", L"u3"}));
}

TEST_F(MainFrameCommandTest, CellsAreNotLitWhileAnotherWindowOfTheProgramIsActive)
{
    auto litCells = [&] {
        int lit = 0;
        for (int slot = -2; slot < 10; ++slot) {
            CZarumateCell* cell = m_frame->GetLayout().GetCell(slot);
            lit += cell && cell->IsHot();
        }
        return lit;
    };
    m_system.Move(*m_frame, {60, 27 + 5 + 20});
    Tick();
    EXPECT_EQ(litCells(), 1);
    int litUnderQuestion = -1;
    m_system.m_onNestedLoopIdle = [&] {
        Tick();
        litUnderQuestion = litCells();
        Popup().PeerKeyDown(VK_ESCAPE);
    };
    ChooseInCellMenu(0, kCmdDelete);
    EXPECT_EQ(litUnderQuestion, 0);
    m_system.Move(*m_frame, {60, 27 + 5 + 20});
    Tick();
    EXPECT_EQ(litCells(), 1);
}

TEST_F(MainFrameCommandTest, RefreshShowsTheDownloadOnTheCellThenItsFailureUntilItWorks)
{
    // Reddish pixels (text in the failure colour, smoothed) in the band of
    // the row, as last shown.
    auto inRow = [&](int row) {
        const auto* peer = m_system.PeerOf(*m_frame);
        int count = 0;
        for (int y = 27 + 5 + 45 * row; y < 27 + 5 + 45 * (row + 1); ++y)
            for (int x = 0; x < peer->width; ++x) {
                std::uint32_t p = peer->bitmap[std::size_t(y) * peer->width + x];
                int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
                count += r > 0x80 && r > g + 0x40 && r > b + 0x40;
            }
        return count;
    };
    auto cellOf = [&](const wchar_t* id) {
        for (int slot = -2; slot < 10; ++slot) {
            CZarumateCell* cell = m_frame->GetLayout().GetCell(slot);
            if (cell && cell->GetRecord() && cell->GetRecord()->m_id == id)
                return cell;
        }
        return static_cast<CZarumateCell*>(nullptr);
    };
    std::size_t tasks = Pool().m_tasks.size();
    ChooseInCellMenu(1, kCmdRefreshImage);
    ASSERT_EQ(Pool().m_tasks.size(), tasks + 1);
    Tick();
    EXPECT_TRUE(cellOf(L"u2")->ShowsDownloadState());
    EXPECT_FALSE(cellOf(L"u1")->ShowsDownloadState());
    EXPECT_EQ(cellOf(L"u2")->GetRecord()->m_error.GetText(), L"ダウンロード中...");
    // The link icons have red in them too.
    int others = inRow(0);
    int downloading = inRow(1);

    auto task = Pool().m_tasks.back();
    task->GetErr().SetErr(2000);
    m_frame->OnDownloadImageTaskEnd(task);
    Tick();
    EXPECT_GT(inRow(1), downloading + 20);
    EXPECT_EQ(inRow(0), others);

    ChooseInCellMenu(1, kCmdRefreshImage);
    task = Pool().m_tasks.back();
    m_frame->OnDownloadImageTaskEnd(task);
    Tick();
    EXPECT_FALSE(cellOf(L"u2")->ShowsDownloadState());
    EXPECT_FALSE(cellOf(L"u2")->GetRecord()->m_error.HasErr());
    EXPECT_EQ(inRow(1), downloading);
}

TEST_F(MainFrameCommandTest, MenuKeyOpensTheMenuOfTheCellUnderThePointerOrTheTitleMenu)
{
    m_system.Move(*m_frame, {60, 27 + 5 + 45 + 20});
    m_system.m_menuChoices.push_back(kCmdCopyId);
    m_frame->PeerKeyDown(VK_APPS);
    ASSERT_EQ(m_system.m_menus.size(), 1u);
    EXPECT_EQ(m_system.m_menus[0].items.size(), 9u);
    EXPECT_EQ(m_system.m_clipboard, L"u2");

    // Over the title: the title menu where the pointer is.
    m_system.Move(*m_frame, {100, 10});
    m_frame->PeerKeyDown(VK_APPS);
    ASSERT_EQ(m_system.m_menus.size(), 2u);
    EXPECT_EQ(m_system.m_menus[1].screen, (POINT{100, 10}));
    EXPECT_NE(m_system.m_menus[1].items.size(), 9u);
    // Elsewhere: the title menu at the window's corner.
    m_system.m_cursor = {900, 900};
    m_frame->PeerKeyDown(VK_APPS);
    ASSERT_EQ(m_system.m_menus.size(), 3u);
    EXPECT_EQ(m_system.m_menus[2].screen, (POINT{kKeyMenuInset, kKeyMenuInset}));
    // The scroll keys still reach the list.
    m_frame->PeerKeyDown(VK_END);
    EXPECT_EQ(m_system.m_menus.size(), 3u);
}

TEST_F(MainFrameCommandTest, SightingsDuringMenusAndBoxesArriveAfterThem)
{
    // The cell menu, then the message box of a command it chose.
    m_system.m_whileBoxOpen = [&] {
        Find(L"m1");
        EXPECT_EQ(Ids(), (std::vector<std::wstring>{L"u1", L"u2", L"u3"}));
    };
    ChooseInCellMenu(0, kCmdRefreshImage);
    Tick();
    EXPECT_EQ(Ids(), (std::vector<std::wstring>{L"m1", L"u1", L"u2", L"u3"}));

    m_system.m_whileBoxOpen = [&] { Find(L"m2"); };
    m_frame->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(kCmdCopyId)); // 2006
    ASSERT_EQ(Boxes().back(), LoadString(2006));
    EXPECT_EQ(Ids().front(), L"m1");
    Tick();
    EXPECT_EQ(Ids().front(), L"m2");

    // The title menu.
    m_system.m_whileBoxOpen = [&] {
        Find(L"m3");
        EXPECT_EQ(Ids().front(), L"m2");
    };
    m_system.Click(*m_frame, {100, 10}, CMouseButton::Right);
    EXPECT_EQ(Ids().front(), L"m2");
    Tick();
    EXPECT_EQ(Ids().front(), L"m3");
}

TEST_F(MainFrameCommandTest, DeleteBelowWhileTheNamedPersonIsSeenAgainDeletesWhatItCounted)
{
    std::wstring question;
    m_system.m_onNestedLoopIdle = [&] {
        question = dynamic_cast<CZaruMsgDlg&>(Popup()).GetLayout().GetText();
        Find(L"u2"); // the named person's page arrives under the question
        Popup().PeerKeyDown(VK_RETURN);
    };
    ChooseInCellMenu(1, kCmdDeleteBelow);
    EXPECT_EQ(question, L"name-u2 と過去の計 2 人のZarumateを消しますか？");
    EXPECT_EQ(Ids(), std::vector<std::wstring>{L"u1"});
    // Then the sighting: the person is back, as seen just now.
    Tick();
    EXPECT_EQ(Ids(), (std::vector<std::wstring>{L"u2", L"u1"}));
}

// The window paints once a tick at most, and what it shows are the cells as
// the tick left them. A view scrolled down the list is where the list's own
// commands come back to the frame in the middle of the tick: a sighting moves
// the view to the top, a shorter list moves it up.
class MainFramePaintTest : public MainFrameTest
{
protected:
    static constexpr int kPeople = 40;

    void SetUp() override
    {
        MainFrameTest::SetUp();
        Create();
        for (int i = 0; i < kPeople; ++i)
            Report((L"p" + std::to_wstring(i)).c_str());
        Tick();
        m_frame->PeerKeyDown(VK_END);
        ASSERT_GT(Position(), 0);
        Tick();
        ASSERT_GT(Position(), 0);
    }

    int Position() const { return m_frame->GetLayout().GetScrollBar().GetPosition(); }
    test::CFakeWindowSystem::Peer& Peer() { return *m_system.PeerOf(*m_frame); }
    int Paints() { return Peer().bitmapsShown; }

    // Paints the window once more as it is now: a tick that painted stale
    // cells showed something else.
    bool ShowsWhatItHolds()
    {
        std::vector<std::uint32_t> shown = Peer().bitmap;
        int before = Paints();
        m_frame->Redraw();
        return !shown.empty() && Paints() == before + 1 && shown == Peer().bitmap;
    }

    static int IndexIn(const CZarumateDataList& records, const CZarumateDataPtr& record)
    {
        auto at = std::find(records.begin(), records.end(), record);
        return at == records.end() ? -1 : static_cast<int>(at - records.begin());
    }

    // The person in the topmost cell in view.
    std::wstring TopId()
    {
        for (const auto& cell : m_frame->GetLayout().GetCells()) {
            RECT rect = cell->GetRect();
            if (rect.bottom > m_frame->GetLayout().GetListRect().top && cell->GetRecord())
                return cell->GetRecord()->m_id;
        }
        return {};
    }
};

TEST_F(MainFramePaintTest, SightingOnAScrolledListPaintsOnceWithTheListAtTheTop)
{
    int before = Paints();
    Report(L"new");
    Tick();
    EXPECT_EQ(Paints(), before + 1);
    EXPECT_EQ(Position(), 0);
    EXPECT_EQ(TopId(), L"new");
    EXPECT_TRUE(ShowsWhatItHolds());

    // A person seen again goes to the top as well, in one paint.
    m_frame->PeerKeyDown(VK_END);
    before = Paints();
    Report(L"p3");
    Tick();
    EXPECT_EQ(Paints(), before + 1);
    EXPECT_EQ(TopId(), L"p3");
    EXPECT_TRUE(ShowsWhatItHolds());
}

TEST_F(MainFramePaintTest, ShorterListUnderTheScrolledViewPaintsOnceWithItsNewCells)
{
    // The range shrinks below the position while the cells are rebuilt.
    const CZarumateDataList& records = m_frame->GetLayout().GetRecords();
    std::vector<CZarumateDataPtr> gone(records.begin() + 2, records.end());
    m_frame->GetLayout().DeleteRecords(gone);
    int before = Paints();
    Tick();
    EXPECT_EQ(Paints(), before + 1);
    for (const auto& cell : m_frame->GetLayout().GetCells())
        EXPECT_TRUE(!cell->GetRecord() || IndexIn(records, cell->GetRecord()) >= 0);
    EXPECT_TRUE(ShowsWhatItHolds());
}

TEST_F(MainFramePaintTest, DeletingAllButTwoUnderTheScrolledViewShowsTheTwoAtTheTopInOnePaint)
{
    const CZarumateDataList& records = m_frame->GetLayout().GetRecords();
    std::wstring newest = records[0]->m_id;
    std::vector<CZarumateDataPtr> gone(records.begin() + 2, records.end());
    m_frame->GetLayout().DeleteRecords(gone);
    int before = Paints();
    Tick();
    EXPECT_EQ(Paints(), before + 1);
    EXPECT_EQ(Position(), 0);
    EXPECT_EQ(TopId(), newest);
    EXPECT_EQ(m_frame->GetLayout().GetFirstCellRect().top, m_frame->GetLayout().GetListRect().top);
    EXPECT_TRUE(ShowsWhatItHolds());
    before = Paints();
    Tick();
    EXPECT_EQ(Paints(), before);
}

TEST_F(MainFramePaintTest, ScrollButtonPaintsOnceAsItIsPressedAndOnceAsItScrolls)
{
    RECT frame = m_frame->GetWindowRect();
    const RECT& button = m_frame->GetLayout().GetUpButton().GetRect();
    POINT on{frame.left + (button.left + button.right) / 2,
             frame.top + (button.top + button.bottom) / 2};
    int position = Position();
    int before = Paints();
    m_system.Press(*m_frame, on);
    EXPECT_EQ(Paints(), before + 1);
    m_system.Release(*m_frame, on);
    EXPECT_EQ(Paints(), before + 2);
    EXPECT_LT(Position(), position);
    EXPECT_TRUE(ShowsWhatItHolds());
}

TEST_F(MainFramePaintTest, QuietTicksPaintNothingAndScrollingPaintsOnce)
{
    int before = Paints();
    Tick();
    Tick();
    EXPECT_EQ(Paints(), before);

    // The wheel and the keys scroll through the scroll bar's command, which
    // rebuilds the cells before the handler answers.
    RECT frame = m_frame->GetWindowRect();
    m_frame->PeerMouseWheel(120, {frame.left + 50, frame.top + 100}, 0);
    EXPECT_EQ(Paints(), before + 1);
    EXPECT_TRUE(ShowsWhatItHolds());
    before = Paints();
    m_frame->PeerKeyDown(VK_HOME);
    EXPECT_EQ(Paints(), before + 1);
    EXPECT_EQ(Position(), 0);
    EXPECT_EQ(TopId(), L"p39");
    EXPECT_TRUE(ShowsWhatItHolds());
    before = Paints();
    Tick();
    EXPECT_EQ(Paints(), before);
}

} // namespace
} // namespace zk
