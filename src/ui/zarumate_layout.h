#pragma once

#include "friends/zarumate_data_list.h"
#include "platform/window_types.h"
#include "ui/zaru_frame_layout.h"
#include "ui/zaru_normal_button.h"
#include "ui/zaru_scroll_bar.h"
#include "ui/zarumate_cell.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace zk {

// How the watching of the traffic stands, as the list tells it: not told
// yet (nothing is said), starting, watching an adapter, or stopped after a
// failure or because it could not start.
enum class CWatchState
{
    Unknown,
    Starting,
    Watching,
    Stopped,
};

class CDownloadImageTask;
class CDownloadImageTaskClient;
class CFont;
class CTextureBrush;

// The main window's content: the friends as a column of cells, newest
// first, with a scroll bar and its two arrow buttons, and the two queues
// through which the capture thread and the image workers hand in work.
//
// Slot i of the column shows record i; after the last record, empty slots
// fill the view. Only the slots in or near the view have cell widgets, so a
// list of any length costs the same to rebuild, tick and paint; decoded
// avatars of records that leave that neighbourhood are let go and read
// again from the avatar cache when they come back.
class CZarumateLayout : public CZaruFrameLayout
{
public:
    // Command ids of the scroll column.
    static constexpr int kUpButtonId = 206;
    static constexpr int kDownButtonId = 207;
    static constexpr int kScrollBarId = 208;

    // The list sits this far inside the inner rectangle (the right inset
    // leaves room for the scroll column).
    static constexpr int kListInsetLeft = 5;
    static constexpr int kListInsetTop = 5;
    static constexpr int kListInsetRight = 24;
    static constexpr int kListInsetBottom = 5;
    static constexpr int kCellHeight = 42;
    static constexpr int kCellGap = 3;
    static constexpr int kPitch = kCellHeight + kCellGap;
    // The arrows and the bar keep this far from the inner rectangle's right,
    // top and bottom edges, and this far from each other.
    static constexpr int kScrollInset = 6;
    static constexpr int kScrollGap = 4;
    // Cell widgets exist for the slots within this many view heights above
    // and below the view.
    static constexpr int kNearViews = 1;
    // A cell's hover ends when the pointer is hidden from the cells.
    static constexpr int kNoPoint = 0x7FFFFFFF;
    // The hint of an empty list: how friends come in, and how the
    // watching stands; the note that it stopped.
    static constexpr std::uint32_t kHintWatchingId = 2400;
    static constexpr std::uint32_t kHintStartingId = 2401;
    static constexpr std::uint32_t kHintStoppedId = 2402;
    // The hint keeps this far inside the list, and its box this far around
    // its text.
    static constexpr int kHintInset = 8;
    static constexpr int kHintPadding = 3;
    static constexpr std::uint32_t kHintBorderColor = 0xFF999999;
    // A held found queue is merged anyway once it holds this many persons.
    static constexpr std::size_t kMaxHeldSightings = 4096;

    using TaskSink = std::function<void(std::shared_ptr<CDownloadImageTask>)>;
    using CellPtr = std::shared_ptr<CZarumateCell>;

    CZarumateLayout();
    ~CZarumateLayout() override;

    // Where new download tasks go (the frame pushes them to the image pool
    // and starts it), and the client the tasks report to.
    void SetTaskSink(TaskSink sink) { m_taskSink = std::move(sink); }
    void SetDownloadClient(CDownloadImageTaskClient* client) { m_downloadClient = client; }

    // Copies the stored list in (and marks it for a rebuild) or out.
    void LoadRecords(const CZarumateDataList& stored);
    void StoreRecords(CZarumateDataList& stored) const;
    const CZarumateDataList& GetRecords() const { return m_records; }
    // Counts every change of the records (merges, deletions, loads, a new
    // avatar time), so that the owner can tell whether there is something
    // new to save.
    std::uint64_t GetChangeCount() const { return m_changeCount; }

