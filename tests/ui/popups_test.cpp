#include "fetch/drawing_surface.h"
#include "fetch/image.h"
#include "res/resource_ids.h"
#include "support/fake_window_system.h"
#include "support/offscreen_gui.h"
#include "ui/skin_resources.h"
#include "ui/zaru_delete_cancel_dlg.h"
#include "ui/zarumate_data_dlg.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zk {
namespace {

constexpr RECT kLeftScreen{0, 0, 1920, 1080};
constexpr RECT kRightScreen{1920, 0, 3200, 1024};

bool Inside(const RECT& rect, const RECT& bounds)
{
    return rect.left >= bounds.left && rect.top >= bounds.top && rect.right <= bounds.right &&
           rect.bottom <= bounds.bottom;
}

POINT Centre(const CWindow& window, const RECT& local)
{
    RECT w = window.GetWindowRect();
    return {w.left + (local.left + local.right) / 2, w.top + (local.top + local.bottom) / 2};
}

// A popup that notes when it asks its modal run to end.
template <class Dlg> class CEndSpy : public Dlg
{
public:
    using Dlg::Dlg;
    int m_endRequests = 0;

protected:
    void OnApp(std::uintptr_t, std::intptr_t) override { ++m_endRequests; }
};

class PopupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::EnsureOffscreenGui();
        CreateSkinResources();
        m_system.m_monitors = {{kLeftScreen, kLeftScreen}, {kRightScreen, kRightScreen}};
        m_system.m_cursor = {600, 500};
        ASSERT_TRUE(m_owner.Create(nullptr, {500, 300, 760, 700}, L"owner", 0, 0));
    }
    void TearDown() override { ReleaseSkinResources(); }

    // Runs the popup; the action drives it once its loop has nothing to do.
    template <class Dlg> int Run(Dlg& dialog, std::function<void()> action)
    {
        m_system.m_onNestedLoopIdle = [this, action] {
            m_ownerEnabledDuringRun = m_owner.IsWindowEnabled();
            action();
        };
        return dialog.DoModal(&m_owner);
    }

    test::CFakeWindowSystem m_system;
    CWindow m_owner;
    bool m_ownerEnabledDuringRun = true;
};

TEST_F(PopupTest, DetailPopupPutsItsCloseButtonUnderThePointerAndLinksInARow)
{
    CZarumateDataLayout layout;
    EXPECT_EQ(layout.GetWindowSize(), (SIZE{210, 262}));
    RECT rect = layout.PlaceAt({600, 500});
    EXPECT_EQ(rect, (RECT{406, 486, 616, 748}));

    CZarumateDataDlg dialog;
    Run(dialog, [&] {
        std::vector<int> lefts;
        for (const CZaruNormalButton& link : dialog.GetLayout().GetLinkButtons()) {
            lefts.push_back(link.GetRect().left);
            EXPECT_EQ(link.GetRect().top, 220);
            EXPECT_EQ(link.GetRect().Width(), 15);
        }
        EXPECT_EQ(lefts, (std::vector<int>{18, 39, 60, 81}));
        const auto& close = dialog.GetLayout().GetRoundButtons().front();
        EXPECT_EQ(dialog.ClientToScreen({close->GetCenterX(), close->GetCenterY()}),
                  (POINT{600, 500}));
    });
}

TEST_F(PopupTest, PopupsStayOnTheNearestMonitorAtEveryEdge)
{
    CZarumateDataLayout detail;
    CZaruMsgLayout message;
    message.SetText(L"確認のための短い質問");
    message.AddButton(1, IDB_BUTTON_DELETE);
    for (const RECT& screen : {kLeftScreen, kRightScreen}) {
        const POINT pointers[] = {{screen.left, screen.top},
                                  {screen.right - 1, screen.top},
                                  {screen.left, screen.bottom - 1},
                                  {screen.right - 1, screen.bottom - 1},
                                  {(screen.left + screen.right) / 2, screen.top + 2}};
        for (POINT pointer : pointers) {
            EXPECT_TRUE(Inside(detail.PlaceAt(pointer), screen)) << pointer.x << "," << pointer.y;
            RECT placed = message.PlaceAt(pointer);
            EXPECT_TRUE(Inside(placed, screen)) << pointer.x << "," << pointer.y;
            EXPECT_EQ(placed.Width(), message.GetWindowSize().cx);
        }
    }
}

