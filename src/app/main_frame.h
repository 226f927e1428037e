#pragma once

#include "app/list_rescue.h"
#include "app/list_saver.h"
#include "app/menu_resources.h"
#include "base/message_format.h"
#include "base/path.h"
#include "base/simple_err.h"
#include "capture/zarumate_sock.h"
#include "capture/zarumate_sock_client.h"
#include "fetch/download_image_task.h"
#include "fetch/download_image_task_client.h"
#include "fetch/task_thread_pool.h"
#include "friends/setting.h"
#include "friends/zarumate_list_file.h"
#include "platform/adapter_list.h"
#include "platform/menu.h"
#include "platform/message_loop.h"
#include "platform/system_clock.h"
#include "platform/text_convert.h"
#include "platform/tick_count.h"
#include "platform/ui_services.h"
#include "res/resource_ids.h"
#include "res/string_table.h"
#include "system/about_dlg.h"
#include "system/browser_launcher.h"
#include "system/setting_dlg.h"
#include "system/tls_key_log_file.h"
#include "ui/simple_msg_impl.h"
#include "ui/single_timer_impl.h"
#include "ui/skin_image.h"
#include "ui/zaru_delete_cancel_dlg.h"
#include "ui/zaru_frame_impl.h"
#include "ui/zarumate_cell.h"
#include "ui/zarumate_data_dlg.h"
#include "ui/zarumate_layout.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zk {

// The state of traffic monitoring, which the capture thread's reports and
// the timer move along.
enum MonitorState : int
{
    MonitorStarting,     // the capture thread was started and has not reported
    MonitorRunning,      // it watches an adapter
    MonitorFailed,       // it ended by itself
    MonitorIdle,         // nothing runs; the user was told why
    MonitorRestarting,   // another adapter was chosen; the thread was asked to stop
    MonitorRestartReady, // it stopped for the restart and must be started again
};

constexpr std::uint32_t kMsgProductTitle = 128;
constexpr std::uint32_t kMsgDeleteQuestion = 140;
constexpr std::uint32_t kMsgDeleteBelowQuestion = 141;
constexpr std::uint32_t kMsgNoPressedCell = 2006;
constexpr std::uint32_t kMsgCopyFailed = 2012;
constexpr std::uint32_t kMsgListNotLoaded = 142;
constexpr std::uint32_t kMsgSaveSettingsFailed = 1002;
constexpr std::uint32_t kMsgMonitorFailed = 1003;
// The same failure with the advice that fits another cause: a missing
// adapter, no adapter at all, or none.
constexpr std::uint32_t kMsgMonitorAdapterMissing = 1034;
constexpr std::uint32_t kMsgMonitorNoAdapter = 1035;
constexpr std::uint32_t kMsgMonitorFailedOther = 1036;

inline std::uint32_t MonitorFailedMessage(EMonitorFailure cause)
{
    switch (cause) {
    case EMonitorFailure::Permission:
        return kMsgMonitorFailed;
    case EMonitorFailure::AdapterMissing:
        return kMsgMonitorAdapterMissing;
    case EMonitorFailure::NoAdapter:
        return kMsgMonitorNoAdapter;
    case EMonitorFailure::None:
    case EMonitorFailure::Other:
        break;
    }
    return kMsgMonitorFailedOther;
}
constexpr std::uint32_t kMsgMonitorBusy = 1004;
constexpr std::uint32_t kMsgMonitorStartFailed = 1005;
constexpr std::uint32_t kMsgListKeptBeside = 1030;
constexpr std::uint32_t kMsgListKeptElsewhere = 1031;
constexpr std::uint32_t kMsgAutosaveFailed = 1032;
constexpr std::uint32_t kMsgAdapterGone = 1050;
constexpr std::uint32_t kMsgNoAdapters = 4004;
// The exit status of a run whose list could not be written to its file.
constexpr int kExitListNotSaved = 2;

constexpr int kMainFrameMinWidth = 156;
constexpr int kMainFrameMinHeight = 30;
constexpr int kMainFrameDefaultWidth = 260;
constexpr int kMainFrameDefaultHeight = 288;
constexpr unsigned kFrameTimerPeriodMs = 25;
// The title menu that a key opens while the pointer is elsewhere opens this
// far inside the window's corner.
constexpr int kKeyMenuInset = 10;
// At most this many adapters are offered in the monitoring menu.
constexpr int kMaxAdapterItems = kCmdLastAdapter - kCmdFirstAdapter + 1;
// A changed list reaches its file this long after the change at the latest,
// so that a crash or a power cut loses little of a run.
constexpr std::uint32_t kAutosaveDelayMs = 30000;
// No free name was found beside the damaged list (2013 names the folder).
constexpr std::uint32_t kErrSideListName = 2013;

