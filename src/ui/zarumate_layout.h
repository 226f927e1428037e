#pragma once

// INTERFACE DRAFT: the lead's main frame is written against these
// declarations; the cells helper implements them (and may add to them).

#include "friends/zarumate_data_list.h"
#include "platform/window_types.h"
#include "ui/zaru_frame_layout.h"
#include "ui/zaru_normal_button.h"
#include "ui/zaru_scroll_bar.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace zk {

class CDownloadImageTask;
class CDownloadImageTaskClient;
class CZarumateCell;

// The main window's content: the friends as a column of cells, newest
// first, with a scroll bar and its two arrow buttons, and the two queues
// through which the capture thread and the image workers hand in work.
class CZarumateLayout : public CZaruFrameLayout
{
public:
    // Command ids of the scroll column.
    static constexpr int kUpButtonId = 206;
    static constexpr int kDownButtonId = 207;
    static constexpr int kScrollBarId = 208;

    using TaskSink = std::function<void(std::shared_ptr<CDownloadImageTask>)>;

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
    // Counts every change of the records (merges, deletions, loads), so that
    // the owner can tell whether there is something new to save.
    std::uint64_t GetChangeCount() const { return m_changeCount; }

    // Any thread: a person found (stamped with the current UTC time), a
    // finished image download.
    void QueueFound(CZarumateDataPtr record);
    void QueueImageResult(std::shared_ptr<CDownloadImageTask> task);

    // On WM_SIZE and WM_MOVE: the frame, the list, the cells, the scroll
    // column.
    void LayoutView(CWindow* window);
    // Every 25 ms; answers whether the window must be redrawn. The pointer
    // is read from the window system; a popup of the program (set while it
    // runs) hides the pointer from the cells when it is active and under it.
    bool Tick(std::uint32_t time);
    void SetPopup(CWindow* popup) { m_popup = popup; }

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
    void Paint(CGraphics& graphics) override;

    void DeleteRecord(int index);
    void DeleteRecordsFrom(int index);
    // The cell pressed now (or one of whose link buttons is), or nullptr.
    CZarumateCell* GetPressedCell() const;
    // Marks the record as downloading and hands a new task to the sink.
    void StartImageDownload(const CZarumateDataPtr& record);

    // How a cell's menu is shown (the frame builds and shows it); the cell
    // is marked pressed meanwhile. Until set, cells take no context menu.
    using CellMenu = std::function<void(CZarumateCell& cell, POINT screen)>;
    void SetCellMenu(CellMenu menu) { m_cellMenu = std::move(menu); }

private:
    TaskSink m_taskSink;
    CDownloadImageTaskClient* m_downloadClient = nullptr;
    CWindow* m_popup = nullptr;
    CellMenu m_cellMenu;
    CZarumateDataList m_records;
    std::uint64_t m_changeCount = 0;
    std::mutex m_foundLock;
    std::vector<CZarumateDataPtr> m_found;
    std::mutex m_imageLock;
    std::vector<std::shared_ptr<CDownloadImageTask>> m_imageResults;
};

} // namespace zk