TEST_F(PopupTest, MessagePopupGrowsWithItsTextWithoutWrapping)
{
    CZaruMsgLayout shortQuestion;
    shortQuestion.SetText(L"A を消しますか？");
    shortQuestion.AddButton(1, IDB_BUTTON_DELETE);
    shortQuestion.AddButton(2, IDB_BUTTON_CLOSE);
    shortQuestion.Measure();
    // Two 68 x 24 buttons 8 apart, with their margins.
    EXPECT_EQ(shortQuestion.GetButtonRowSize(), (SIZE{144, 24}));
    EXPECT_EQ(shortQuestion.GetWindowSize().cx, 164 + 10);
    SIZE text = shortQuestion.GetTextSize();
    ASSERT_GT(text.cy, 0);
    EXPECT_EQ(shortQuestion.GetWindowSize().cy, 27 + text.cy + 20 + 44 + 16);

    CZaruMsgLayout longQuestion;
    longQuestion.SetText(std::wstring(60, L'あ') + L" と過去の計 12 人のZarumateを消しますか？");
    longQuestion.Measure();
    SIZE longText = longQuestion.GetTextSize();
    EXPECT_GT(longText.cx, 60 * 8);
    EXPECT_EQ(longText.cy, text.cy); // still one line
    EXPECT_EQ(longQuestion.GetWindowSize().cx, longText.cx + 20 + 10);
}

TEST_F(PopupTest, DeleteQuestionAnswersByButtonCloseButtonAndKeys)
{
    struct Case
    {
        const char* name;
        std::function<void(CZaruDeleteCancelDlg&)> act;
        int result;
    };
    const Case cases[] = {
        {"delete button",
         [this](CZaruDeleteCancelDlg& d) {
             m_system.Click(d, Centre(d, d.GetLayout().GetButtons()[0].GetRect()));
         },
         1},
        {"close image button",
         [this](CZaruDeleteCancelDlg& d) {
             m_system.Click(d, Centre(d, d.GetLayout().GetButtons()[1].GetRect()));
         },
         2},
        {"round close button",
         [this](CZaruDeleteCancelDlg& d) {
             const auto& close = d.GetLayout().GetRoundButtons().front();
             m_system.Click(d, d.ClientToScreen({close->GetCenterX(), close->GetCenterY()}));
         },
         2},
        {"Esc", [](CZaruDeleteCancelDlg& d) { d.PeerKeyDown(VK_ESCAPE); }, 2},
        {"Enter", [](CZaruDeleteCancelDlg& d) { d.PeerKeyDown(VK_RETURN); }, 1},
    };
    for (const Case& c : cases) {
        CEndSpy<CZaruDeleteCancelDlg> dialog;
        dialog.SetText(L"山田 を消しますか？");
        bool timerRunning = false;
        int result = Run(dialog, [&] {
            auto* peer = m_system.PeerOf(dialog);
            ASSERT_NE(peer, nullptr);
            EXPECT_TRUE(peer->visible);
            EXPECT_EQ(peer->owner, &m_owner);
            timerRunning = peer->timers.count(1) && peer->timers[1] == 25;
            c.act(dialog);
        });
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(dialog.m_endRequests, 1) << c.name;
        EXPECT_FALSE(m_ownerEnabledDuringRun) << c.name;
        EXPECT_TRUE(m_owner.IsWindowEnabled()) << c.name;
        EXPECT_TRUE(timerRunning) << c.name;
        EXPECT_FALSE(dialog.IsWindow()) << c.name;
    }
}

TEST_F(PopupTest, SecondClickOfTheOpeningDoubleClickLeavesThePopupOpen)
{
    m_system.m_doubleClickTime = 400;
    std::uint32_t now = 1000;
    // The detail popup opens with its close button under the pointer.
    CEndSpy<CZarumateDataDlg> dialog;
    dialog.SetClock([&] { return now; });
    Run(dialog, [&] {
        const auto& close = dialog.GetLayout().GetRoundButtons().front();
        POINT onClose = dialog.ClientToScreen({close->GetCenterX(), close->GetCenterY()});
        now += 399; // the double-click's second click lands on the close button
        m_system.Click(dialog, onClose);
        now += 1; // a click of its own
        m_system.Click(dialog, onClose);
    });
    EXPECT_EQ(dialog.m_endRequests, 1); // the second click's only

    // A quick click elsewhere in the popup is the user's own.
    CEndSpy<CZaruDeleteCancelDlg> quick;
    quick.SetClock([&] { return now; });
    Run(quick, [&] {
        now += 100;
        m_system.Click(quick, Centre(quick, quick.GetLayout().GetButtons()[1].GetRect()));
    });
    EXPECT_EQ(quick.m_endRequests, 1);

    // Nor can a click come back there after another one.
    CEndSpy<CZarumateDataDlg> again;
    again.SetClock([&] { return now; });
    Run(again, [&] {
        const auto& close = again.GetLayout().GetRoundButtons().front();
        POINT onClose = again.ClientToScreen({close->GetCenterX(), close->GetCenterY()});
        m_system.Click(again, {onClose.x - 100, onClose.y + 100});
        m_system.Click(again, onClose);
    });
    EXPECT_EQ(again.m_endRequests, 1);

    // The detail popup leaves its owner enabled when asked to.
    CZarumateDataDlg detail;
    detail.SetOwnerStaysEnabled(true);
    Run(detail, [&] { detail.PeerKeyDown(VK_ESCAPE); });
    EXPECT_TRUE(m_ownerEnabledDuringRun);
}

