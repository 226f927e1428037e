#include "app/main_frame.h"

#include "app/list_rescue.h"
#include "app/sock_capture_thread.h"
#include "app/task_image_pool.h"
#include "base/message_format.h"
#include "base/path.h"
#include "fetch/download_image_task.h"
#include "friends/setting.h"
#include "friends/zarumate_list_file.h"
#include "platform/file_ops.h"
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
#include "ui/skin_image.h"
#include "ui/zaru_delete_cancel_dlg.h"
#include "ui/zarumate_cell.h"
#include "ui/zarumate_data_dlg.h"

#include <algorithm>
#include <cstdio>

namespace zk {

std::uint32_t MonitorFailedMessage(EMonitorFailure cause)
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

CMainFrame::CMainFrame(CSetting& setting)
    : CMainFrame(setting, std::make_unique<CSockCaptureThread>(),
                 std::make_unique<CTaskImagePool>())
{}

CMainFrame::CMainFrame(CSetting& setting, std::unique_ptr<ICaptureThread> capture,
                       std::unique_ptr<IImagePool> pool)
    : m_setting(setting), m_listAdapters(ListNetworkAdapters), m_capture(std::move(capture)),
      m_pool(std::move(pool)), m_clock(TickCountMs)
{
    m_layout.SetTitleLogo(LoadSkinImage(IDB_TITLE_LOGO));
    m_layout.AddRoundButton(IDB_CLOSE_SMALL, IDB_CLOSE_LARGE, HTCLOSE);
    m_layout.AddRoundButton(IDB_MINIMIZE_SMALL, IDB_MINIMIZE_LARGE, HTMINBUTTON);
    m_layout.SetDownloadClient(this);
    m_layout.SetTaskSink([this](std::shared_ptr<CDownloadImageTask> task) {
        m_pool->PushTask(std::move(task));
        m_pool->StartAll();
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

CMainFrame::~CMainFrame() = default;

void CMainFrame::Layout()
{
    // A rebuild that moves the scroll position sends its command before the
    // cells are placed; whoever asked for the layout paints after it.
    CHeldPaints held(*this);
    m_layout.LayoutView(this);
}

void CMainFrame::Redraw()
{
    if (m_paintsHeld > 0) {
        m_dirty = true;
        return;
    }
    m_dirty = false;
    Frame::Redraw();
}

bool CMainFrame::CreateMain()
{
    return this->CreateEx(nullptr, {0, 0, kMainFrameDefaultWidth, kMainFrameDefaultHeight},
                          LoadString(kMsgProductTitle));
}

int CMainFrame::MsgBox(const std::wstring& text, std::uint32_t type)
{
    auto held = HoldSightings();
    return Msg::MsgBox(text, type);
}

int CMainFrame::MsgBox(std::uint32_t textId, std::uint32_t type)
{
    return MsgBox(LoadString(textId), type);
}

CMenu CMainFrame::GetTitleMenu() const
{
    std::lock_guard<std::mutex> guard(m_menuLock);
    return *m_titleMenu;
}

int CMainFrame::EndSession()
{
    Shutdown(false);
    PostQuitMessage(m_exitCode);
    return m_exitCode;
}

void CMainFrame::OnSockStarted()
{
    const auto& names = m_capture->GetAdapterList();
    int index = m_capture->GetAdapterIndex();
    if (index >= 0 && index < static_cast<int>(names.size()))
        m_setting.m_adapterName = names[index];
    m_monitorState = MonitorRunning;
    RebuildAdapterItems();
}

void CMainFrame::OnSockStopped()
{
    if (m_capture->IsTerminating())
        return;
    m_monitorState =
        m_monitorState.load() == MonitorRestarting ? MonitorRestartReady : MonitorFailed;
}

void CMainFrame::OnZarumateFound(const CZarumateDataPtr& data)
{
    m_layout.QueueFound(data);
}

void CMainFrame::OnDownloadImageTaskEnd(std::shared_ptr<CDownloadImageTask> task)
{
    m_layout.QueueImageResult(std::move(task));
}

int CMainFrame::OnCreate()
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
        this->MoveWindow({x, y, x + kMainFrameDefaultWidth, y + kMainFrameDefaultHeight}, false);
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

void CMainFrame::OnDestroy()
{
    if (CMessageLoop* loop = GetMessageLoop()) {
        loop->RemoveMessageFilter(this);
        loop->RemoveIdleHandler(this);
    }
    this->StopTimer();
    Shutdown(true);
    PostQuitMessage(m_exitCode);
}

void CMainFrame::OnEndSession(bool ending)
{
    if (ending)
        Shutdown(false);
}

void CMainFrame::OnGetMinMaxInfo(SIZE& least)
{
    least = {kMainFrameMinWidth, kMainFrameMinHeight};
}

void CMainFrame::OnTimer(int id)
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
    bool redraw = false;
    {
        // The list's own commands (the scroll bar's when a sighting moves
        // the view to the top, or a rebuild that shortens the range) come
        // back to OnCommand inside this call: they only mark the window.
        CHeldPaints held(*this);
        redraw = m_layout.Tick(now);
    }
    Autosave(now);
    if (redraw || m_dirty)
        this->Redraw();
}

bool CMainFrame::OnSetCursor(int hitCode)
{
    if (hitCode != HTCLIENT)
        return false;
    return m_layout.OnSetCursor(*this);
}

// While the detail popup is open this window stays enabled so that a
// click on another person shows that one in the popup; everything else
// of the window (its title buttons, its menus, the edges) waits.
int CMainFrame::OnNcHitTest(POINT screen)
{
    int hit = Frame::OnNcHitTest(screen);
    return m_detail && hit != HTCLIENT ? HTNOWHERE : hit;
}

// What scrolls the list comes back to OnCommand as the scroll bar's command
// before the handler itself answers; the window is painted once after both.
// A click may open a popup or a question meanwhile: the sightings' hold
// lets this window paint while it is open.
void CMainFrame::PaintOnceAfter(const std::function<bool()>& step)
{
    bool changed = false;
    {
        CHeldPaints held(*this);
        changed = step();
    }
    if (changed || m_dirty)
        this->Redraw();
}

void CMainFrame::OnLButtonDown(std::uint32_t keys, POINT point)
{
    if (m_detail && !m_layout.CellAt(point))
        return;
    PaintOnceAfter([&] { return m_layout.OnLButtonDown(keys, point); });
}

void CMainFrame::OnLButtonUp(std::uint32_t keys, POINT point)
{
    PaintOnceAfter([&] { return m_layout.OnLButtonUp(keys, point); });
}

void CMainFrame::OnMouseMove(std::uint32_t keys, POINT point)
{
    PaintOnceAfter([&] { return m_layout.OnMouseMove(keys, point); });
}

void CMainFrame::OnMouseWheel(std::uint32_t /*keys*/, int delta, POINT /*screen*/)
{
    PaintOnceAfter([&] { return m_layout.OnMouseWheel(delta); });
}

void CMainFrame::OnCaptureChanged(CWindow* newCapture)
{
    PaintOnceAfter([&] { return m_layout.OnCaptureChanged(newCapture); });
}

// The menu key (or Shift+F10) opens the menu of the cell under the
// pointer, else the title menu: at the pointer while it is over the
// window, otherwise at the title.
void CMainFrame::OnKeyDown(int key)
{
    if (key != VK_APPS) {
        PaintOnceAfter([&] {
            Frame::OnKeyDown(key);
            return false;
        });
        return;
    }
    RECT frame = this->GetWindowRect();
    POINT pointer = GetCursorPos();
    if (!PtInRect(frame, pointer))
        pointer = {frame.left + kKeyMenuInset, frame.top + kKeyMenuInset};
    OnContextMenu(pointer);
}

void CMainFrame::OnContextMenu(POINT screen)
{
    if (m_detail)
        return;
    if (m_layout.OnContextMenu(screen))
        return;
    ShowTitleMenu(screen);
}

void CMainFrame::OnCommand(int /*code*/, int id)
{
    // The scroll buttons' commands move the scroll bar, whose own command
    // comes back here before the first one is done.
    bool listCommand = false;
    PaintOnceAfter([&] { return listCommand = m_layout.OnCommand(id); });
    if (listCommand)
        return;
    if (id >= kCmdFirstAdapter && id <= kCmdLastAdapter) {
        ChooseAdapter(id - kCmdFirstAdapter);
        return;
    }
    OnFrameCommand(id);
}

// The commands of the cells and the menus.
void CMainFrame::OnFrameCommand(int id)
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

// Whatever is open runs a loop of its own, in which this window paints as
// it goes: paints held by the event that opened it wait no longer.
CMainFrame::CHeldSightings::CHeldSightings(CMainFrame& frame)
    : m_frame(frame), m_paintsHeld(frame.m_paintsHeld)
{
    m_frame.m_paintsHeld = 0;
    if (m_frame.m_modalDepth++ == 0)
        m_frame.m_layout.HoldFound(true);
}

CMainFrame::CHeldSightings::~CHeldSightings()
{
    if (--m_frame.m_modalDepth == 0)
        m_frame.m_layout.HoldFound(false);
    m_frame.m_paintsHeld = m_paintsHeld;
}

// The record of the pressed cell; without one the user is told.
CZarumateDataPtr CMainFrame::PressedRecord()
{
    CZarumateCell* cell = m_layout.GetPressedCell();
    if (cell && cell->GetRecord())
        return cell->GetRecord();
    this->MsgBox(kMsgNoPressedCell, MB_ICONERROR);
    return nullptr;
}

int CMainFrame::IndexOf(const CZarumateDataPtr& record) const
{
    const CZarumateDataList& records = m_layout.GetRecords();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i] == record)
            return static_cast<int>(i);
    }
    return -1;
}

