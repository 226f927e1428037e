#include "base/path.h"
#include "fetch/download_image_task.h"
#include "fetch/drawing_surface.h"
#include "friends/avatar_cache.h"
#include "platform/file_ops.h"
#include "platform/text_convert.h"
#include "res/resource_ids.h"
#include "res/string_table.h"
#include "support/fake_window_system.h"
#include "support/offscreen_gui.h"
#include "support/scoped_env.h"
#include "support/test_env.h"
#include "ui/zarumate_cell.h"
#include "ui/zarumate_layout.h"

#include <climits>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace zk {
namespace {

constexpr RECT kFrame{100, 50, 360, 338}; // 260 x 288
// Window coordinates of the list: the inner area {5, 27, 255, 272} less
// the list insets.
constexpr RECT kList{10, 32, 231, 267};

// The main window as far as the list is concerned: it hands mouse input
// and the scroll column's commands to the layout and notes every command.
class CListWindow : public CWindow
{
public:
    CZarumateLayout m_layout;
    std::vector<int> m_commands;

protected:
    void OnCommand(int /*code*/, int id) override
    {
        m_commands.push_back(id);
        m_layout.OnCommand(id);
    }
    void OnLButtonDown(std::uint32_t keys, POINT point) override
    {
        m_layout.OnLButtonDown(keys, point);
    }
    void OnLButtonUp(std::uint32_t keys, POINT point) override
    {
        m_layout.OnLButtonUp(keys, point);
    }
    void OnCaptureChanged(CWindow* to) override { m_layout.OnCaptureChanged(to); }
    bool OnToolTip(POINT point, std::wstring& text, RECT& area) override
    {
        return m_layout.GetToolTip(point, text, area);
    }
};

CZarumateDataPtr Friend(const std::wstring& id, const std::wstring& name = L"name")
{
    auto record = std::make_shared<CZarumateData>();
    record->m_id = id;
    record->m_name = name;
    return record;
}

std::string Png(std::uint32_t argb, int size)
{
    CImage image(size, size, std::vector<std::uint32_t>(std::size_t(size) * size, argb));
    std::string data;
    EncodePng(image, data);
    return data;
}

class ZarumateLayoutTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_window.Create(nullptr, kFrame, L"Zarumatekit", 0, 0));
        Layout().SetTaskSink([this](std::shared_ptr<CDownloadImageTask> task) {
            m_tasks.push_back(std::move(task));
        });
        m_system.m_cursor = {0, 0}; // away from the window
        Layout().LayoutView(&m_window);
    }

    CZarumateLayout& Layout() { return m_window.m_layout; }

    // The records n-1 ... 0 found in that order, so that record i has id
    // "i"; no download is started for them.
    void Fill(int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            auto record = Friend(std::to_wstring(i));
            record->m_error.SetErr(kMsgDownloading);
            Layout().QueueFound(record);
        }
        Layout().Tick(0);
    }

    void WriteCacheFile(const std::wstring& id)
    {
        std::wstring folder = JoinPath(GetDataFolder(), kImageFolderName);
        ASSERT_TRUE(Succeeded(CreateFolderTree(folder)));
        ASSERT_TRUE(
            Succeeded(WriteWholeFile(JoinPath(folder, id + L".png"), Png(0xFF00FF00, 128))));
    }

    POINT Screen(int x, int y) const { return {kFrame.left + x, kFrame.top + y}; }

    test::CTempDir m_home;
    test::CScopedEnv m_env{"XDG_DATA_HOME", m_home.Path().string()};
    test::CFakeWindowSystem m_system;
    CListWindow m_window;
    std::vector<std::shared_ptr<CDownloadImageTask>> m_tasks;
};

TEST_F(ZarumateLayoutTest, EmptyListFillsTheViewWithEmptySlots)
{
    EXPECT_EQ(Layout().GetListRect(), kList);
    EXPECT_EQ(Layout().GetSlotCount(), 6); // (235 + 3 + 44) / 45
    EXPECT_EQ(Layout().GetPageStep(), 225);
    EXPECT_EQ(Layout().GetFirstCellRect(), (RECT{10, 32, 231, 74}));
    EXPECT_EQ(Layout().GetFirstSeparatorRect(), (RECT{10, 75, 231, 76}));
    ASSERT_EQ(Layout().GetCells().size(), 6u);
    for (const auto& cell : Layout().GetCells())
        EXPECT_EQ(cell->GetRecord(), nullptr);
    const CZaruScrollBar& bar = Layout().GetScrollBar();
    EXPECT_EQ(bar.GetThumbRect(), bar.GetRect());
    EXPECT_EQ(Layout().GetUpButton().GetRect(), (RECT{238, 33, 249, 40}));
    EXPECT_EQ(Layout().GetDownButton().GetRect(), (RECT{238, 259, 249, 266}));
    EXPECT_EQ(bar.GetRect(), (RECT{238, 44, 249, 255}));
}