TEST_F(PopupTest, PopupThatCannotBeMadeAnswersZero)
{
    CZaruDeleteCancelDlg dialog;
    SetWindowSystem(nullptr);
    EXPECT_EQ(dialog.DoModal(&m_owner), 0);
    SetWindowSystem(&m_system);
    EXPECT_TRUE(m_owner.IsWindowEnabled());
}

TEST_F(PopupTest, DetailLinksOpenTheRecordsPagesAndKeepThePopupOpen)
{
    auto record = std::make_shared<CZarumateData>();
    record->m_id = L"taro";
    record->m_name = L"太郎";
    std::vector<std::wstring> opened;
    CEndSpy<CZarumateDataDlg> dialog([&](const std::wstring& url) { opened.push_back(url); });
    dialog.SetRecord(record);
    bool stillOpen = false;
    int result = Run(dialog, [&] {
        for (const CZaruNormalButton& link : dialog.GetLayout().GetLinkButtons())
            m_system.Click(dialog, Centre(dialog, link.GetRect()));
        m_system.RunPending();
        stillOpen = dialog.m_endRequests == 0;
        dialog.PeerKeyDown(VK_ESCAPE);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(dialog.m_endRequests, 1);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(opened, (std::vector<std::wstring>{record->GetGamePageUrl(), record->GetLifePageUrl(),
                                                 record->GetBlogUrl(), record->GetMicroblogUrl()}));
}

TEST_F(PopupTest, DetailPopupPaintsNameAvatarDottedLineAndLinks)
{
    auto record = std::make_shared<CZarumateData>();
    record->m_name = L"花子";
    auto avatar = std::make_shared<CImage>(30, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x)
            avatar->SetPixel(x, y, 0xFF00C000);
    CZarumateDataDlg dialog;
    dialog.SetRecord(record);
    auto pixel = [&](int x, int y) {
        auto* peer = m_system.PeerOf(dialog);
        return peer->bitmap[static_cast<std::size_t>(y) * peer->width + x] & 0xFFFFFF;
    };
    auto paint = [&] {
        dialog.Redraw();
        int dark = 0;
        for (int y = 27 + 15; y < 27 + 30; ++y)
            for (int x = 5 + 16; x < 5 + 60; ++x)
                dark += (pixel(x, y) & 0xFF) < 0x80;
        EXPECT_GT(dark, 10);                          // the name
        EXPECT_EQ(pixel(6, 210), 0xFFFFFFu);          // dotted line: white,
        EXPECT_NE(pixel(7, 210), 0xFFFFFFu);          // grey,
        EXPECT_EQ(pixel(7, 209), 0xFFFFFFu);          // one pixel high
        EXPECT_NE(pixel(18 + 7, 220 + 7), 0xFFFFFFu); // a link icon
    };
    Run(dialog, [&] {
        paint();
        EXPECT_EQ(pixel(5 + 10 + 45, 27 + 40 + 50), 0xFFFFFFu); // no avatar
        record->SetImage(avatar);
        paint();
        EXPECT_EQ(pixel(5 + 10 + 45, 27 + 40 + 50), 0x00C000u); // stretched over its box
        EXPECT_EQ(pixel(5 + 10 + 89, 27 + 40 + 104), 0x00C000u);
        EXPECT_EQ(pixel(5 + 10 + 91, 27 + 40 + 50), 0xFFFFFFu);
    });
}

TEST_F(PopupTest, DetailPopupEndsALongNameWithAnEllipsisInsideTheWhiteArea)
{
    auto record = std::make_shared<CZarumateData>();
    record->m_name = L"とても長いニックネームのザルメイトさんです、まだまだ続きます";
    CZarumateDataDlg dialog;
    dialog.SetRecord(record);
    Run(dialog, [&] {
        dialog.Redraw();
        auto* peer = m_system.PeerOf(dialog);
        // The name's row: ink reaches close to its right end and stops
        // there, well inside the white area.
        CRectF name = dialog.GetLayout().GetNameRect();
        int right = -1;
        for (int y = int(name.y); y < int(name.y) + 14; ++y)
            for (int x = int(name.x); x < dialog.GetLayout().GetInnerRect().right; ++x)
                if ((peer->bitmap[static_cast<std::size_t>(y) * peer->width + x] & 0xFF) < 0x80)
                    right = std::max(right, x);
        EXPECT_LT(right, int(name.x + name.width));
        EXPECT_GT(right, int(name.x + name.width) - 16);
    });
}

} // namespace
} // namespace zk