// A cell clicked while the popup is open shows its person in it.
void CMainFrame::ShowDetail()
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
void CMainFrame::DeleteAfterQuestion(bool andBelow)
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
            FormatStringMessage(kMsgDeleteBelowQuestion, {std::wstring_view(record->m_name), count},
                                CSimpleErr::kFormatSlack);
    } else {
        text = FormatStringMessage(kMsgDeleteQuestion, {std::wstring_view(record->m_name)},
                                   CSimpleErr::kFormatSlack);
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
std::wstring CMainFrame::UseTlsKeyLog()
{
    std::wstring keyLog = FindTlsKeyLogFile(m_setting.m_tlsKeyLogPath);
    SetBrowserTlsKeyLogFile(keyLog);
    return keyLog;
}

CMenu& CMainFrame::MonitorMenu()
{
    return *m_titleMenu->GetSubMenu(0)->GetSubMenu(kMonitorSubMenuPosition);
}

void CMainFrame::StartMonitoring()
{
    m_monitorState = MonitorStarting;
    m_capture->SetClient(this);
    m_capture->SetAdapterName(m_setting.m_adapterName);
    std::wstring keyLog = UseTlsKeyLog();
    m_capture->SetTlsKeyLogFile(WideToUtf8(keyLog));
    if (!m_capture->Start()) {
        m_monitorState = MonitorIdle;
        this->MsgBox(kMsgMonitorStartFailed, MB_ICONERROR);
    }
}

// Only after a failure or a restart request does the timer act: it
// collects the ended thread, then tells the user or starts again.
void CMainFrame::StepMonitoring()
{
    MonitorState state = m_monitorState.load();
    if (state != MonitorFailed && state != MonitorRestartReady)
        return;
    m_capture->Wait(INFINITE);
    if (state == MonitorRestartReady) {
        StartMonitoring();
        return;
    }
    m_monitorState = MonitorIdle;
    RebuildAdapterItems();
    CSimpleErr message;
    message.SetErr(MonitorFailedMessage(m_capture->GetFailureCause()), m_capture->GetFailureText());
    this->MsgBox(message.GetText(), MB_OK);
}

// The adapters as the system has them now, each with its addresses
// beside its name, the watched one marked as the radio choice. It needs
// no capability: without one the user still sees what there is.
void CMainFrame::RebuildAdapterItems()
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
        bool starting =
            state == MonitorStarting || state == MonitorRestarting || state == MonitorRestartReady;
        CMenu::Item none = CMenu::Command(kCmdFirstAdapter, starting ? m_initialisingLabel
                                                                     : LoadString(kMsgNoAdapters));
        none.enabled = false;
        menu.InsertItem(-1, std::move(none));
        return;
    }
    menu.CheckRadioItem(kCmdFirstAdapter, kCmdLastAdapter, watched);
}