TEST_F(ZarumateLayoutTest, SlotsShowTheirRecordsAndOnlyThoseNearTheViewHaveCells)
{
    Fill(1000);
    EXPECT_EQ(Layout().GetSlotCount(), 1006);
    EXPECT_LT(Layout().GetCells().size(), 20u);
    ASSERT_NE(Layout().GetCell(0), nullptr);
    EXPECT_EQ(Layout().GetCell(0)->GetRecord()->m_id, L"0");
    EXPECT_EQ(Layout().GetCell(999), nullptr);

    // The down arrow moves a page; the scroll bar's notice rebuilds.
    Layout().OnCommand(CZarumateLayout::kDownButtonId);
    EXPECT_EQ(Layout().GetScrollBar().GetPosition(), 225);
    EXPECT_EQ(m_window.m_commands, std::vector<int>{CZarumateLayout::kScrollBarId});
    EXPECT_EQ(Layout().GetFirstCellRect().top, 32 - 225);
    ASSERT_NE(Layout().GetCell(5), nullptr);
    EXPECT_EQ(Layout().GetCell(5)->GetRect().top, 32);
    EXPECT_EQ(Layout().GetCell(5)->GetRecord()->m_id, L"5");

    // At the end the last record is followed by empty slots.
    Layout().GetScrollBar().ScrollTo(INT_MAX);
    EXPECT_EQ(Layout().GetCell(999)->GetRecord()->m_id, L"999");
    ASSERT_NE(Layout().GetCell(1000), nullptr);
    EXPECT_EQ(Layout().GetCell(1000)->GetRecord(), nullptr);
}

// A view scrolled to the end of a list that then loses people, or grows
// taller, is filled with what is left rather than with the empty slots
// past the end.
TEST_F(ZarumateLayoutTest, ShorterListOrTallerViewAtTheEndShowsWhatIsLeft)
{
    auto expectFilledUpTo = [&](int lastRecord) {
        CZarumateCell* last = Layout().GetCell(lastRecord);
        ASSERT_NE(last, nullptr);
        ASSERT_NE(last->GetRecord(), nullptr);
        const RECT& list = Layout().GetListRect();
        EXPECT_LE(last->GetRect().bottom, list.bottom);
        EXPECT_GT(last->GetRect().bottom, list.bottom - CZarumateLayout::kPitch);
        EXPECT_EQ(Layout().GetCell(lastRecord + 1)->GetRecord(), nullptr);
    };

    Fill(40);
    Layout().GetScrollBar().ScrollTo(INT_MAX);
    Layout().DeleteRecordsFrom(10);
    m_window.m_commands.clear();
    EXPECT_TRUE(Layout().Tick(25));
    expectFilledUpTo(9);
    EXPECT_EQ(Layout().GetScrollBar().GetPosition(), 10 * 45 - 235 + 1);
    EXPECT_EQ(m_window.m_commands, std::vector<int>{CZarumateLayout::kScrollBarId});

    // All that is left fits: from the top, as a new list would be.
    Layout().DeleteRecordsFrom(2);
    EXPECT_TRUE(Layout().Tick(50));
    EXPECT_EQ(Layout().GetScrollBar().GetPosition(), 0);
    EXPECT_EQ(Layout().GetFirstCellRect().top, kList.top);
    EXPECT_EQ(Layout().GetCell(0)->GetRecord()->m_id, L"0");
    EXPECT_EQ(Layout().GetCell(1)->GetRecord()->m_id, L"1");
    for (const auto& cell : Layout().GetCells())
        EXPECT_EQ(cell->GetRecord() != nullptr, cell->GetSlot() < 2) << cell->GetSlot();

    // A window made taller at the end of the list shows more of it.
    Fill(40);
    Layout().GetScrollBar().ScrollTo(INT_MAX);
    int before = Layout().GetScrollBar().GetPosition();
    ASSERT_TRUE(m_window.MoveWindow({kFrame.left, kFrame.top, kFrame.right, kFrame.bottom + 90}));
    Layout().LayoutView(&m_window);
    EXPECT_EQ(Layout().GetScrollBar().GetPosition(), before - 90);
    expectFilledUpTo(39);
}