    // Any thread: a person found (stamped with the current UTC time), a
    // finished image download. The found queue holds one sighting per id: a
    // later one replaces the earlier and takes its turn as the latest.
    void QueueFound(CZarumateDataPtr record);
    void QueueImageResult(std::shared_ptr<CDownloadImageTask> task);
    // While the owner shows something modal, ticks leave the found queue
    // alone, so that the list stays as the question or popup showed it; the
    // sightings are merged at the first tick after. Only a queue grown to
    // kMaxHeldSightings persons is merged anyway, to bound its memory.
    void HoldFound(bool hold) { m_holdFound = hold; }
    // Merges the found queue now, held or not (the exit does, before it
    // saves); answers whether anything came.
    bool MergeFound() { return TakeFound(); }
    std::size_t GetFoundCount();

    // On WM_SIZE and WM_MOVE: the frame, the list, the cells, the scroll
    // column.
    void LayoutView(CWindow* window);
    // Every 25 ms; answers whether the window must be redrawn. The pointer
    // is read from the window system; a popup of the program (set while it
    // runs) hides the pointer from the cells when it is active and under it.
    bool Tick(std::uint32_t time);
    void SetPopup(CWindow* popup) { m_popup = popup; }
    // Asked on every tick: while it answers true another window of the
    // program is active and the cells do not see the pointer.
    void SetPointerHidden(std::function<bool()> hidden) { m_pointerHidden = std::move(hidden); }
    // How the watching stands, and the adapter watched; the next tick
    // redraws when what the list says changes.
    void SetWatchState(CWatchState state, const std::wstring& adapter);
    // What the list says now: the hint of an empty list, or that watching
    // stopped; empty when it says nothing.
    std::wstring GetHintText() const;
    // The room of the hint's text (window coordinates): it starts at the
    // top while the list is empty; over cells it closes the list area at
    // its bottom.
    RECT GetHintRect() const;

    int HitTest(int x, int y) const override; // screen; HTCLIENT inside
    // The hand over a link icon; false when the default cursor applies.
    bool OnSetCursor(CWindow& window);
    bool OnLButtonDown(std::uint32_t keys, POINT client);
    bool OnLButtonUp(std::uint32_t keys, POINT client);
    bool OnMouseMove(std::uint32_t keys, POINT client);
    bool OnMouseWheel(int delta);
    bool OnCaptureChanged(CWindow* newCapture);
    // The cell under the point (screen) shows its menu; false when no cell
    // with a record took it.
    bool OnContextMenu(POINT screen);
    // The scroll column's commands; answers whether to redraw.
    bool OnCommand(int id);
    // Up and Down scroll by a cell, Page Up and Page Down by a page, Home
    // and End to either end; answers whether to redraw.
    bool OnKeyDown(int key) override;
    // The link icons' tooltips, then the title buttons'.
    bool GetToolTip(POINT point, std::wstring& text, RECT& area) const override;
    void Paint(CGraphics& graphics) override;

    void DeleteRecord(int index);
    void DeleteRecordsFrom(int index);
    // Deletes those of the records that are still in the list.
    void DeleteRecords(const std::vector<CZarumateDataPtr>& records);
    // The cell pressed now (or one of whose link buttons is), or nullptr.
    CZarumateCell* GetPressedCell() const;
    // Marks the record as downloading and hands a new task to the sink.
    void StartImageDownload(const CZarumateDataPtr& record);
    // The user's refresh of the avatar: its cell shows the download in
    // progress, and a failure until the next refresh.
    void RefreshImage(const CZarumateDataPtr& record);

    // How a cell's menu is shown (the frame builds and shows it); the cell
    // is marked pressed meanwhile. Until set, cells take no context menu.
    using CellMenu = std::function<void(CZarumateCell& cell, POINT screen)>;
    void SetCellMenu(CellMenu menu) { m_cellMenu = std::move(menu); }

