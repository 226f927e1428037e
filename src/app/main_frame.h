#pragma once

#include "app/capture_thread.h"
#include "app/image_pool.h"
#include "app/list_saver.h"
#include "app/menu_resources.h"
#include "base/simple_err.h"
#include "capture/zarumate_sock_client.h"
#include "fetch/download_image_task_client.h"
#include "platform/adapter_list.h"
#include "platform/menu.h"
#include "platform/message_loop.h"
#include "ui/simple_msg_impl.h"
#include "ui/single_timer_impl.h"
#include "ui/zaru_frame_impl.h"
#include "ui/zarumate_layout.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zk {

class CSetting;
class CZarumateDataDlg;

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

std::uint32_t MonitorFailedMessage(EMonitorFailure cause);

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
// It paints at most once a timer tick: what asks for a paint while the tick
// moves the list (the scroll bar's command when a sighting scrolls it to the
// top, a rebuild that moves the position) only marks the window dirty, and
// the tick paints once at its end, with the cells rebuilt. The mouse, the
// scroll keys and the scroll buttons' commands paint once after they are
// done in the same way.
//
// The capture thread and the pool are given as interfaces so that tests run
// the frame with stand-ins; without them the frame makes the program's own.
class CMainFrame : public CZaruFrameImpl<CMainFrame>,
                   public CMessageFilter,
                   public CIdleHandler,
                   public CZarumateSockClient,
                   public CDownloadImageTaskClient,
                   public CSingleTimerImpl<CMainFrame, 100, 1>,
                   public CSimpleMsgImpl<CMainFrame, 130, 133>
{
    using Frame = CZaruFrameImpl<CMainFrame>;
    using Timer = CSingleTimerImpl<CMainFrame, 100, 1>;
    using Msg = CSimpleMsgImpl<CMainFrame, 130, 133>;

public:
    explicit CMainFrame(CSetting& setting);
    CMainFrame(CSetting& setting, std::unique_ptr<ICaptureThread> capture,
               std::unique_ptr<IImagePool> pool);
    ~CMainFrame() override;

    // Makes the window with the frame's traits and title; the creation
    // sequence places and shows it.
    bool CreateMain();

    CZarumateLayout& GetLayout() { return m_layout; }
    // The list view places the frame, its cells and the scroll column.
    void Layout() override;
    // Paints now, or once the running tick ends.
    void Redraw() override;
    // The millisecond clock of the timer's work; tests set their own.
    void SetClock(std::function<std::uint32_t()> clock) { m_clock = std::move(clock); }
    // Lists the system's adapters for the monitoring menu; tests set their
    // own.
    using AdapterLister = std::function<int(std::vector<CNetworkAdapter>&)>;
    void SetAdapterLister(AdapterLister lister) { m_listAdapters = std::move(lister); }
    ICaptureThread& GetCapture() { return *m_capture; }
    IImagePool& GetPool() { return *m_pool; }
    MonitorState GetMonitorState() const { return m_monitorState.load(); }
    bool IsPopupOpen() const { return m_popupOpen.load(); }
    // Tests: waits until an autosave in flight has written its file.
    void WaitForAutosave() { m_saver.Wait(); }
    bool IsAutosaving() const { return m_saver.IsBusy(); }

    // Every modal thing the frame shows (popups, questions, message boxes,
    // menus, dialogs) holds the sightings while it is open.
    int MsgBox(const std::wstring& text, std::uint32_t type);
    int MsgBox(std::uint32_t textId, std::uint32_t type);

    // A copy of the title menu as it is now.
    CMenu GetTitleMenu() const;

    // The end of the session (a signal, the session manager, the display
    // gone): saves everything without asking anybody, as nobody can answer
    // now, also when a question of the exit is open, and ends the message
    // loop. Answers the exit status: not 0 when the list missed its file.
    int EndSession();

    // The capture thread's reports.
    void OnSockStarted() override;
    void OnSockStopped() override;
    // Also while a popup is open: the sighting waits in the found queue.
    void OnZarumateFound(const CZarumateDataPtr& data) override;

    // An image worker's report.
    void OnDownloadImageTaskEnd(std::shared_ptr<CDownloadImageTask> task) override;

    // Accelerators carry only commands nobody takes; nothing is filtered.
    bool PreTranslateMessage(MSG& /*msg*/) override { return false; }
    bool OnIdle() override { return false; }

protected:
    int OnCreate() override;
    void OnDestroy() override;
    void OnEndSession(bool ending) override;
    void OnGetMinMaxInfo(SIZE& least) override;
    void OnTimer(int id) override;
    bool OnSetCursor(int hitCode) override;
    int OnNcHitTest(POINT screen) override;
    void OnLButtonDown(std::uint32_t keys, POINT point) override;
    void OnLButtonUp(std::uint32_t keys, POINT point) override;
    void OnMouseMove(std::uint32_t keys, POINT point) override;
    void OnMouseWheel(std::uint32_t keys, int delta, POINT screen) override;
    void OnCaptureChanged(CWindow* newCapture) override;
    void OnKeyDown(int key) override;
    void OnContextMenu(POINT screen) override;
    void OnCommand(int code, int id) override;
    // The commands of the cells and the menus.
    void OnFrameCommand(int id);

private:
    // Holds the sightings for as long as it lives, and lets paints through
    // meanwhile; nests.
    class CHeldSightings
    {
    public:
        explicit CHeldSightings(CMainFrame& frame);
        ~CHeldSightings();
        CHeldSightings(const CHeldSightings&) = delete;
        CHeldSightings& operator=(const CHeldSightings&) = delete;

    private:
        CMainFrame& m_frame;
        int m_paintsHeld;
    };
    [[nodiscard]] CHeldSightings HoldSightings() { return CHeldSightings(*this); }

    // Holds the paints for as long as it lives; a paint asked for meanwhile
    // marks the window dirty.
    class CHeldPaints
    {
    public:
        explicit CHeldPaints(CMainFrame& frame) : m_frame(frame) { ++m_frame.m_paintsHeld; }
        ~CHeldPaints() { --m_frame.m_paintsHeld; }
        CHeldPaints(const CHeldPaints&) = delete;
        CHeldPaints& operator=(const CHeldPaints&) = delete;

    private:
        CMainFrame& m_frame;
    };

    // Runs a step of the list, which answers whether the window changed,
    // and paints once after it.
    void PaintOnceAfter(const std::function<bool()>& step);
    CZarumateDataPtr PressedRecord();
    int IndexOf(const CZarumateDataPtr& record) const;
    void ShowDetail();
    void DeleteAfterQuestion(bool andBelow);
    std::wstring UseTlsKeyLog();
    CMenu& MonitorMenu();
    void StartMonitoring();
    void StepMonitoring();
    void RebuildAdapterItems();
    void ChooseAdapter(int index);
    void ShowTitleMenu(POINT screen);
    void Autosave(std::uint32_t now);
    void ReportAutosave();
    std::wstring ListFileName() const;
    void TellWhereLastListWent();
    void Shutdown(bool userPresent);
    void SaveListAtExit(bool userPresent);
    // True when the named file of the data folder took the list.
    bool SaveListTo(const std::wstring& name, bool userPresent);
    void RemoveSideList();
    void RecordListPlace(const std::wstring& path);

    CSetting& m_setting;
    std::wstring m_initialisingLabel;
    std::atomic<MonitorState> m_monitorState{MonitorIdle};
    // The names of the adapters the monitoring menu offers, in its order
    // (under the menu's lock).
    std::vector<std::wstring> m_adapterNames;
    AdapterLister m_listAdapters;
    std::atomic<bool> m_popupOpen{false};
    // The open detail popup, or nullptr.
    CZarumateDataDlg* m_detail = nullptr;
    int m_modalDepth = 0;
    // While the tick moves the list, paints wait; one was asked for.
    int m_paintsHeld = 0;
    bool m_dirty = false;
    CSimpleErr m_listLoadErr;
    std::wstring m_sideListName;
    // An autosave of this run was started on the side file.
    bool m_sideListWritten = false;
    CZarumateLayout m_layout;
    std::unique_ptr<ICaptureThread> m_capture;
    std::unique_ptr<IImagePool> m_pool;

    // The title menu is rebuilt by the capture thread's start report while
    // the window may show it.
    mutable std::mutex m_menuLock;
    std::shared_ptr<CMenu> m_titleMenu;

    std::function<std::uint32_t()> m_clock;
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

} // namespace zk