TEST_F(ZarumateLayoutTest, TickMergesSightingsInArrivalOrderAndScrollsToTheTop)
{
    Fill(20);
    std::uint64_t changes = Layout().GetChangeCount();
    Layout().GetScrollBar().ScrollTo(300);
    CZarumateDataPtr known = Layout().GetRecords()[7];
    known->m_thumbnail = std::make_shared<CImage>(38, 38);

    Layout().QueueFound(Friend(L"new"));
    Layout().QueueFound(Friend(L"7", L"renamed"));
    EXPECT_TRUE(Layout().Tick(0));
    const CZarumateDataList& records = Layout().GetRecords();
    ASSERT_EQ(records.size(), 21u);
    EXPECT_EQ(records[0]->m_id, L"7");
    EXPECT_EQ(records[0], known); // the same record, avatar and all
    EXPECT_EQ(records[0]->m_name, L"renamed");
    EXPECT_NE(records[0]->m_updateTime, SYSTEMTIME{});
    EXPECT_EQ(records[1]->m_id, L"new");
    EXPECT_EQ(Layout().GetScrollBar().GetPosition(), 0);
    EXPECT_EQ(Layout().GetCell(0)->GetRecord(), known);
    EXPECT_GT(Layout().GetChangeCount(), changes);
}

TEST_F(ZarumateLayoutTest, QueuesLoseNothingWhileTheTickDrainsThem)
{
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < kEach; ++i)
                Layout().QueueFound(Friend(std::to_wstring(t * kEach + i)));
        });
    std::uint32_t time = 0;
    while (Layout().GetRecords().size() < std::size_t(kThreads * kEach) && time < 100000)
        Layout().Tick(time += 25);
    for (auto& thread : threads)
        thread.join();
    Layout().Tick(time + 25);
    EXPECT_EQ(Layout().GetRecords().size(), std::size_t(kThreads * kEach));
}

TEST_F(ZarumateLayoutTest, IdleTickRebuildsNothingAndAsksForNoRedraw)
{
    Fill(5);
    CZarumateCell* cell = Layout().GetCell(0);
    std::uint64_t changes = Layout().GetChangeCount();
    EXPECT_FALSE(Layout().Tick(25));
    EXPECT_FALSE(Layout().Tick(50));
    EXPECT_EQ(Layout().GetCell(0), cell);
    EXPECT_EQ(Layout().GetChangeCount(), changes);

    Layout().DeleteRecord(7); // out of range: nothing
    EXPECT_FALSE(Layout().Tick(75));
    Layout().DeleteRecord(1);
    EXPECT_TRUE(Layout().Tick(100));
    EXPECT_NE(Layout().GetCell(0), cell);
    EXPECT_EQ(Layout().GetRecords().size(), 4u);
    Layout().DeleteRecordsFrom(2);
    Layout().Tick(125);
    EXPECT_EQ(Layout().GetRecords().size(), 2u);
    EXPECT_EQ(Layout().GetCell(2)->GetRecord(), nullptr);
}

TEST_F(ZarumateLayoutTest, DownloadsOncePerRunForVisibleRecordsWithoutCacheFile)
{
    WriteCacheFile(L"cached");
    for (int i = 19; i >= 0; --i) {
        auto record = Friend(i == 1 ? L"cached" : std::to_wstring(i));
        if (i == 2)
            record->m_error.SetErr(kMsgDownloadFailed);
        record->m_imageModifiedTime.wYear = 2010;
        Layout().QueueFound(record);
    }
    Layout().Tick(0);
    Layout().Tick(25);

    // Slots 0 to 5 are visible; 1 is cached and 2 has failed before.
    ASSERT_EQ(m_tasks.size(), 4u);
    EXPECT_EQ(m_tasks[0]->m_url, Layout().GetRecords()[0]->GetImageUrl());
    EXPECT_EQ(m_tasks[0]->m_lastModified, SYSTEMTIME{}); // no file: no skip
    EXPECT_EQ(m_tasks[3]->m_url, Layout().GetRecords()[5]->GetImageUrl());
    EXPECT_EQ(Layout().GetRecords()[0]->m_error.GetId(), kMsgDownloading);
    EXPECT_EQ(Layout().GetRecords()[6]->m_error.GetId(), 0u);

    // A failure comes back and is kept: no second automatic download, not
    // even after a rebuild.
    m_tasks[0]->GetErr().SetErr(kMsgDownloadFailed);
    Layout().QueueImageResult(m_tasks[0]);
    Layout().Tick(50);
    EXPECT_EQ(Layout().GetRecords()[0]->m_error.GetId(), kMsgDownloadFailed);
    Layout().OnCommand(CZarumateLayout::kScrollBarId);
    Layout().Tick(75);
    EXPECT_EQ(m_tasks.size(), 4u);

    // Scrolled into view, the next records are fetched.
    Layout().OnCommand(CZarumateLayout::kDownButtonId);
    EXPECT_EQ(m_tasks.size(), 9u);
}

