#include "ui/zarumate_layout.h"

#include "base/message_format.h"
#include "base/path.h"
#include "fetch/download_image_task.h"
#include "fetch/drawing_surface.h"
#include "friends/avatar_cache.h"
#include "platform/file_ops.h"
#include "platform/system_clock.h"
#include "platform/tick_count.h"
#include "platform/ui_services.h"
#include "platform/window.h"
#include "res/resource_ids.h"
#include "res/string_table.h"
#include "ui/skin_image.h"
#include "ui/skin_resources.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace zk {

namespace {

constexpr std::uint32_t kListBackground = 0xFFFFFFFF;

CRectF ToRectF(const RECT& rect)
{
    return {float(rect.left), float(rect.top), float(rect.Width()), float(rect.Height())};
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b)
{
    return -FloorDiv(-a, b);
}

int ClampToInt(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

// The widget sizes come from their images; a missing image makes an empty
// widget rather than a crash.
SIZE ImageSize(const std::shared_ptr<CImage>& image)
{
    return image ? SIZE{image->GetWidth(), image->GetHeight()} : SIZE{};
}

} // namespace

CZarumateLayout::CZarumateLayout() : m_linkImages(CZarumateCell::LoadLinkImages())
{
    m_upButton.SetImage(LoadSkinImage(IDB_SCROLL_UP));
    m_downButton.SetImage(LoadSkinImage(IDB_SCROLL_DOWN));
    // The shared brush is made at start-up; a layout made without it (a
    // test, a tool) draws with a brush of its own.
    if (!GetDottedSeparatorBrush())
        if (auto dots = LoadSkinImage(IDB_DOTTED_SEPARATOR))
            m_separatorBrush = std::make_unique<CTextureBrush>(std::move(dots));
}

CZarumateLayout::~CZarumateLayout() = default;

void CZarumateLayout::LoadRecords(const CZarumateDataList& stored)
{
    m_records.CopyFrom(stored);
    ++m_changeCount;
}

void CZarumateLayout::StoreRecords(CZarumateDataList& stored) const
{
    stored.CopyFrom(m_records);
}

void CZarumateLayout::QueueFound(CZarumateDataPtr record)
{
    if (!record)
        return;
    record->m_updateTime = GetSystemTimeUtc();
    std::lock_guard lock(m_foundLock);
    auto [slot, added] = m_foundSlots.try_emplace(record->m_id, m_found.size());
    if (!added) {
        m_found[slot->second].reset();
        slot->second = m_found.size();
    }
    m_found.push_back(std::move(record));
    // One person seen again and again while the queue is held leaves many
    // empty slots: the queue is packed once they outnumber the sightings.
    if (m_found.size() > 2 * m_foundSlots.size() + kMaxHeldSightings) {
        std::erase(m_found, nullptr);
        for (std::size_t i = 0; i < m_found.size(); ++i)
            m_foundSlots[m_found[i]->m_id] = i;
    }
}

std::size_t CZarumateLayout::GetFoundCount()
{
    std::lock_guard lock(m_foundLock);
    return m_foundSlots.size();
}

void CZarumateLayout::QueueImageResult(std::shared_ptr<CDownloadImageTask> task)
{
    if (!task)
        return;
    std::lock_guard lock(m_imageLock);
    m_imageResults.push_back(std::move(task));
}

void CZarumateLayout::LayoutView(CWindow* window)
{
    CZaruFrameLayout::Layout(window);
    m_listRect = {m_innerRect.left + kListInsetLeft, m_innerRect.top + kListInsetTop,
                  m_innerRect.right - kListInsetRight, m_innerRect.bottom - kListInsetBottom};
    m_listRect.right = std::max(m_listRect.right, m_listRect.left);
    m_listRect.bottom = std::max(m_listRect.bottom, m_listRect.top);
    m_upButton.SetOwner(window);
    m_downButton.SetOwner(window);
    m_scrollBar.SetOwner(window);
    PlaceScrollColumn();
    RebuildCells(TickCountMs());
}

void CZarumateLayout::PlaceScrollColumn()
{
    SIZE up = ImageSize(m_upButton.GetImage());
    SIZE down = ImageSize(m_downButton.GetImage());
    int right = m_innerRect.right - kScrollInset;
    int width = std::max(up.cx, down.cx);
    int top = m_innerRect.top + kScrollInset;
    int bottom = m_innerRect.bottom - kScrollInset;
    m_upButton.SetRect({right - up.cx, top, right, top + up.cy});
    m_downButton.SetRect({right - down.cx, bottom - down.cy, right, bottom});
    RECT bar{right - width, top + up.cy + kScrollGap, right, bottom - down.cy - kScrollGap};
    bar.bottom = std::max(bar.bottom, bar.top);
    m_scrollBar.SetRect(bar);
}

RECT CZarumateLayout::GetSlotRect(int slot) const
{
    std::int64_t dy = std::int64_t(kPitch) * slot;
    return {m_firstCellRect.left, ClampToInt(m_firstCellRect.top + dy), m_firstCellRect.right,
            ClampToInt(m_firstCellRect.bottom + dy)};
}

CZarumateCell* CZarumateLayout::GetCell(int slot) const
{
    std::int64_t index = std::int64_t(slot) - m_firstCellSlot;
    if (index < 0 || index >= std::int64_t(m_cells.size()))
        return nullptr;
    return m_cells[static_cast<std::size_t>(index)].get();
}

CZarumateCell* CZarumateLayout::CellAt(POINT client) const
{
    if (!PtInRect(m_innerRect, client))
        return nullptr;
    for (const CellPtr& cell : m_cells) {
        if (cell->GetRecord() && cell->HitTest(client.x, client.y))
            return cell.get();
    }
    return nullptr;
}

void CZarumateLayout::SlotsInBand(std::int64_t top, std::int64_t bottom, int& first,
                                  int& last) const
{
    std::int64_t firstTop = m_firstCellRect.top;
    std::int64_t from = FloorDiv(top - firstTop - kCellHeight, kPitch) + 1;
    std::int64_t to = CeilDiv(bottom - firstTop, kPitch);
    first = static_cast<int>(std::clamp<std::int64_t>(from, 0, m_slotCount));
    last = static_cast<int>(std::clamp<std::int64_t>(to, first, m_slotCount));
}

void CZarumateLayout::RebuildCells(std::uint32_t time)
{
    // Setting the range may move the position, which comes back here as
    // command 208 before the range is complete; this rebuild goes on with
    // the new position instead. A list that shrank under a view scrolled
    // down (or a view that grew) moves the position back so that the view
    // is filled with what is left.
    m_inRebuild = true;
    std::int64_t count = static_cast<std::int64_t>(m_records.size());
    std::int64_t listHeight = m_listRect.Height();
    m_scrollBar.SetRange(ClampToInt(kPitch * count), static_cast<int>(listHeight));

    // Empty slots fill the view below the last record.
    m_slotCount = ClampToInt(count + (listHeight + kCellGap + kPitch - 1) / kPitch);
    m_pageStep = static_cast<int>(kPitch * (listHeight / kPitch));
    int position = m_scrollBar.GetPosition();
    int top = ClampToInt(std::int64_t(m_listRect.top) - position);
    m_firstCellRect = {m_listRect.left, top, m_listRect.right, top + kCellHeight};
    m_firstSeparatorRect = {m_listRect.left, m_firstCellRect.bottom + 1, m_listRect.right,
                            m_firstCellRect.bottom + 2};

    // Only the slots in or near the view get widgets: the view looks the
    // same, and a list of ten thousand costs what a list of ten does.
    std::int64_t near = std::int64_t(kNearViews) * std::max<std::int64_t>(listHeight, kPitch);
    int first = 0;
    int last = 0;
    SlotsInBand(std::int64_t(m_innerRect.top) - near, std::int64_t(m_innerRect.bottom) + near,
                first, last);
    std::deque<CellPtr> old;
    old.swap(m_cells);
    m_firstCellSlot = first;
    for (int slot = first; slot < last; ++slot) {
        auto cell = std::make_shared<CZarumateCell>();
        cell->SetOwner(m_owner);
        cell->SetRect(GetSlotRect(slot));
        cell->SetSlot(slot);
        cell->SetFont(m_font);
        if (slot < count)
            cell->SetRecord(m_records[static_cast<std::size_t>(slot)], m_linkImages);
        m_cells.push_back(std::move(cell));
    }
    for (const CellPtr& cell : old) {
        if (!cell->GetRecord())
            continue;
        if (cell->IsAnyPressed()) {
            for (const CellPtr& now : m_cells)
                now->TakePressFrom(*cell);
        }
        if (!IsNearView(cell->GetRecord().get()))
            ReleaseImages(*cell->GetRecord());
    }
    m_records.SetChanged(false);
    m_inRebuild = false;

    TickCells(time, WindowPoint());
    StartVisibleDownloads();
}

bool CZarumateLayout::IsNearView(const CZarumateData* record) const
{
    return std::any_of(m_cells.begin(), m_cells.end(),
                       [record](const CellPtr& cell) { return cell->GetRecord().get() == record; });
}

void CZarumateLayout::ReleaseImages(CZarumateData& record)
{
    if (!record.m_image && !record.m_thumbnail)
        return;
    // An avatar that could not be cached exists only here; it stays.
    if (!IsImageFileId(record.m_id) || GetDataFolder().empty() ||
        !PathExists(record.GetImagePath()))
        return;
    record.m_image.reset();
    record.m_thumbnail.reset();
}

bool CZarumateLayout::TakeFound()
{
    std::vector<CZarumateDataPtr> found;
    {
        std::lock_guard lock(m_foundLock);
        found.swap(m_found);
        m_foundSlots.clear();
    }
    if (found.empty())
        return false;
    for (const CZarumateDataPtr& record : found) {
        if (record)
            m_records.AddOrUpdate(record);
    }
    ++m_changeCount;
    m_scrollBar.SetPosition(0);
    return true;
}

bool CZarumateLayout::TakeImageResults()
{
    std::vector<std::shared_ptr<CDownloadImageTask>> tasks;
    {
        std::lock_guard lock(m_imageLock);
        tasks.swap(m_imageResults);
    }
    bool redraw = false;
    for (const auto& task : tasks) {
        auto it = AttachImage(m_records, *task);
        if (it == m_records.end())
            continue;
        // A fetch that went through, or found the avatar unchanged, leaves
        // no mark: the cell shows the time again.
        std::uint32_t result = task->GetErr().GetId();
        if (result == 0 || result == kMsgDownloadSkipped) {
            (*it)->m_error.Clear();
            std::erase(m_refreshed, *it);
        }
        // A stored avatar brings its Last-Modified time, which the list
        // file keeps.
        if (!task->GetErr().HasErr())
            ++m_changeCount;
        std::int64_t index = it - m_records.begin();
        if (index < m_slotCount && IsVisible(GetSlotRect(static_cast<int>(index))))
            redraw = true;
        else if (!IsNearView(it->get()))
            ReleaseImages(**it);
    }
    return redraw;
}

void CZarumateLayout::SetWatchState(CWatchState state, const std::wstring& adapter)
{
    const std::wstring& shown = state == CWatchState::Watching ? adapter : std::wstring();
    if (state == m_watchState && shown == m_watchedAdapter)
        return;
    m_watchState = state;
    m_watchedAdapter = shown;
    m_hintChanged = true;
}

std::wstring CZarumateLayout::GetHintText() const
{
    if (m_watchState == CWatchState::Stopped)
        return LoadString(kHintStoppedId);
    // Over a list with people in it only a stop is worth saying.
    if (!m_records.empty())
        return {};
    switch (m_watchState) {
    case CWatchState::Starting:
        return LoadString(kHintStartingId);
    case CWatchState::Watching: {
        std::wstring format = LoadString(kHintWatchingId);
        return FormatMessageText(format, {std::wstring_view(m_watchedAdapter)},
                                 format.size() + m_watchedAdapter.size() + 1);
    }
    default:
        return {};
    }
}

RECT CZarumateLayout::GetHintRect() const
{
    RECT box{m_listRect.left + kHintInset, m_listRect.top + kHintInset,
             m_listRect.right - kHintInset, m_listRect.bottom - kHintInset};
    box.right = std::max(box.right, box.left);
    box.bottom = std::max(box.bottom, box.top);
    return box;
}

bool CZarumateLayout::Tick(std::uint32_t time)
{
    bool redraw = false;
    if (!m_holdFound || GetFoundCount() >= kMaxHeldSightings)
        redraw = TakeFound();
    if (m_hintChanged) {
        m_hintChanged = false;
        redraw = true;
    }
    redraw = TakeImageResults() || redraw;
    if (m_records.IsChanged()) {
        RebuildCells(time);
        redraw = true;
    }
    POINT window = WindowPoint();
    redraw = CZaruFrameLayout::Tick(time, window.x, window.y) || redraw;
    redraw = TickCells(time, window) || redraw;
    StartVisibleDownloads();
    redraw = m_upButton.Tick(time, window.x, window.y) || redraw;
    redraw = m_downButton.Tick(time, window.x, window.y) || redraw;
    redraw = m_scrollBar.Tick(window.x, window.y) || redraw;
    return redraw;
}

POINT CZarumateLayout::WindowPoint() const
{
    if (!HasWindowSystem())
        return {kNoPoint, kNoPoint};
    POINT cursor = GetCursorPos();
    // A popup of the program over the window has the pointer to itself.
    if (m_popup && m_popup->IsWindow() && m_popup->IsActiveWindow() &&
        PtInRect(m_popup->GetWindowRect(), cursor))
        return {kNoPoint, kNoPoint};
    if (m_pointerHidden && m_pointerHidden())
        return {kNoPoint, kNoPoint};
    return {cursor.x - m_windowRect.left, cursor.y - m_windowRect.top};
}

POINT CZarumateLayout::CellPoint(POINT window) const
{
    if (m_scrollBar.IsDragging() || !PtInRect(m_innerRect, window))
        return {kNoPoint, kNoPoint};
    return window;
}

bool CZarumateLayout::TickCells(std::uint32_t time, POINT window)
{
    POINT point = CellPoint(window);
    bool changed = false;
    for (const CellPtr& cell : m_cells) {
        changed = cell->Tick(time, point.x, point.y) || changed;
        bool shows = cell->GetRecord() && std::find(m_refreshed.begin(), m_refreshed.end(),
                                                    cell->GetRecord()) != m_refreshed.end();
        changed = changed || shows != cell->ShowsDownloadState();
        cell->SetShowsDownloadState(shows);
    }
    return changed;
}

void CZarumateLayout::StartVisibleDownloads()
{
    for (const CellPtr& cell : m_cells) {
        const CZarumateDataPtr& record = cell->GetRecord();
        if (cell->IsCacheChecked() || !record || !IsVisible(cell->GetRect()))
            continue;
        // Each cell looks at its record once: a record that has an error
        // keeps it for the run, and one whose file is there needs nothing.
        cell->SetCacheChecked();
        if (record->m_error.HasErr() || PathExists(record->GetImagePath()))
            continue;
        // Without the file, an unchanged server time must not skip the
        // transfer.
        record->m_imageModifiedTime = {};
        StartImageDownload(record);
    }
}

void CZarumateLayout::RefreshImage(const CZarumateDataPtr& record)
{
    if (!record)
        return;
    if (std::find(m_refreshed.begin(), m_refreshed.end(), record) == m_refreshed.end())
        m_refreshed.push_back(record);
    StartImageDownload(record);
}

void CZarumateLayout::StartImageDownload(const CZarumateDataPtr& record)
{
    if (!record || !m_taskSink)
        return;
    auto task = std::make_shared<CDownloadImageTask>();
    if (HRESULT hr = task->SetUrl(record->GetImageUrl()); Failed(hr)) {
        record->m_error.SetErr(kMsgDownloadFailed, hr);
        return;
    }
    // The mark keeps later ticks from starting the same download; only a
    // failure replaces it, so a record is fetched by itself once a run.
    record->m_error.SetErr(kMsgDownloading);
    task->m_lastModified = record->m_imageModifiedTime;
    task->SetClient(m_downloadClient);
    m_taskSink(std::move(task));
}

int CZarumateLayout::HitTest(int x, int y) const
{
    if (PtInRect(m_innerRect, {x - m_windowRect.left, y - m_windowRect.top}))
        return HTCLIENT;
    return CZaruFrameLayout::HitTest(x, y);
}

bool CZarumateLayout::OnSetCursor(CWindow& window)
{
    POINT point = window.ScreenToClient(GetCursorPos());
    if (!PtInRect(m_innerRect, point))
        return false;
    for (const CellPtr& cell : m_cells) {
        if (cell->GetRecord() && cell->IsOverLink(point.x, point.y)) {
            window.SetCursor(CCursor::Hand);
            return true;
        }
    }
    return false;
}

bool CZarumateLayout::OnLButtonDown(std::uint32_t keys, POINT client)
{
    if (!PtInRect(m_innerRect, client))
        return false;
    // The cells are held here: a command sent from inside may rebuild them.
    std::deque<CellPtr> cells = m_cells;
    for (const CellPtr& cell : cells)
        if (cell->ButtonDown(keys, client.x, client.y))
            return true;
    return m_upButton.ButtonDown(keys, client.x, client.y) ||
           m_downButton.ButtonDown(keys, client.x, client.y) ||
           m_scrollBar.ButtonDown(client.x, client.y);
}

bool CZarumateLayout::OnLButtonUp(std::uint32_t keys, POINT client)
{
    // A cell's command may open a popup whose ticks rebuild the cells.
    std::deque<CellPtr> cells = m_cells;
    bool redraw = false;
    for (const CellPtr& cell : cells)
        redraw = cell->ButtonUp(keys, client.x, client.y) || redraw;
    redraw = m_upButton.ButtonUp(keys, client.x, client.y) || redraw;
    redraw = m_downButton.ButtonUp(keys, client.x, client.y) || redraw;
    redraw = m_scrollBar.ButtonUp(client.x, client.y) || redraw;
    // A press whose widget is gone (its record deleted meanwhile) must not
    // leave the mouse held by the window.
    if (m_owner && CWindow::GetCapture() == m_owner && !GetPressedCell() &&
        !m_upButton.IsPressed() && !m_downButton.IsPressed() && !m_scrollBar.IsDragging())
        CWindow::ReleaseCapture();
    return redraw;
}

bool CZarumateLayout::OnMouseMove(std::uint32_t /*keys*/, POINT client)
{
    return m_scrollBar.MouseMove(client.x, client.y);
}

bool CZarumateLayout::OnMouseWheel(int delta)
{
    return m_scrollBar.Wheel(delta);
}

bool CZarumateLayout::OnCaptureChanged(CWindow* newCapture)
{
    std::deque<CellPtr> cells = m_cells;
    bool redraw = false;
    for (const CellPtr& cell : cells)
        redraw = cell->CaptureChanged(newCapture) || redraw;
    redraw = m_upButton.CaptureChanged(newCapture) || redraw;
    redraw = m_downButton.CaptureChanged(newCapture) || redraw;
    redraw = m_scrollBar.CaptureChanged(newCapture) || redraw;
    return redraw;
}

bool CZarumateLayout::OnContextMenu(POINT screen)
{
    if (!m_cellMenu || !m_owner)
        return false;
    POINT client = m_owner->ScreenToClient(screen);
    if (!PtInRect(m_innerRect, client))
        return false;
    std::deque<CellPtr> cells = m_cells;
    for (const CellPtr& cell : cells) {
        if (!cell->GetRecord() || !PtInRect(cell->GetRect(), client))
            continue;
        // The menu opens inside the work area of the screen it is on.
        RECT work = MonitorFromPoint(screen).work;
        POINT at{std::clamp(screen.x, work.left, std::max(work.left, work.right - 1)), screen.y};
        // Marked, the cell is drawn highlighted and is the pressed cell for
        // the command the menu sends.
        cell->SetPressed(true);
        cell->SetInClick(true);
        m_cellMenu(*cell, at);
        cell->SetInClick(false);
        cell->SetPressed(false);
        return true;
    }
    return false;
}

bool CZarumateLayout::OnCommand(int id)
{
    switch (id) {
    case kUpButtonId:
        return m_scrollBar.ScrollBy(-m_pageStep);
    case kDownButtonId:
        return m_scrollBar.ScrollBy(m_pageStep);
    case kScrollBarId:
        if (!m_inRebuild)
            RebuildCells(TickCountMs());
        return true;
    default:
        return false;
    }
}

bool CZarumateLayout::OnKeyDown(int key)
{
    switch (key) {
    case VK_UP:
        return m_scrollBar.ScrollBy(-kPitch);
    case VK_DOWN:
        return m_scrollBar.ScrollBy(kPitch);
    case VK_PRIOR:
        return m_scrollBar.ScrollBy(-std::max(m_pageStep, kPitch));
    case VK_NEXT:
        return m_scrollBar.ScrollBy(std::max(m_pageStep, kPitch));
    case VK_HOME:
        return m_scrollBar.ScrollTo(m_scrollBar.GetMinimum());
    case VK_END:
        return m_scrollBar.ScrollTo(m_scrollBar.GetMaximum());
    default:
        return false;
    }
}

bool CZarumateLayout::GetToolTip(POINT point, std::wstring& text, RECT& area) const
{
    if (PtInRect(m_innerRect, point)) {
        for (const CellPtr& cell : m_cells)
            if (cell->GetRecord() && cell->GetLinkToolTip(point, text, area))
                return true;
        return false;
    }
    return CZaruFrameLayout::GetToolTip(point, text, area);
}

const CTextureBrush* CZarumateLayout::SeparatorBrush() const
{
    if (const CTextureBrush* shared = GetDottedSeparatorBrush())
        return shared;
    return m_separatorBrush.get();
}

void CZarumateLayout::Paint(CGraphics& graphics)
{
    PaintFrame(graphics);
    graphics.SetPixelOffsetMode(CPixelOffsetMode::HighQuality);
    graphics.SetSmoothingMode(CSmoothingMode::HighQuality);
    graphics.SetInterpolationMode(CInterpolationMode::HighQualityBicubic);
    CRectF inner = ToRectF(m_innerRect);
    graphics.FillRectangle(CSolidBrush(kListBackground), inner);
    graphics.SetClip(inner);
    m_upButton.Paint(graphics);
    m_downButton.Paint(graphics);
    m_scrollBar.Paint(graphics);

    // Separators and cells only where they can be seen.
    if (const CTextureBrush* dots = SeparatorBrush()) {
        int first = 0;
        int last = 0;
        SlotsInBand(std::int64_t(m_innerRect.top) - kPitch, m_innerRect.bottom, first, last);
        for (int slot = first; slot < last; ++slot) {
            RECT line =
                OffsetRect(m_firstSeparatorRect, 0, ClampToInt(std::int64_t(kPitch) * slot));
            if (IsVisible(line))
                graphics.FillRectangle(*dots, ToRectF(line));
        }
    }
    // A font made before the GUI was up draws nothing; it is made again.
    if (!m_font || m_font->GetLastStatus() != CDrawStatus::Ok)
        m_font = std::make_shared<CFont>(CZarumateCell::kFontPoints);
    for (const CellPtr& cell : m_cells) {
        if (!IsVisible(cell->GetRect()))
            continue;
        cell->SetFont(m_font);
        cell->Paint(graphics);
    }
    PaintHint(graphics);
    graphics.ResetClip();
}

void CZarumateLayout::PaintHint(CGraphics& graphics)
{
    std::wstring text = GetHintText();
    if (text.empty() || !m_font)
        return;
    RECT room = GetHintRect();
    CRectF layout = ToRectF(room);
    CStringFormat format;
    CRectF bounds;
    if (layout.width <= 0 || layout.height <= 0 ||
        graphics.MeasureString(text, *m_font, layout, format, bounds) != CDrawStatus::Ok)
        return;
    // The text stands on white, so that no separator runs through it.
    float height = std::min(bounds.height, layout.height);
    CRectF box{float(m_listRect.left), layout.y - kHintPadding, float(m_listRect.Width()),
               height + 2 * kHintPadding};
    bool overCells = !m_records.empty();
    if (overCells) {
        // Over the cells the note closes the list area at its bottom, set
        // apart from them by a grey line.
        box.y = std::floor(std::max(box.y, float(m_innerRect.bottom) - height - 2 * kHintPadding));
        box.height = float(m_innerRect.bottom) - box.y;
        layout.y = box.y + kHintPadding;
    }
    graphics.FillRectangle(CSolidBrush(kListBackground), box);
    if (overCells)
        graphics.FillRectangle(CSolidBrush(kHintBorderColor), {box.x, box.y, box.width, 1.0f});
    graphics.DrawString(text, *m_font, layout, format, CSolidBrush(CZarumateCell::kNameColor));
}

void CZarumateLayout::DeleteRecord(int index)
{
    std::size_t before = m_records.size();
    m_records.RemoveAt(index);
    if (m_records.size() != before)
        ++m_changeCount;
}

void CZarumateLayout::DeleteRecordsFrom(int index)
{
    std::size_t before = m_records.size();
    m_records.RemoveFrom(index);
    if (m_records.size() != before)
        ++m_changeCount;
}

void CZarumateLayout::DeleteRecords(const std::vector<CZarumateDataPtr>& records)
{
    if (m_records.RemoveRecords(records) > 0)
        ++m_changeCount;
}

CZarumateCell* CZarumateLayout::GetPressedCell() const
{
    for (const CellPtr& cell : m_cells)
        if (cell->IsAnyPressed())
            return cell.get();
    return nullptr;
}

} // namespace zk
