#pragma once

#include "app/menu_resources.h"
#include "base/message_format.h"
#include "base/simple_err.h"
#include "capture/zarumate_sock.h"
#include "capture/zarumate_sock_client.h"
#include "fetch/download_image_task.h"
#include "fetch/download_image_task_client.h"
#include "fetch/task_thread_pool.h"
#include "platform/tick_count.h"
#include "friends/setting.h"
#include "friends/zarumate_list_file.h"
#include "platform/menu.h"
#include "platform/message_loop.h"
#include "platform/ui_services.h"
#include "res/resource_ids.h"
#include "res/string_table.h"
#include "system/about_dlg.h"
#include "system/browser_launcher.h"
#include "system/setting_dlg.h"
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
#include <functional>
#include <memory>
#include <mutex>

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
constexpr std::uint32_t kMsgMonitorBusy = 1004;
constexpr std::uint32_t kMsgMonitorStartFailed = 1005;

constexpr int kMainFrameMinWidth = 156;
constexpr int kMainFrameMinHeight = 30;
constexpr int kMainFrameDefaultWidth = 260;
constexpr int kMainFrameDefaultHeight = 288;
constexpr unsigned kFrameTimerPeriodMs = 25;
// At most this many adapters are offered in the monitoring menu.
constexpr int kMaxAdapterItems = kCmdLastAdapter - kCmdFirstAdapter + 1;
// A changed list reaches its file this long after the change at the latest,
// so that a crash or a power cut loses little of a run.
constexpr std::uint32_t kAutosaveDelayMs = 30000;

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
        // The cell menu sends its choice while the cell is still marked.
        m_layout.SetCellMenu([this](CZarumateCell&, POINT at) {
            auto menu = LoadMenuResource(kCellMenuId);
            int chosen = TrackPopupMenu(*menu->GetSubMenu(0),
                                        TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at, this);
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
    TCapture& GetCapture() { return m_capture; }
    TPool& GetPool() { return m_pool; }
    MonitorState GetMonitorState() const { return m_monitorState.load(); }
    bool IsPopupOpen() const { return m_popupOpen.load(); }
    const CSimpleErr& GetListLoadErr() const { return m_listLoadErr; }

    // A copy of the title menu as it is now.
    CMenu GetTitleMenu() const
    {
        std::lock_guard<std::mutex> guard(m_menuLock);
        return *m_titleMenu;
    }

    // The end of the session (a signal, the session manager, the display
    // gone): saves everything without asking anybody, as nobody can answer
    // now, and ends the message loop with 0.
    void EndSession()
    {
        Shutdown(false);
        PostQuitMessage(0);
    }

    // The capture thread's reports.
    void OnSockStarted() override
    {
        RebuildAdapterItems();
        int index = m_capture.GetAdapterIndex();
        std::wstring name;
        {
            std::lock_guard<std::mutex> guard(m_menuLock);
            MonitorMenu().CheckRadioItem(kCmdFirstAdapter, kCmdLastAdapter,
                                         kCmdFirstAdapter + index);
            if (index >= 0 && index < m_adapterCount)
                name = MonitorMenu().GetItemText(kCmdFirstAdapter + index);
        }
        if (!name.empty())
            m_setting.m_adapterName = name;
        m_monitorState = MonitorRunning;
    }

    void OnSockStopped() override
    {
        if (m_capture.IsTerminating())
            return;
        m_monitorState =
            m_monitorState.load() == MonitorRestarting ? MonitorRestartReady : MonitorFailed;
    }

    void OnZarumateFound(const CZarumateDataPtr& data) override
    {
        if (m_popupOpen.load())
            return;
        m_layout.QueueFound(data);
    }

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
        m_adapterCount = 0;
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
        if (!LoadList(kDefaultListName, m_setting.m_list, m_listLoadErr))
            this->MsgBox(m_listLoadErr.GetText(), MB_ICONERROR);
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
        PostQuitMessage(0);
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

    void OnLButtonDown(std::uint32_t keys, POINT point) override
    {
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

    void OnContextMenu(POINT screen) override
    {
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
            if (CZarumateDataPtr record = PressedRecord())
                m_layout.StartImageDownload(record);
            return;
        case kCmdCopyId:
            if (CZarumateDataPtr record = PressedRecord()) {
                if (!SetClipboardText(record->m_id))
                    this->MsgBox(kMsgCopyFailed, MB_ICONERROR);
            }
            return;
        case kCmdSettings:
            // Only the browser comes back from the dialog: the list on screen
            // and the adapter went on changing while it was open.
            EditSettings(this, m_setting);
            return;
        case kCmdAbout:
            CAboutDlg().DoModal(this);
            return;
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

    void ShowDetail()
    {
        CZarumateDataPtr record = PressedRecord();
        if (!record)
            return;
        m_popupOpen = true;
        {
            CZarumateDataDlg popup(
                [this](const std::wstring& url) { OpenUrl(m_setting.m_browserPath, url); });
            popup.SetRecord(record);
            m_layout.SetPopup(&popup);
            popup.DoModal(this);
            m_layout.SetPopup(nullptr);
        }
        m_popupOpen = false;
    }

    // The list may change while the question is shown (the timer keeps
    // taking sightings), so the answer applies to the record it named,
    // found again afterwards, and to nothing when it is gone.
    void DeleteAfterQuestion(bool andBelow)
    {
        CZarumateDataPtr record = PressedRecord();
        if (!record)
            return;
        int index = IndexOf(record);
        if (index < 0)
            return;
        std::wstring text;
        if (andBelow) {
            long long count = static_cast<long long>(m_layout.GetRecords().size()) - index;
            text =
                FormatQuestion(kMsgDeleteBelowQuestion, {std::wstring_view(record->m_name), count});
        } else {
            text = FormatQuestion(kMsgDeleteQuestion, {std::wstring_view(record->m_name)});
        }
        CZaruDeleteCancelDlg popup;
        popup.SetText(text);
        if (popup.DoModal(this) != CZaruDeleteCancelDlg::kDeleteId)
            return;
        index = IndexOf(record);
        if (index < 0)
            return;
        if (andBelow)
            m_layout.DeleteRecordsFrom(index);
        else
            m_layout.DeleteRecord(index);
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
        RebuildAdapterItems();
        {
            std::lock_guard<std::mutex> guard(m_menuLock);
            MonitorMenu().CheckRadioItem(kCmdFirstAdapter, kCmdLastAdapter, kCmdFirstAdapter - 1);
        }
        m_monitorState = MonitorIdle;
        CSimpleErr message;
        message.SetErr(kMsgMonitorFailed, m_capture.GetErr().GetText());
        this->MsgBox(message.GetText(), MB_OK);
    }

    void RebuildAdapterItems()
    {
        const auto& names = m_capture.GetAdapterList();
        std::lock_guard<std::mutex> guard(m_menuLock);
        CMenu& menu = MonitorMenu();
        menu.RemoveAll();
        int count = std::min<int>(static_cast<int>(names.size()), kMaxAdapterItems);
        for (int i = 0; i < count; ++i)
            menu.InsertItem(-1, CMenu::Command(kCmdFirstAdapter + i, names[i]));
        m_adapterCount = count;
        if (count == 0)
            menu.InsertItem(-1, CMenu::Command(kCmdFirstAdapter, m_initialisingLabel));
    }

    void ChooseAdapter(int index)
    {
        MonitorState state = m_monitorState.load();
        if (state != MonitorRunning && state != MonitorIdle) {
            this->MsgBox(kMsgMonitorBusy, MB_ICONERROR);
            return;
        }
        if (m_adapterCount > 0) {
            std::wstring name;
            {
                std::lock_guard<std::mutex> guard(m_menuLock);
                name = MonitorMenu().GetItemText(kCmdFirstAdapter + index);
            }
            if (!name.empty())
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
        CMenu shown = *GetTitleMenu().GetSubMenu(0);
        TrackPopupMenu(shown, TPM_RIGHTBUTTON, screen, this);
    }

    // Writes the on-screen list to its file a while after it changed, as
    // the exit does, but never over a file that failed to load: the user
    // decides about that one at exit.
    void Autosave(std::uint32_t now)
    {
        std::uint64_t changes = m_layout.GetChangeCount();
        if (changes == m_savedChangeCount || m_listLoadErr.HasErr() || m_shutDown)
            return;
        if (!m_autosavePending) {
            m_autosavePending = true;
            m_autosaveDue = now + kAutosaveDelayMs;
            return;
        }
        if (static_cast<std::int32_t>(now - m_autosaveDue) < 0)
            return;
        m_autosavePending = false;
        m_savedChangeCount = changes;
        m_layout.StoreRecords(m_setting.m_list);
        CSimpleErr err;
        // A failure is told at exit, where the last save reports it.
        SaveList(kDefaultListName, m_setting.m_list, err);
    }

    // The end of the run, once, whatever asks for it first: the threads are
    // stopped and waited for, then the settings and the list are saved.
    void Shutdown(bool userPresent)
    {
        if (m_shutDown)
            return;
        m_shutDown = true;
        m_capture.SetTerminate(true);
        m_capture.Wait(INFINITE);
        m_pool.SetShutdown(true);
        m_pool.WaitAll(INFINITE);
        m_layout.StoreRecords(m_setting.m_list);
        m_setting.CaptureWindowPlacement(false, this->IsIconic(), this->GetWindowRect());
        if (!m_setting.SaveSettings() && userPresent)
            this->MsgBox(kMsgSaveSettingsFailed, MB_ICONERROR);
        if (m_listLoadErr.HasErr()) {
            // Nobody can say whether the damaged file may go: it stays.
            if (!userPresent ||
                this->MsgBox(kMsgListNotLoaded, MB_YESNO | MB_ICONQUESTION) == IDYES)
                return;
        }
        CSimpleErr err;
        if (!SaveList(kDefaultListName, m_setting.m_list, err) && userPresent)
            this->MsgBox(err.GetText(), MB_ICONERROR);
    }

    CSetting& m_setting;
    std::wstring m_initialisingLabel;
    std::atomic<MonitorState> m_monitorState{MonitorIdle};
    int m_adapterCount = 0;
    std::atomic<bool> m_popupOpen{false};
    CSimpleErr m_listLoadErr;
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
};

using CMainFrame = CMainFrameImpl<CZarumateSock, CTaskThreadPool>;

} // namespace zk