TEST_F(ZarumateLayoutTest, FinishedAvatarRedrawsVisibleCellAndIsLetGoFarFromView)
{
    Fill(40);
    auto finish = [this](int index) {
        auto task = std::make_shared<CDownloadImageTask>();
        task->SetUrl(Layout().GetRecords()[index]->GetImageUrl());
        task->m_image = std::make_shared<CImage>(128, 128);
        std::wstring file = Utf8ToWide((m_home.Path() / "download.tmp").string());
        WriteWholeFile(file, Png(0xFF0000FF, 128));
        task->m_downloadedFile = file;
        Layout().QueueImageResult(task);
    };
    finish(1);
    EXPECT_TRUE(Layout().Tick(0));
    EXPECT_NE(Layout().GetRecords()[1]->m_image, nullptr);
    EXPECT_TRUE(PathExists(Layout().GetRecords()[1]->GetImagePath()));

    // Far below the view: cached, then let go at once.
    finish(30);
    EXPECT_FALSE(Layout().Tick(25));
    EXPECT_TRUE(PathExists(Layout().GetRecords()[30]->GetImagePath()));
    EXPECT_EQ(Layout().GetRecords()[30]->m_image, nullptr);

    // Scrolling away lets the visible one go too.
    Layout().GetScrollBar().ScrollTo(45 * 25);
    EXPECT_EQ(Layout().GetRecords()[1]->m_image, nullptr);
}

TEST_F(ZarumateLayoutTest, ReleaseOnLinkSendsTheLinkCommandElsewhereTheCellCommand)
{
    Fill(3);
    // Cell 1 spans y 77 to 119; its links sit at x 56, 75, 94, 113, y 100 to 114.
    m_system.Click(m_window, Screen(75 + 3, 105));
    EXPECT_EQ(m_window.m_commands, std::vector<int>{9002});
    m_system.Click(m_window, Screen(180, 90));
    EXPECT_EQ(m_window.m_commands, (std::vector<int>{9002, 9000}));
    // Pressed on a link and released beside it: nothing.
    m_system.Press(m_window, Screen(56 + 3, 105));
    EXPECT_EQ(Layout().GetPressedCell(), Layout().GetCell(1));
    m_system.Release(m_window, Screen(180, 90));
    EXPECT_EQ(m_window.m_commands.size(), 2u);
    EXPECT_EQ(Layout().GetPressedCell(), nullptr);
    // Empty slots take no press.
    m_system.Click(m_window, Screen(180, 200));
    EXPECT_EQ(m_window.m_commands.size(), 2u);

    // The hand over a link, the default cursor elsewhere.
    m_system.m_cursor = Screen(113 + 2, 102);
    EXPECT_TRUE(Layout().OnSetCursor(m_window));
    EXPECT_EQ(m_system.PeerOf(m_window)->cursor, CCursor::Hand);
    m_system.m_cursor = Screen(150, 102);
    EXPECT_FALSE(Layout().OnSetCursor(m_window));
}

TEST_F(ZarumateLayoutTest, PressFollowsItsRecordThroughARebuild)
{
    Fill(3);
    // A sighting moves the pressed record down a slot: the release over its
    // old place is beside it, so nothing is sent, and the mouse is free.
    m_system.Press(m_window, Screen(180, 90));
    Layout().QueueFound(Friend(L"9"));
    Layout().Tick(0);
    EXPECT_EQ(Layout().GetPressedCell(), Layout().GetCell(2));
    m_system.Release(m_window, Screen(180, 90));
    EXPECT_TRUE(m_window.m_commands.empty());
    EXPECT_EQ(CWindow::GetCapture(), nullptr);

    // A change elsewhere leaves the press where it was.
    m_system.Press(m_window, Screen(180, 90));
    Layout().DeleteRecord(3);
    Layout().Tick(25);
    m_system.Release(m_window, Screen(180, 90));
    EXPECT_EQ(m_window.m_commands, std::vector<int>{9000});

    // The pressed record deleted: the release still frees the mouse.
    m_system.Press(m_window, Screen(180, 90));
    Layout().DeleteRecord(1);
    Layout().Tick(50);
    m_system.Release(m_window, Screen(180, 90));
    EXPECT_EQ(CWindow::GetCapture(), nullptr);
}

TEST_F(ZarumateLayoutTest, ContextMenuMarksTheCellWithARecordUnderThePoint)
{
    Fill(2);
    EXPECT_FALSE(Layout().OnContextMenu(Screen(100, 90))); // no menu set yet
    std::vector<int> slots;
    Layout().SetCellMenu([&](CZarumateCell& cell, POINT) {
        EXPECT_EQ(Layout().GetPressedCell(), &cell);
        slots.push_back(cell.GetSlot());
    });
    EXPECT_TRUE(Layout().OnContextMenu(Screen(100, 90)));
    EXPECT_FALSE(Layout().OnContextMenu(Screen(100, 150))); // empty slot
    EXPECT_FALSE(Layout().OnContextMenu(Screen(100, 10)));  // caption
    EXPECT_EQ(slots, std::vector<int>{1});
    EXPECT_EQ(Layout().GetPressedCell(), nullptr);
}