// The program's only top-level window and the hub between the threads: it
// owns the list view, the capture thread and the image pool, takes their
// reports through locked queues, drives everything on screen from one 25 ms
// timer, and saves the settings and the list when it closes.
//
// The capture thread and the pool are template parameters so that tests run
// the frame with stand-ins; the program uses CZarumateSock and the image
// pool.
template <class TCapture, class TPool>
class CMainFrameImpl : public CZaruFrameImpl<CMainFrameImpl<TCapture, TPool>>,
                       public CMessageFilter,
                       public CIdleHandler,
                       public CZarumateSockClient,
                       public CDownloadImageTaskClient,
                       public CSingleTimerImpl<CMainFrameImpl<TCapture, TPool>, 100, 1>,
                       public CSimpleMsgImpl<CMainFrameImpl<TCapture, TPool>, 130, 133>
{
    using Self = CMainFrameImpl<TCapture, TPool>;
    using Frame = CZaruFrameImpl<Self>;
    using Timer = CSingleTimerImpl<Self, 100, 1>;

public:
    explicit CMainFrameImpl(CSetting& setting) : m_setting(setting)
    {
        m_layout.SetTitleLogo(LoadSkinImage(IDB_TITLE_LOGO));
        m_layout.AddRoundButton(IDB_CLOSE_SMALL, IDB_CLOSE_LARGE, HTCLOSE);
        m_layout.AddRoundButton(IDB_MINIMIZE_SMALL, IDB_MINIMIZE_LARGE, HTMINBUTTON);
        m_layout.SetDownloadClient(this);
        m_layout.SetTaskSink([this](std::shared_ptr<CDownloadImageTask> task) {
            m_pool.PushTask(std::move(task));
            m_pool.StartAll();
        });
        // While a question, a menu or a popup of the program is active the
        // cells are not lit; the pointer over them counts again once this
        // window is active (the user clicked into it).
        m_layout.SetPointerHidden([this] { return m_modalDepth > 0 && !this->IsActiveWindow(); });
        // The cell menu sends its choice while the cell is still marked.
        m_layout.SetCellMenu([this](CZarumateCell&, POINT at) {
            auto menu = LoadMenuResource(kCellMenuId);
            int chosen = 0;
            {
                auto held = HoldSightings();
                chosen = TrackPopupMenu(*menu->GetSubMenu(0),
                                        TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at, this);
            }
            if (chosen != 0)
                this->SendMessage(WM_COMMAND, CWindow::MakeCommandParam(chosen));
        });
    }

    // Makes the window with the frame's traits and title; the creation
    // sequence places and shows it.
    bool CreateMain()
    {
        return this->CreateEx(nullptr, {0, 0, kMainFrameDefaultWidth, kMainFrameDefaultHeight},
                              LoadString(kMsgProductTitle));
    }

    CZarumateLayout& GetLayout() { return m_layout; }
    // The list view places the frame, its cells and the scroll column.
    void Layout() override { m_layout.LayoutView(this); }
    // The millisecond clock of the timer's work; tests set their own.
    void SetClock(std::function<std::uint32_t()> clock) { m_clock = std::move(clock); }
    // Lists the system's adapters for the monitoring menu; tests set their
    // own.
    using AdapterLister = std::function<int(std::vector<CNetworkAdapter>&)>;
    void SetAdapterLister(AdapterLister lister) { m_listAdapters = std::move(lister); }
    TCapture& GetCapture() { return m_capture; }
    TPool& GetPool() { return m_pool; }
    MonitorState GetMonitorState() const { return m_monitorState.load(); }
    bool IsPopupOpen() const { return m_popupOpen.load(); }
    const CSimpleErr& GetListLoadErr() const { return m_listLoadErr; }
    // The file this run writes its list to after a failed load, beside the
    // damaged one; empty while the list loaded.
    const std::wstring& GetSideListName() const { return m_sideListName; }
    // Tests: waits until an autosave in flight has written its file.
    void WaitForAutosave() { m_saver.Wait(); }
    bool IsAutosaving() const { return m_saver.IsBusy(); }

    // Every modal thing the frame shows (popups, questions, message boxes,
    // menus, dialogs) holds the sightings while it is open.
    using Msg = CSimpleMsgImpl<Self, 130, 133>;
    int MsgBox(const std::wstring& text, std::uint32_t type)
    {
        auto held = HoldSightings();
        return Msg::MsgBox(text, type);
    }
    int MsgBox(std::uint32_t textId, std::uint32_t type)
    {
        return MsgBox(LoadString(textId), type);
    }

    // A copy of the title menu as it is now.
    CMenu GetTitleMenu() const
    {
        std::lock_guard<std::mutex> guard(m_menuLock);
        return *m_titleMenu;
    }

    // The end of the session (a signal, the session manager, the display
    // gone): saves everything without asking anybody, as nobody can answer
    // now, also when a question of the exit is open, and ends the message
    // loop. Answers the exit status: not 0 when the list missed its file.
    int EndSession()
    {
        Shutdown(false);
        PostQuitMessage(m_exitCode);
        return m_exitCode;
    }

    // The capture thread's reports.
    void OnSockStarted() override
    {
        const auto& names = m_capture.GetAdapterList();
        int index = m_capture.GetAdapterIndex();
        if (index >= 0 && index < static_cast<int>(names.size()))
            m_setting.m_adapterName = names[index];
        m_monitorState = MonitorRunning;
        RebuildAdapterItems();
    }

    void OnSockStopped() override
    {
        if (m_capture.IsTerminating())
            return;
        m_monitorState =
            m_monitorState.load() == MonitorRestarting ? MonitorRestartReady : MonitorFailed;
    }

    // Also while a popup is open: the sighting waits in the found queue.
    void OnZarumateFound(const CZarumateDataPtr& data) override { m_layout.QueueFound(data); }

    // An image worker's report.
    void OnDownloadImageTaskEnd(std::shared_ptr<CDownloadImageTask> task) override
    {
        m_layout.QueueImageResult(std::move(task));
    }

    // Accelerators carry only commands nobody takes; nothing is filtered.
    bool PreTranslateMessage(MSG& /*msg*/) override { return false; }
    bool OnIdle() override { return false; }

protected:
    int OnCreate() override
    {
        m_popupOpen = false;
        if (CMessageLoop* loop = GetMessageLoop()) {
            loop->AddMessageFilter(this);
            loop->AddIdleHandler(this);
        }
        {
            std::lock_guard<std::mutex> guard(m_menuLock);
            m_titleMenu = LoadMenuResource(kTitleMenuId);
            m_initialisingLabel = MonitorMenu().GetItemText(kCmdFirstAdapter);
        }

        m_setting.m_list.Clear();
        if (!LoadList(kDefaultListName, m_setting.m_list, m_listLoadErr)) {
            // The damaged file waits for the user's word at exit; this run's
            // list goes beside it meanwhile.
            m_sideListName = MakeSideListName(GetDataFolder(), GetSystemTimeUtc());
            this->MsgBox(m_listLoadErr.GetText(), MB_ICONERROR);
        }
        TellWhereLastListWent();
        m_layout.LoadRecords(m_setting.m_list);
        m_savedChangeCount = m_layout.GetChangeCount();

        RECT rect;
        if (m_setting.GetRestoreRect(kPlacementIntoScreen, GetVirtualScreenRect(), rect)) {
            this->MoveWindow(rect, false);
        } else {
            RECT work = GetPrimaryMonitor().work;
            int x = work.left + static_cast<int>((work.Width() - kMainFrameDefaultWidth) / 2);
            int y = work.top + static_cast<int>((work.Height() - kMainFrameDefaultHeight) / 2);
            this->MoveWindow({x, y, x + kMainFrameDefaultWidth, y + kMainFrameDefaultHeight},
                             false);
        }
        this->ShowWindow(SW_SHOW);
        this->SetTimerPeriod(kFrameTimerPeriodMs);
        this->StartTimer();
        // The system has no per-program inbound firewall here: a packet
        // socket sees the traffic before any filter, so there is no rule to
        // refresh.
        StartMonitoring();
        return 0;
    }

    void OnDestroy() override
    {
        if (CMessageLoop* loop = GetMessageLoop()) {
            loop->RemoveMessageFilter(this);
            loop->RemoveIdleHandler(this);
        }
        this->StopTimer();
        Shutdown(true);
        PostQuitMessage(m_exitCode);
    }

    void OnEndSession(bool ending) override
    {
        if (ending)
            Shutdown(false);
    }

    void OnGetMinMaxInfo(SIZE& least) override
    {
        least = {kMainFrameMinWidth, kMainFrameMinHeight};
    }

    void OnTimer(int id) override
    {
        if (id != Timer::kTimerId)
            return;
        StepMonitoring();
        PollUrlHandlers();
        // The list tells how the watching stands (the adapter's name is
        // settled once the thread reported its start).
        MonitorState state = m_monitorState.load();
        m_layout.SetWatchState(state == MonitorRunning ? CWatchState::Watching
                               : state == MonitorIdle  ? CWatchState::Stopped
                                                       : CWatchState::Starting,
                               state == MonitorRunning ? m_setting.m_adapterName : std::wstring());
        std::uint32_t now = m_clock();
        bool redraw = m_layout.Tick(now);
        Autosave(now);
        if (redraw)
            this->Redraw();
    }

    bool OnSetCursor(int hitCode) override
    {
        if (hitCode != HTCLIENT)
            return false;
        return m_layout.OnSetCursor(*this);
    }

    // While the detail popup is open this window stays enabled so that a
    // click on another person shows that one in the popup; everything else
    // of the window (its title buttons, its menus, the edges) waits.
    int OnNcHitTest(POINT screen) override
    {
        int hit = Frame::OnNcHitTest(screen);
        return m_detail && hit != HTCLIENT ? HTNOWHERE : hit;
    }

    void OnLButtonDown(std::uint32_t keys, POINT point) override
    {
        if (m_detail && !m_layout.CellAt(point))
            return;
        if (m_layout.OnLButtonDown(keys, point))
            this->Redraw();
    }

    void OnLButtonUp(std::uint32_t keys, POINT point) override
    {
        if (m_layout.OnLButtonUp(keys, point))
            this->Redraw();
    }

    void OnMouseMove(std::uint32_t keys, POINT point) override
    {
        if (m_layout.OnMouseMove(keys, point))
            this->Redraw();
    }

    void OnMouseWheel(std::uint32_t /*keys*/, int delta, POINT /*screen*/) override
    {
        if (m_layout.OnMouseWheel(delta))
            this->Redraw();
    }

    void OnCaptureChanged(CWindow* newCapture) override
    {
        if (m_layout.OnCaptureChanged(newCapture))
            this->Redraw();
    }

    // The menu key (or Shift+F10) opens the menu of the cell under the
    // pointer, else the title menu: at the pointer while it is over the
    // window, otherwise at the title.
    void OnKeyDown(int key) override
    {
        if (key != VK_APPS) {
            Frame::OnKeyDown(key);
            return;
        }
        RECT frame = this->GetWindowRect();
        POINT pointer = GetCursorPos();
        if (!PtInRect(frame, pointer))
            pointer = {frame.left + kKeyMenuInset, frame.top + kKeyMenuInset};
        OnContextMenu(pointer);
    }

    void OnContextMenu(POINT screen) override
    {
        if (m_detail)
            return;
        if (m_layout.OnContextMenu(screen))
            return;
        ShowTitleMenu(screen);
    }

    void OnCommand(int /*code*/, int id) override
    {
        if (m_layout.OnCommand(id)) {
            this->Redraw();
            return;
        }
        if (id >= kCmdFirstAdapter && id <= kCmdLastAdapter) {
            ChooseAdapter(id - kCmdFirstAdapter);
            return;
        }
        OnFrameCommand(id);
    }

    // The commands of the cells and the menus.
    void OnFrameCommand(int id)
    {
        switch (id) {
        case CZarumateCell::kCommandId:
            ShowDetail();
            return;
        case kCmdDelete:
        case kCmdDeleteBelow:
            DeleteAfterQuestion(id == kCmdDeleteBelow);
            return;
        case kCmdRefreshImage:
            if (CZarumateDataPtr record = PressedRecord()) {
                m_layout.RefreshImage(record);
                this->Redraw();
            }
            return;
        case kCmdCopyId:
            if (CZarumateDataPtr record = PressedRecord()) {
                if (!SetClipboardText(record->m_id))
                    this->MsgBox(kMsgCopyFailed, MB_ICONERROR);
            }
            return;
        case kCmdSettings: {
            // Only the browser and the key log come back from the dialog: the
            // adapter went on changing while it was open.
            auto held = HoldSightings();
            if (EditSettings(this, m_setting))
                UseTlsKeyLog();
            return;
        }
        case kCmdStartTlsBrowser:
            OpenUrl(m_setting.m_browserPath, std::wstring(L"https://") + kMicroblogHost + L"/");
            return;
        case kCmdAbout: {
            auto held = HoldSightings();
            CAboutDlg().DoModal(this);
            return;
        }
        default:
            break;
        }
        const auto& links = CZarumateCell::kLinkCommandIds;
        if (std::find(links.begin(), links.end(), id) != links.end()) {
            if (CZarumateDataPtr record = PressedRecord())
                OpenUrl(m_setting.m_browserPath, CZarumateDataDlg::PageUrl(*record, id));
        }
    }

private:
    // Holds the sightings for as long as it lives; nests.
    class CHeldSightings
    {
    public:
        explicit CHeldSightings(Self& frame) : m_frame(frame)
        {
            if (m_frame.m_modalDepth++ == 0)
                m_frame.m_layout.HoldFound(true);
        }
        ~CHeldSightings()
        {
            if (--m_frame.m_modalDepth == 0)
                m_frame.m_layout.HoldFound(false);
        }
        CHeldSightings(const CHeldSightings&) = delete;
        CHeldSightings& operator=(const CHeldSightings&) = delete;

    private:
        Self& m_frame;
    };
    [[nodiscard]] CHeldSightings HoldSightings() { return CHeldSightings(*this); }

    // The record of the pressed cell; without one the user is told.
    CZarumateDataPtr PressedRecord()
    {
        CZarumateCell* cell = m_layout.GetPressedCell();
        if (cell && cell->GetRecord())
            return cell->GetRecord();
        this->MsgBox(kMsgNoPressedCell, MB_ICONERROR);
        return nullptr;
    }

    static std::wstring FormatQuestion(std::uint32_t id, std::initializer_list<CFormatArg> args)
    {
        std::wstring format = LoadString(id);
        return FormatMessageText(format, args, format.size() + CSimpleErr::kFormatSlack);
    }

    int IndexOf(const CZarumateDataPtr& record) const
    {
        const CZarumateDataList& records = m_layout.GetRecords();
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (records[i] == record)
                return static_cast<int>(i);
        }
        return -1;
    }

    // A cell clicked while the popup is open shows its person in it.
    void ShowDetail()
    {
        CZarumateDataPtr record = PressedRecord();
        if (!record)
            return;
        if (m_detail) {
            m_detail->ShowRecord(record);
            return;
        }
        // The clicked cell still holds the mouse and counts as pressed while
        // its click goes out; the next person's cell must get both.
        if (CZarumateCell* opener = m_layout.GetPressedCell())
            opener->SetPressed(false);
        if (CWindow::GetCapture() == this)
            CWindow::ReleaseCapture();
        m_popupOpen = true;
        {
            auto held = HoldSightings();
            CZarumateDataDlg popup(
                [this](const std::wstring& url) { OpenUrl(m_setting.m_browserPath, url); });
            popup.SetRecord(record);
            popup.SetOwnerStaysEnabled(true);
            m_layout.SetPopup(&popup);
            m_detail = &popup;
            popup.DoModal(this);
            m_detail = nullptr;
            m_layout.SetPopup(nullptr);
        }
        m_popupOpen = false;
    }

    // The answer applies to exactly the records the question named and
    // counted. Sightings wait while it is open, but the list can still
    // change under it (a full found queue, the exit), so they are found
    // again afterwards: nothing is deleted when the named one went, and a
    // record that went meanwhile is not looked for.
    void DeleteAfterQuestion(bool andBelow)
    {
        CZarumateDataPtr record = PressedRecord();
        if (!record)
            return;
        int index = IndexOf(record);
        if (index < 0)
            return;
        const CZarumateDataList& records = m_layout.GetRecords();
        std::vector<CZarumateDataPtr> named{record};
        std::wstring text;
        if (andBelow) {
            named.assign(records.begin() + index, records.end());
            long long count = static_cast<long long>(named.size());
            text =
                FormatQuestion(kMsgDeleteBelowQuestion, {std::wstring_view(record->m_name), count});
        } else {
            text = FormatQuestion(kMsgDeleteQuestion, {std::wstring_view(record->m_name)});
        }
        {
            auto held = HoldSightings();
            CZaruDeleteCancelDlg popup;
            popup.SetText(text);
            if (popup.DoModal(this) != CZaruDeleteCancelDlg::kDeleteId)
                return;
        }
        if (m_shutDown || IndexOf(record) < 0)
            return;
        m_layout.DeleteRecords(named);
    }

    // The key log the browsers the program starts write. The capture
    // thread reads it too; it takes a changed one when it starts again.
    std::wstring UseTlsKeyLog()
    {
        std::wstring keyLog = FindTlsKeyLogFile(m_setting.m_tlsKeyLogPath);
        SetBrowserTlsKeyLogFile(keyLog);
        return keyLog;
    }

    CMenu& MonitorMenu()
    {
        return *m_titleMenu->GetSubMenu(0)->GetSubMenu(kMonitorSubMenuPosition);
    }

    void StartMonitoring()
    {
        m_monitorState = MonitorStarting;
        m_capture.SetClient(this);
        m_capture.SetAdapterName(m_setting.m_adapterName);
        std::wstring keyLog = UseTlsKeyLog();
        if constexpr (requires { m_capture.SetTlsKeyLogFile(std::string()); })
            m_capture.SetTlsKeyLogFile(WideToUtf8(keyLog));
        if (!m_capture.Start()) {
            m_monitorState = MonitorIdle;
            this->MsgBox(kMsgMonitorStartFailed, MB_ICONERROR);
        }
    }

    // Only after a failure or a restart request does the timer act: it
    // collects the ended thread, then tells the user or starts again.
    void StepMonitoring()
    {
        MonitorState state = m_monitorState.load();
        if (state != MonitorFailed && state != MonitorRestartReady)
            return;
        m_capture.Wait(INFINITE);
        if (state == MonitorRestartReady) {
            StartMonitoring();
            return;
        }
        m_monitorState = MonitorIdle;
        RebuildAdapterItems();
        CSimpleErr message;
        message.SetErr(MonitorFailedMessage(m_capture.GetFailureCause()),
                       m_capture.GetErr().GetText());
        this->MsgBox(message.GetText(), MB_OK);
    }

    // The adapters as the system has them now, each with its addresses
    // beside its name, the watched one marked as the radio choice. It needs
    // no capability: without one the user still sees what there is.
    void RebuildAdapterItems()
    {
        std::vector<CNetworkAdapter> adapters;
        m_listAdapters(adapters);
        int count = std::min<int>(static_cast<int>(adapters.size()), kMaxAdapterItems);
        bool watching = m_monitorState.load() == MonitorRunning;
        // The capture thread's start report rebuilds it too.
        std::lock_guard<std::mutex> guard(m_menuLock);
        m_adapterNames.clear();
        CMenu& menu = MonitorMenu();
        menu.RemoveAll();
        int watched = kCmdFirstAdapter - 1;
        for (int i = 0; i < count; ++i) {
            std::wstring name = Utf8ToWide(adapters[i].m_name);
            std::string addresses = FormatAdapterAddresses(adapters[i]);
            std::wstring text = name;
            if (!addresses.empty())
                text += L"\t" + Utf8ToWide(addresses);
            menu.InsertItem(-1, CMenu::Command(kCmdFirstAdapter + i, text));
            if (watching && name == m_setting.m_adapterName)
                watched = kCmdFirstAdapter + i;
            m_adapterNames.push_back(std::move(name));
        }
        if (count == 0) {
            // Waiting for the capture's start, or none there.
            MonitorState state = m_monitorState.load();
            bool starting = state == MonitorStarting || state == MonitorRestarting ||
                            state == MonitorRestartReady;
            CMenu::Item none = CMenu::Command(
                kCmdFirstAdapter, starting ? m_initialisingLabel : LoadString(kMsgNoAdapters));
            none.enabled = false;
            menu.InsertItem(-1, std::move(none));
            return;
        }
        menu.CheckRadioItem(kCmdFirstAdapter, kCmdLastAdapter, watched);
    }

    void ChooseAdapter(int index)
    {
        MonitorState state = m_monitorState.load();
        if (state != MonitorRunning && state != MonitorIdle) {
            this->MsgBox(kMsgMonitorBusy, MB_ICONERROR);
            return;
        }
        std::wstring name;
        {
            std::lock_guard<std::mutex> guard(m_menuLock);
            if (index < static_cast<int>(m_adapterNames.size()))
                name = m_adapterNames[index];
        }
        if (!name.empty()) {
            // The menu was made when it opened: the adapter may have gone
            // since, and the capture would then quietly take another one.
            std::vector<CNetworkAdapter> adapters;
            m_listAdapters(adapters);
            bool present = std::any_of(adapters.begin(), adapters.end(),
                                       [&](const auto& a) { return Utf8ToWide(a.m_name) == name; });
            if (!present) {
                RebuildAdapterItems();
                CSimpleErr message;
                message.SetErr(kMsgAdapterGone, name);
                this->MsgBox(message.GetText(), MB_ICONERROR);
                return;
            }
            m_setting.m_adapterName = name;
        }
        if (state == MonitorRunning) {
            m_monitorState = MonitorRestarting;
            m_capture.SetStop(true);
            return;
        }
        StartMonitoring();
    }

    void ShowTitleMenu(POINT screen)
    {
        RECT work = MonitorFromPoint(screen).work;
        screen.x = std::clamp(screen.x, work.left, std::max(work.left, work.right - 1));
        RebuildAdapterItems();
        CMenu shown = *GetTitleMenu().GetSubMenu(0);
        auto held = HoldSightings();
        TrackPopupMenu(shown, TPM_RIGHTBUTTON, screen, this);
    }

    // Writes the on-screen list to its file a while after it changed, on
    // the saver's thread: only the copy is made here. After a failed load
    // it goes to the side file, never over the damaged one: the user
    // decides about that one at exit.
    void Autosave(std::uint32_t now)
    {
        if (m_shutDown)
            return;
        ReportAutosave();
        std::uint64_t changes = m_layout.GetChangeCount();
        if (changes == m_savedChangeCount)
            return;
        if (!m_autosavePending) {
            m_autosavePending = true;
            m_autosaveDue = now + kAutosaveDelayMs;
            return;
        }
        if (static_cast<std::int32_t>(now - m_autosaveDue) < 0 || m_saver.IsBusy())
            return;
        std::wstring name = ListFileName();
        if (name.empty())
            return;
        m_autosavePending = false;
        m_savedChangeCount = changes;
        m_saver.Start(GetDataFolder(), name, m_layout.GetRecords());
    }

    // The first failed autosave of the run is told, with its reason; the
    // ones after it are not, and the exit tries again anyway.
    void ReportAutosave()
    {
        bool saved = false;
        CSimpleErr err;
        if (!m_saver.TakeResult(saved, err) || saved || m_autosaveFailureShown)
            return;
        m_autosaveFailureShown = true;
        CSimpleErr message;
        message.SetErr(kMsgAutosaveFailed, err.GetText());
        this->MsgBox(message.GetText(), MB_ICONERROR);
    }

    // The list's file: the usual one, or after a failed load the side file.
    std::wstring ListFileName() const
    {
        return m_listLoadErr.HasErr() ? m_sideListName : std::wstring(kDefaultListName);
    }

    // A run that had to keep its list elsewhere left its place in the
    // settings: the user is told once.
    void TellWhereLastListWent()
    {
        std::wstring path = std::move(m_setting.m_savedListFile);
        m_setting.m_savedListFile.clear();
        if (path.empty())
            return;
        bool beside = path.rfind(JoinPath(GetDataFolder(), L""), 0) == 0;
        CSimpleErr message;
        message.SetErr(beside ? kMsgListKeptBeside : kMsgListKeptElsewhere, path);
        this->MsgBox(message.GetText(), MB_ICONINFORMATION);
    }

    // The end of the run, once, whatever asks for it first: the threads are
    // stopped and waited for, the held sightings merged, then the settings
    // and the list are saved. The end of the session may come while a box
    // of this sequence is open: it then finishes the sequence itself, as if
    // nobody were there, and the box's answer no longer counts.
    void Shutdown(bool userPresent)
    {
        if (!m_shutDown) {
            m_shutDown = true;
            m_capture.SetTerminate(true);
            m_capture.Wait(INFINITE);
            m_pool.SetShutdown(true);
            m_pool.WaitAll(INFINITE);
            m_layout.MergeFound();
            m_saver.Wait();
            m_layout.StoreRecords(m_setting.m_list);
            m_setting.CaptureWindowPlacement(false, this->IsIconic(), this->GetWindowRect());
            if (!m_setting.SaveSettings() && userPresent)
                this->MsgBox(kMsgSaveSettingsFailed, MB_ICONERROR);
        }
        SaveListAtExit(userPresent);
    }

    void SaveListAtExit(bool userPresent)
    {
        if (m_listSaved)
            return;
        if (m_listLoadErr.HasErr()) {
            // Only a Yes or a No decides about the damaged file; anything
            // else keeps it, and the run's list goes beside it.
            int answer = IDCANCEL;
            if (userPresent)
                answer = this->MsgBox(kMsgListNotLoaded, MB_YESNO | MB_ICONQUESTION);
            if (m_listSaved)
                return;
            m_listSaved = true;
            if (answer == IDYES)
                return;
            if (answer != IDNO) {
                SaveListTo(m_sideListName, userPresent);
                return;
            }
        }
        m_listSaved = true;
        SaveListTo(kDefaultListName, userPresent);
    }

    // A list that misses its file is never lost quietly: it goes to the
    // fallback place, the next start says where, stderr says so now, and the
    // run ends with a status that is not 0.
    void SaveListTo(const std::wstring& name, bool userPresent)
    {
        CSimpleErr err;
        if (!name.empty() && SaveListIn(GetDataFolder(), name, m_setting.m_list, err)) {
            if (name != kDefaultListName)
                RecordListPlace(JoinPath(GetDataFolder(), name));
            return;
        }
        if (name.empty())
            err.SetErr(kErrSideListName, GetDataFolder());
        m_exitCode = kExitListNotSaved;
        std::wstring path;
        CSimpleErr asideErr;
        std::string reason = WideToUtf8(err.GetText());
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        if (SaveListAside(m_setting.m_list, kDefaultListName, path, asideErr)) {
            RecordListPlace(path);
            std::fprintf(stderr,
                         "zarumatekit: the friend list could not be saved (%s); it was "
                         "written to %s\n",
                         reason.c_str(), WideToUtf8(path).c_str());
        } else {
            std::fprintf(stderr,
                         "zarumatekit: the friend list could not be saved (%s), nor anywhere "
                         "else (%s): %zu friends are lost\n",
                         reason.c_str(), WideToUtf8(asideErr.GetText()).c_str(),
                         m_setting.m_list.size());
        }
        if (userPresent)
            this->MsgBox(err.GetText(), MB_ICONERROR);
    }

    void RecordListPlace(const std::wstring& path)
    {
        m_setting.m_savedListFile = path;
        m_setting.SaveSettings();
    }

    CSetting& m_setting;
    std::wstring m_initialisingLabel;
    std::atomic<MonitorState> m_monitorState{MonitorIdle};
    // The names of the adapters the monitoring menu offers, in its order
    // (under the menu's lock).
    std::vector<std::wstring> m_adapterNames;
    AdapterLister m_listAdapters = ListNetworkAdapters;
    std::atomic<bool> m_popupOpen{false};
    // The open detail popup, or nullptr.
    CZarumateDataDlg* m_detail = nullptr;
    int m_modalDepth = 0;
    CSimpleErr m_listLoadErr;
    std::wstring m_sideListName;
    CZarumateLayout m_layout;
    TCapture m_capture;
    TPool m_pool;

    // The title menu is rebuilt by the capture thread's start report while
    // the window may show it.
    mutable std::mutex m_menuLock;
    std::shared_ptr<CMenu> m_titleMenu;

    std::function<std::uint32_t()> m_clock = TickCountMs;
    bool m_shutDown = false;
    std::uint64_t m_savedChangeCount = 0;
    bool m_autosavePending = false;
    std::uint32_t m_autosaveDue = 0;
    bool m_autosaveFailureShown = false;
    bool m_listSaved = false;
    int m_exitCode = 0;
    // Declared last: its thread reads only its own copy, and it is waited
    // for before the rest goes.
    CListSaver m_saver;
};

using CMainFrame = CMainFrameImpl<CZarumateSock, CTaskThreadPool>;

} // namespace zk
