#include "app/main_frame.h"
#include "friends/zarumate_list_file.h"
#include "support/fake_window_system.h"
#include "support/offscreen_gui.h"
#include "support/scoped_env.h"
#include "support/test_env.h"
#include "ui/zaru_msg_dlg.h"

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
class CFakeCapture : public CHasErr<CSimpleErr>
{
public:
    bool Start()
    {
        g_events.push_back("capture start");
        ++m_starts;
        return m_startWorks;
    }
    void Wait(unsigned) { g_events.push_back("capture wait"); }
    void SetStop(bool stop) { m_stop = stop; }
    void SetTerminate(bool terminate)
    {
        g_events.push_back("capture terminate");
        m_terminate = terminate;
    }
    bool IsTerminating() const { return m_terminate; }
    void SetClient(CZarumateSockClient* client) { m_client = client; }
    void SetAdapterName(const std::wstring& name) { m_name = name; }
    int GetAdapterIndex() const { return m_index; }
    const std::vector<std::wstring>& GetAdapterList() const { return m_adapters; }

    int m_starts = 0;
    bool m_startWorks = true;
    bool m_stop = false;
    bool m_terminate = false;
    CZarumateSockClient* m_client = nullptr;
    std::wstring m_name;
    int m_index = 0;
    std::vector<std::wstring> m_adapters{L"eth0", L"wlan0"};
};

class CFakePool
{
public:
    void PushTask(std::shared_ptr<CDownloadImageTask> task) { m_tasks.push_back(std::move(task)); }
    bool StartAll() { return true; }
    void SetShutdown(bool) { g_events.push_back("pool shutdown"); }
    void WaitAll(unsigned) { g_events.push_back("pool wait"); }

    std::vector<std::shared_ptr<CDownloadImageTask>> m_tasks;
};

using CTestFrame = CMainFrameImpl<CFakeCapture, CFakePool>;

class MainFrameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::EnsureOffscreenGui();
        g_events.clear();
        m_frame = std::make_unique<CTestFrame>(m_setting);
    }

    void TearDown() override
    {
        if (m_frame->IsWindow())
            m_frame->DestroyWindow();
    }

    void Create() { ASSERT_TRUE(m_frame->CreateMain()); }
    void Tick() { m_system.PeerOf(*m_frame)->window->PeerTimer(1); }
    CFakeCapture& Capture() { return m_frame->GetCapture(); }
    std::vector<std::wstring> Boxes() const
    {
        std::vector<std::wstring> texts;
        for (const auto& box : m_system.m_messageBoxes)
            texts.push_back(box.text);
        return texts;
    }

    test::CTempDir m_home;
    test::CScopedEnv m_data{"XDG_DATA_HOME", (m_home.Path() / "data").string()};
    test::CScopedEnv m_config{"XDG_CONFIG_HOME", (m_home.Path() / "config").string()};
    test::CFakeWindowSystem m_system;
    CSetting m_setting;
    std::unique_ptr<CTestFrame> m_frame;
};

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
    Capture().m_client->OnSockStopped();
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorFailed);
    Tick();
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorIdle);
    ASSERT_EQ(m_system.m_messageBoxes.size(), 2u);
    EXPECT_NE(m_system.m_messageBoxes[1].text.find(L"No such device"), std::wstring::npos);
    EXPECT_NE(m_system.m_messageBoxes[1].text.find(L"cap_net_raw"), std::wstring::npos);
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

TEST_F(MainFrameTest, CaptureThatCannotStartIsToldAndNoAdaptersLeaveTheLabel)
{
    m_frame->GetCapture().m_startWorks = false;
    m_frame->GetCapture().m_adapters.clear();
    Create();
    EXPECT_EQ(m_frame->GetMonitorState(), MonitorIdle);
    EXPECT_EQ(Boxes(), std::vector<std::wstring>{LoadString(kMsgMonitorStartFailed)});
    Capture().m_client->OnSockStarted();
    CMenu menu = m_frame->GetTitleMenu();
    EXPECT_EQ(menu.GetSubMenu(0)->GetSubMenu(0)->GetItemCount(), 1);
    EXPECT_EQ(menu.GetItemText(kCmdFirstAdapter), L"初期化中...");
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
    m_frame = std::make_unique<CTestFrame>(m_setting);
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
    EXPECT_TRUE(saved());
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
    // While the question is shown a new person arrives and takes the top.
    m_system.m_onNestedLoopIdle = [&] {
        Find(L"u4");
        Popup().PeerKeyDown(VK_RETURN);
    };
    ChooseInCellMenu(0, kCmdDelete);
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

TEST_F(MainFrameCommandTest, PersonsFoundWhileTheDetailPopupIsOpenAreDropped)
{
    bool wasOpen = false;
    m_system.m_onNestedLoopIdle = [&] {
        wasOpen = m_frame->IsPopupOpen();
        Find(L"u9");
        Popup().PeerKeyDown(VK_ESCAPE);
    };
    m_system.Click(*m_frame, {60, 27 + 5 + 20});
    EXPECT_TRUE(wasOpen);
    EXPECT_FALSE(m_frame->IsPopupOpen());
    EXPECT_EQ(Ids(), (std::vector<std::wstring>{L"u1", L"u2", L"u3"}));
}

} // namespace
} // namespace zk