TEST_F(ZarumateLayoutTest, HoverFollowsThePointerInsideTheInnerArea)
{
    Fill(2);
    m_system.m_cursor = Screen(180, 50);
    EXPECT_TRUE(Layout().Tick(0));
    EXPECT_TRUE(Layout().GetCell(0)->IsHot());
    m_system.m_cursor = Screen(180, 20); // caption
    EXPECT_TRUE(Layout().Tick(25));
    EXPECT_FALSE(Layout().GetCell(0)->IsHot());
    EXPECT_EQ(Layout().HitTest(Screen(180, 50).x, Screen(180, 50).y), HTCLIENT);
    EXPECT_EQ(Layout().HitTest(Screen(180, 20).x, Screen(180, 20).y), HTCAPTION);
}

TEST_F(ZarumateLayoutTest, KeysScrollByACellAPageAndToEitherEnd)
{
    Fill(100);
    const CZaruScrollBar& bar = Layout().GetScrollBar();
    auto press = [&](int key) {
        m_window.m_commands.clear();
        bool redraw = Layout().OnKeyDown(key);
        return std::make_pair(redraw, bar.GetPosition());
    };
    EXPECT_EQ(press(VK_UP), std::make_pair(false, 0)); // already at the top
    EXPECT_EQ(press(VK_DOWN), std::make_pair(true, CZarumateLayout::kPitch));
    // The scroll bar's notice rebuilt the cells for the new position.
    EXPECT_EQ(m_window.m_commands, std::vector<int>{CZarumateLayout::kScrollBarId});
    EXPECT_EQ(Layout().GetCell(1)->GetRect().top, kList.top);
    EXPECT_EQ(press(VK_NEXT).second, CZarumateLayout::kPitch + Layout().GetPageStep());
    EXPECT_EQ(press(VK_PRIOR).second, CZarumateLayout::kPitch);
    EXPECT_EQ(press(VK_UP).second, 0);
    auto end = press(VK_END);
    EXPECT_TRUE(end.first);
    EXPECT_EQ(end.second, bar.GetMaximum() - bar.GetPage() + 1);
    EXPECT_EQ(press(VK_DOWN), std::make_pair(false, end.second));
    EXPECT_EQ(press(VK_HOME).second, 0);
    EXPECT_FALSE(Layout().OnKeyDown(VK_RETURN));
}

TEST_F(ZarumateLayoutTest, LinksAndTitleButtonsTellWhatTheyDoInTooltips)
{
    Layout().AddRoundButton(IDB_CLOSE_SMALL, IDB_CLOSE_LARGE, HTCLOSE);
    Layout().AddRoundButton(IDB_MINIMIZE_SMALL, IDB_MINIMIZE_LARGE, HTMINBUTTON);
    Fill(2);
    Layout().LayoutView(&m_window);
    std::wstring text;
    RECT area;
    const auto& links = Layout().GetCell(1)->GetLinks();
    for (int i = 0; i < CZarumateCell::kLinkCount; ++i) {
        RECT link = links[i]->GetRect();
        ASSERT_TRUE(Layout().GetToolTip({link.left + 2, link.top + 2}, text, area)) << i;
        EXPECT_EQ(text, LoadString(CZarumateCell::kLinkToolTipIds[i]));
        EXPECT_EQ(area, link);
    }
    EXPECT_EQ(LoadString(CZarumateCell::kLinkToolTipIds[3]), L"なう（ミニブログ）を開く");
    // The row elsewhere, and the empty slots, say nothing.
    RECT cell = Layout().GetCell(0)->GetRect();
    EXPECT_FALSE(Layout().GetToolTip({cell.left + 150, cell.top + 10}, text, area));
    EXPECT_FALSE(Layout().GetToolTip({20, Layout().GetSlotRect(3).top + 30}, text, area));

    // The close button (its centre 16 px from the right, 14 down), the
    // minimise button beside it; the caption between says nothing.
    ASSERT_TRUE(Layout().GetToolTip({260 - 16, 14}, text, area));
    EXPECT_EQ(text, L"閉じる");
    EXPECT_TRUE(PtInRect(area, {260 - 16, 14}));
    ASSERT_TRUE(Layout().GetToolTip({260 - 16 - 23, 14}, text, area));
    EXPECT_EQ(text, L"最小化");
    EXPECT_FALSE(Layout().GetToolTip({120, 14}, text, area));

    // The window hands the tip over in screen coordinates, and none while
    // it takes no input.
    RECT first = links[0]->GetRect();
    ASSERT_TRUE(m_window.PeerToolTip(Screen(first.left + 1, first.top + 1), text, area));
    EXPECT_EQ(area, OffsetRect(first, kFrame.left, kFrame.top));
    m_window.EnableWindow(false);
    EXPECT_FALSE(m_window.PeerToolTip(Screen(first.left + 1, first.top + 1), text, area));
}