    // The geometry of the last rebuild, window coordinates.
    const RECT& GetListRect() const { return m_listRect; }
    int GetSlotCount() const { return m_slotCount; }
    int GetPageStep() const { return m_pageStep; }
    const RECT& GetFirstCellRect() const { return m_firstCellRect; }
    const RECT& GetFirstSeparatorRect() const { return m_firstSeparatorRect; }
    // The rectangle of slot i, whether or not it has a widget now.
    RECT GetSlotRect(int slot) const;
    // The widget of slot i, or nullptr when the slot is far from the view.
    CZarumateCell* GetCell(int slot) const;
    // The cell with a record at the window point, or nullptr.
    CZarumateCell* CellAt(POINT client) const;
    // The widgets that exist now, in slot order.
    const std::deque<CellPtr>& GetCells() const { return m_cells; }
    const CZaruNormalButton& GetUpButton() const { return m_upButton; }
    const CZaruNormalButton& GetDownButton() const { return m_downButton; }
    const CZaruScrollBar& GetScrollBar() const { return m_scrollBar; }
    CZaruScrollBar& GetScrollBar() { return m_scrollBar; }

private:
    // The first slot whose rectangle reaches below top, and the first one
    // that starts at or below bottom: the slots [first, last) meet the band.
    void SlotsInBand(std::int64_t top, std::int64_t bottom, int& first, int& last) const;
    void PlaceScrollColumn();
    void RebuildCells(std::uint32_t time);
    // Lets the decoded avatar of a record out of view go when the cache can
    // give it back.
    static void ReleaseImages(CZarumateData& record);
    bool IsNearView(const CZarumateData* record) const;
    bool TakeFound();
    bool TakeImageResults();
    // The pointer in window coordinates, or kNoPoint where the cells must
    // not see it.
    POINT CellPoint(POINT window) const;
    POINT WindowPoint() const;
    bool TickCells(std::uint32_t time, POINT window);
    void StartVisibleDownloads();
    bool IsVisible(const RECT& rect) const { return IntersectsRect(rect, m_innerRect); }
    const CTextureBrush* SeparatorBrush() const;
    void PaintHint(CGraphics& graphics);

    TaskSink m_taskSink;
    CDownloadImageTaskClient* m_downloadClient = nullptr;
    CWindow* m_popup = nullptr;
    // The records whose avatar the user asked for, while their cells show
    // how it went.
    std::vector<CZarumateDataPtr> m_refreshed;
    std::function<bool()> m_pointerHidden;
    CellMenu m_cellMenu;
    CWatchState m_watchState = CWatchState::Unknown;
    std::wstring m_watchedAdapter;
    bool m_hintChanged = false;

    RECT m_listRect;
    int m_slotCount = 0;
    int m_pageStep = 0;
    RECT m_firstCellRect;
    RECT m_firstSeparatorRect;
    bool m_inRebuild = false;
    CZarumateDataList m_records;
    std::uint64_t m_changeCount = 0;
    std::mutex m_foundLock;
    // In arrival order; a replaced sighting leaves an empty slot behind.
    std::vector<CZarumateDataPtr> m_found;
    std::unordered_map<std::wstring, std::size_t> m_foundSlots;
    bool m_holdFound = false;
    std::mutex m_imageLock;
    std::vector<std::shared_ptr<CDownloadImageTask>> m_imageResults;
    // The widgets of slots [m_firstCellSlot, m_firstCellSlot + size).
    std::deque<CellPtr> m_cells;
    int m_firstCellSlot = 0;
    CZaruNormalButton m_upButton{kUpButtonId};
    CZaruNormalButton m_downButton{kDownButtonId};
    CZaruScrollBar m_scrollBar{kScrollBarId};
    std::unique_ptr<CTextureBrush> m_separatorBrush;
    CZarumateCell::LinkImages m_linkImages;
    std::shared_ptr<CFont> m_font;
};

} // namespace zk