void CMainFrame::ChooseAdapter(int index)
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
        m_capture->SetStop(true);
        return;
    }
    StartMonitoring();
}

void CMainFrame::ShowTitleMenu(POINT screen)
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
void CMainFrame::Autosave(std::uint32_t now)
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
    if (m_saver.Start(GetDataFolder(), name, m_layout.GetRecords()) && name == m_sideListName)
        m_sideListWritten = true;
}

// The first failed autosave of the run is told, with its reason; the
// ones after it are not, and the exit tries again anyway.
void CMainFrame::ReportAutosave()
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
std::wstring CMainFrame::ListFileName() const
{
    return m_listLoadErr.HasErr() ? m_sideListName : std::wstring(kDefaultListName);
}

// A run that had to keep its list elsewhere left its place in the
// settings: the user is told once.
void CMainFrame::TellWhereLastListWent()
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
void CMainFrame::Shutdown(bool userPresent)
{
    if (!m_shutDown) {
        m_shutDown = true;
        m_capture->SetTerminate(true);
        m_capture->Wait(INFINITE);
        m_pool->SetShutdown(true);
        m_pool->WaitAll(INFINITE);
        m_layout.MergeFound();
        m_saver.Wait();
        m_layout.StoreRecords(m_setting.m_list);
        m_setting.CaptureWindowPlacement(false, this->IsIconic(), this->GetWindowRect());
        if (!m_setting.SaveSettings() && userPresent)
            this->MsgBox(kMsgSaveSettingsFailed, MB_ICONERROR);
    }
    SaveListAtExit(userPresent);
}