TEST_F(ZarumateLayoutTest, HintFollowsTheWatchingAndOnlyAStopShowsOverPeople)
{
    EXPECT_EQ(Layout().GetHintText(), L""); // nothing told yet
    Layout().SetWatchState(CWatchState::Starting, L"eth0");
    EXPECT_TRUE(Layout().Tick(25));
    EXPECT_FALSE(Layout().Tick(50));
    EXPECT_EQ(Layout().GetHintText(), LoadString(CZarumateLayout::kHintStartingId));
    Layout().SetWatchState(CWatchState::Watching, L"eth0");
    EXPECT_TRUE(Layout().Tick(75));
    std::wstring watching = Layout().GetHintText();
    EXPECT_NE(watching.find(L"ミニブログ"), std::wstring::npos);
    EXPECT_NE(watching.find(L"監視中のアダプタ: eth0"), std::wstring::npos);
    // The same state again changes nothing.
    Layout().SetWatchState(CWatchState::Watching, L"eth0");
    EXPECT_FALSE(Layout().Tick(100));

    Fill(1);
    EXPECT_EQ(Layout().GetHintText(), L"");
    Layout().SetWatchState(CWatchState::Stopped, L"eth0");
    EXPECT_TRUE(Layout().Tick(125));
    std::wstring stopped = Layout().GetHintText();
    EXPECT_EQ(stopped, LoadString(CZarumateLayout::kHintStoppedId));
    EXPECT_NE(stopped.find(L"「監視状態」"), std::wstring::npos);
    Layout().DeleteRecord(0);
    EXPECT_EQ(Layout().GetHintText(), stopped);
}

// Painting needs fonts, which need the GUI.
class ZarumatePaintTest : public ZarumateLayoutTest
{
protected:
    void SetUp() override
    {
        test::EnsureOffscreenGui();
        ZarumateLayoutTest::SetUp();
    }

    // Pixels in the box whose colour satisfies the test.
    template <class Test> static int Count(const CImage& image, const RECT& box, Test test)
    {
        int n = 0;
        for (int y = box.top; y < box.bottom; ++y)
            for (int x = box.left; x < box.right; ++x)
                n += test(image.GetPixel(x, y));
        return n;
    }
    static bool Grey(std::uint32_t p)
    {
        int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        return r == g && g == b && r < 0xF0;
    }
};

TEST_F(ZarumatePaintTest, CellShowsThumbnailNameLinksAndTimeOnlyWithRoom)
{
    auto record = Friend(L"1", L"ab");
    record->m_image = std::make_shared<CImage>(128, 128);
    record->m_thumbnail =
        std::make_shared<CImage>(38, 38, std::vector<std::uint32_t>(38 * 38, 0xFFFF0000));
    auto paint = [&](int width, bool seen) {
        record->m_updateTime = seen ? SYSTEMTIME{2010, 5, 6, 1, 9, 5, 3, 0} : SYSTEMTIME{};
        CZarumateCell cell;
        cell.SetOwner(&m_window);
        cell.SetRect({0, 0, width, 42});
        cell.SetRecord(record, CZarumateCell::LoadLinkImages());
        auto image = std::make_shared<CImage>(260, 42);
        CGraphics graphics(*image);
        graphics.Clear(0xFFFFFFFF);
        cell.Paint(graphics);
        return image;
    };

    auto image = paint(230, true);
    EXPECT_EQ(image->GetPixel(19, 21), 0xFFFF0000u); // thumbnail at (0, 2)
    EXPECT_EQ(image->GetPixel(19, 1), 0xFFFFFFFFu);
    EXPECT_GT(Count(*image, {44, 5, 80, 22}, [](auto p) { return (p & 0xFF) < 0x80; }), 5);
    for (int x : {46, 65, 84, 103})
        EXPECT_GT(Count(*image, {x, 23, x + 15, 37}, [](auto p) { return p != 0xFFFFFFFF; }), 10);
    // 112 px free right of the links: the time is drawn, grey, at the right.
    EXPECT_GT(Count(*image, {150, 20, 230, 38}, Grey), 20);

    EXPECT_EQ(Count(*paint(217, true), {118, 0, 260, 42}, Grey), 0); // 99 px free
    EXPECT_EQ(Count(*paint(230, false), {118, 0, 260, 42}, Grey), 0);
}

TEST_F(ZarumatePaintTest, EmptyListPaintsWhiteSlotsWithDottedSeparators)
{
    CImage image(260, 288);
    {
        CGraphics graphics(image);
        Layout().Paint(graphics);
    }
    EXPECT_EQ(image.GetPixel(100, 50), 0xFFFFFFFFu);
    // Every visible slot has its separator: white, grey 158, white.
    for (int slot = 0; slot < 5; ++slot) {
        int y = 75 + 45 * slot;
        EXPECT_EQ(Count(image, {10, y, 231, y + 1}, [](auto p) { return p == 0xFF9E9E9E; }), 74)
            << slot;
        EXPECT_EQ(image.GetPixel(100, y + 1), 0xFFFFFFFFu);
    }
}

// A cell of the list as a window of the default width shows it.
constexpr int kDefaultCellWidth = kList.right - kList.left;

TEST_F(ZarumatePaintTest, TimeStaysAtTheDefaultWidthInItsGreyAndClearOfTheLinks)
{
    auto record = Friend(L"1", L"ab");
    auto paint = [&](int width, const SYSTEMTIME& seen) {
        record->m_updateTime = seen;
        CZarumateCell cell;
        cell.SetOwner(&m_window);
        cell.SetRect({0, 0, width, 42});
        cell.SetRecord(record, CZarumateCell::LoadLinkImages());
        auto image = std::make_shared<CImage>(320, 42);
        CGraphics graphics(*image);
        graphics.Clear(0xFFFFFFFF);
        cell.Paint(graphics);
        return std::make_pair(image, int(cell.GetLinks().back()->GetRect().right));
    };
    // The time's pixels: where the cell differs from the same cell
    // without a time; the leftmost of them, -1 for none.
    auto timeLeft = [&](const std::shared_ptr<CImage>& image, int width) {
        auto none = paint(width, SYSTEMTIME{}).first;
        for (int x = 0; x < image->GetWidth(); ++x)
            for (int y = 0; y < image->GetHeight(); ++y)
                if (image->GetPixel(x, y) != none->GetPixel(x, y))
                    return x;
        return -1;
    };
    // One- and two-digit hours (the widest time of day).
    for (SYSTEMTIME seen :
         {SYSTEMTIME{2008, 8, 5, 8, 8, 0, 7, 0}, SYSTEMTIME{2026, 12, 4, 31, 18, 58, 58, 0}}) {
        auto [image, linksRight] = paint(kDefaultCellWidth, seen);
        int left = timeLeft(image, kDefaultCellWidth);
        ASSERT_GE(left, 0) << seen.wHour;
        EXPECT_GE(left, linksRight + CZarumateCell::kTimeGap) << seen.wHour;
        // Thin strokes reach the time's own grey, or nearly (0xAA in the
        // Mincho face).
        std::uint32_t darkest = 0xFF;
        for (int y = 0; y < 42; ++y)
            for (int x = linksRight; x < kDefaultCellWidth; ++x)
                darkest = std::min(darkest, image->GetPixel(x, y) & 0xFF);
        EXPECT_LE(darkest, (CZarumateCell::kTimeColor & 0xFF) + 4) << seen.wHour;
        // With room to spare the whole time (the seconds too) is wider.
        auto wide = paint(300, seen).first;
        EXPECT_GT(300 - timeLeft(wide, 300), kDefaultCellWidth - left + 10) << seen.wHour;
    }
    // Too narrow even without the seconds: nothing over the icons.
    EXPECT_EQ(timeLeft(paint(190, SYSTEMTIME{2026, 12, 4, 31, 18, 58, 58, 0}).first, 190), -1);
}

// The state of a refresh the user asked for stands whole beside the links
// at the default width: the failure in the short words where the whole
// sentence does not fit, the sentence where it does.
TEST_F(ZarumatePaintTest, RefreshStateStandsWholeBesideTheLinks)
{
    auto record = Friend(L"1", L"ab");
    auto paint = [&](int width, std::uint32_t state) {
        record->m_error.SetErr(state);
        CZarumateCell cell;
        cell.SetOwner(&m_window);
        cell.SetRect({0, 0, width, 42});
        cell.SetRecord(record, CZarumateCell::LoadLinkImages());
        cell.SetShowsDownloadState(true);
        auto image = std::make_shared<CImage>(320, 42);
        CGraphics graphics(*image);
        graphics.Clear(0xFFFFFFFF);
        cell.Paint(graphics);
        return std::make_pair(image, int(cell.GetLinks().back()->GetRect().right));
    };
    // The columns right of the links with ink of the kind asked for.
    auto inkColumns = [](const CImage& image, int from, auto ink) {
        int left = -1, right = -1;
        for (int x = from; x < image.GetWidth(); ++x)
            for (int y = 0; y < image.GetHeight(); ++y)
                if (ink(image.GetPixel(x, y))) {
                    left = left < 0 ? x : left;
                    right = x;
                }
        return std::make_pair(left, right);
    };
    auto red = [](std::uint32_t p) {
        int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        return r > 0x80 && r > g + 0x40 && r > b + 0x40;
    };
    auto width = [](std::uint32_t id) {
        CImage scratch(1, 1);
        CGraphics graphics(scratch);
        CFont font(CZarumateCell::kFontPoints);
        CStringFormat format;
        format.noWrap = true;
        CRectF bounds;
        graphics.MeasureString(LoadString(id), font, {0, 0, 1000, 42}, format, bounds);
        return bounds.width;
    };
    float shortWidth = width(CZarumateCell::kRefreshFailedStringId);
    float wholeWidth = width(CZarumateCell::kDownloadFailedStringId);
    ASSERT_GT(wholeWidth, shortWidth + 10);

    for (auto [cellWidth, expected] :
         {std::pair{kDefaultCellWidth, shortWidth}, std::pair{300, wholeWidth}}) {
        auto [image, linksRight] = paint(cellWidth, kMsgDownloadFailed);
        auto [left, right] = inkColumns(*image, linksRight, red);
        ASSERT_GE(left, 0) << cellWidth;
        EXPECT_GE(left, linksRight + CZarumateCell::kTimeGap) << cellWidth;
        EXPECT_LT(right, cellWidth) << cellWidth;
        // As wide as the text set whole: neither cut short nor run long.
        EXPECT_NEAR(float(right - left + 1), expected, 4.0f) << cellWidth;
    }
    // The download in progress fits whole in its grey at the default width.
    auto [image, linksRight] = paint(kDefaultCellWidth, CZarumateCell::kDownloadingStateId);
    auto [left, right] = inkColumns(*image, linksRight, Grey);
    ASSERT_GE(left, linksRight + CZarumateCell::kTimeGap);
    EXPECT_NEAR(float(right - left + 1), width(CZarumateCell::kDownloadingStateId), 4.0f);
}