void CMainFrame::SaveListAtExit(bool userPresent)
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
        if (answer == IDYES) {
            // The damaged file stays and the run's list is not saved; what
            // the autosaves already wrote beside it stays too, and the next
            // start says where, as after a dismissed question.
            if (m_sideListWritten)
                RecordListPlace(JoinPath(GetDataFolder(), m_sideListName));
            return;
        }
        if (answer != IDNO) {
            SaveListTo(m_sideListName, userPresent);
            return;
        }
        // The run's list replaced the damaged file: the side file the
        // autosaves wrote holds nothing it lacks, and would only lie
        // there untold.
        if (SaveListTo(kDefaultListName, userPresent))
            RemoveSideList();
        return;
    }
    m_listSaved = true;
    SaveListTo(kDefaultListName, userPresent);
}

// A side file that cannot be removed is told at the next start, as the
// one of a dismissed question is.
void CMainFrame::RemoveSideList()
{
    if (!m_sideListWritten)
        return;
    std::wstring path = JoinPath(GetDataFolder(), m_sideListName);
    if (Failed(DeleteFileIfExists(path)))
        RecordListPlace(path);
}

// A list that misses its file is never lost quietly: it goes to the
// fallback place, the next start says where, stderr says so now, and the
// run ends with a status that is not 0.
bool CMainFrame::SaveListTo(const std::wstring& name, bool userPresent)
{
    CSimpleErr err;
    if (!name.empty() && SaveListIn(GetDataFolder(), name, m_setting.m_list, err)) {
        if (name != kDefaultListName)
            RecordListPlace(JoinPath(GetDataFolder(), name));
        return true;
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
    return false;
}

void CMainFrame::RecordListPlace(const std::wstring& path)
{
    m_setting.m_savedListFile = path;
    m_setting.SaveSettings();
}

} // namespace zk