TEST_F(ZarumatePaintTest, LongNameEndsWithAnEllipsisBeforeTheScrollColumn)
{
    auto record = Friend(L"1", L"ザルメイトのとても長いニックネーム Long Nickname 😀😀");
    CZarumateCell cell;
    cell.SetOwner(&m_window);
    cell.SetRect({0, 0, kDefaultCellWidth, 42});
    cell.SetRecord(record, CZarumateCell::LoadLinkImages());
    CImage image(260, 42);
    {
        CGraphics graphics(image);
        graphics.Clear(0xFFFFFFFF);
        cell.Paint(graphics);
    }
    // The name's row, above the links: ink up to near the cell's edge and
    // nothing beyond it, where the scroll column is.
    auto ink = [](std::uint32_t p) { return (p & 0xFF) < 0x80; };
    EXPECT_EQ(Count(image, {kDefaultCellWidth, 0, 260, 22}, ink), 0);
    EXPECT_GT(Count(image, {kDefaultCellWidth - 14, 4, kDefaultCellWidth, 22}, ink), 0);
    CRectF name = cell.GetNameRect();
    EXPECT_EQ(name.x + name.width, float(kDefaultCellWidth));
}

TEST_F(ZarumatePaintTest, HintIsSetInTheNamesColourOnWhiteInTheListArea)
{
    Layout().SetWatchState(CWatchState::Watching, L"eth0");
    CImage image(260, 288);
    {
        CGraphics graphics(image);
        Layout().Paint(graphics);
    }
    RECT room = Layout().GetHintRect();
    // Japanese strokes are thinner than Latin ones and seldom quite black.
    auto black = [](std::uint32_t p) { return (p & 0xFF) < 0x60; };
    // Several lines of black text from the top of the list, inside it.
    EXPECT_GT(Count(image, {room.left, room.top, room.right, room.top + 14}, black), 20);
    EXPECT_GT(Count(image, {room.left, room.top + 40, room.right, room.top + 80}, black), 20);
    EXPECT_EQ(Count(image, {room.right + 1, kList.top, kList.right, kList.bottom}, black), 0);
    // No dotted separator runs through the text: the first two are white
    // (right of the adapter's line, whose letters cross the second).
    for (int y : {75, 120})
        EXPECT_EQ(
            Count(image, {150, y, kList.right, y + 1}, [](auto p) { return p == 0xFF9E9E9E; }), 0)
            << y;
}

TEST_F(ZarumatePaintTest, StoppedWatchIsToldAtTheBottomOverTheCells)
{
    Fill(6);
    Layout().SetWatchState(CWatchState::Stopped, L"");
    CImage image(260, 288);
    {
        CGraphics graphics(image);
        Layout().Paint(graphics);
    }
    auto dark = [](std::uint32_t p) { return (p & 0xFF) < 0x60; };
    // The note's lines end at the inner area's bottom (272); the top cells
    // keep their names.
    EXPECT_GT(Count(image, {kList.left, 255, kList.right, 272}, dark), 20);
    EXPECT_GT(Count(image, {kList.left + 44, 35, kList.right, 50}, dark), 5);
    // A grey line across the list sets the note apart.
    bool line = false;
    for (int y = 150; y < 260 && !line; ++y)
        line = Count(image, {kList.left, y, kList.right, y + 1},
                     [](auto p) { return p == 0xFF999999; }) == kList.right - kList.left;
    EXPECT_TRUE(line);
}

} // namespace
} // namespace zk
