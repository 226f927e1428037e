#include "fetch/dib.h"
#include "platform/ui_services.h"
#include "res/resource_ids.h"
#include "support/fake_window_system.h"
#include "ui/skin_image.h"
#include "ui/zaru_dlg_impl.h"
#include "ui/zaru_frame_impl.h"
#include "ui/zaru_frame_layout.h"

#include <gtest/gtest.h>
#include <vector>

namespace zk {
namespace {

// The main window's frame without content: logo, close and minimise.
class CTestFrame : public CZaruFrameImpl<CTestFrame>
{
public:
    CTestFrame()
    {
        m_layout.SetTitleLogo(LoadSkinImage(IDB_TITLE_LOGO));
        m_layout.AddRoundButton(IDB_CLOSE_SMALL, IDB_CLOSE_LARGE, HTCLOSE);
        m_layout.AddRoundButton(IDB_MINIMIZE_SMALL, IDB_MINIMIZE_LARGE, HTMINBUTTON);
    }
    CZaruFrameLayout& GetLayout() { return m_layout; }

    std::vector<POINT> m_menus;
    bool m_destroyed = false;

protected:
    void OnGetMinMaxInfo(SIZE& least) override { least = {156, 30}; }
    void OnContextMenu(POINT screen) override { m_menus.push_back(screen); }
    void OnDestroy() override { m_destroyed = true; }

private:
    CZaruFrameLayout m_layout;
};

class CTestDlg : public CZaruDlgImpl<CTestDlg>
{
public:
    CTestDlg() { m_layout.AddRoundButton(IDB_CLOSE_SMALL, IDB_CLOSE_LARGE, HTCLOSE); }
    CZaruFrameLayout& GetLayout() { return m_layout; }

private:
    CZaruFrameLayout m_layout;
};

constexpr RECT kFrame{100, 50, 360, 338}; // 260 x 288

std::uint32_t PixelAt(const test::CFakeWindowSystem::Peer& peer, int x, int y)
{
    return peer.bitmap[static_cast<std::size_t>(y) * peer.width + x];
}

int Alpha(std::uint32_t pixel)
{
    return pixel >> 24;
}

class ZaruFrameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_frame.CreateEx(nullptr, kFrame, L"Zarumatekit"));
        m_peer = m_system.PeerOf(m_frame);
        ASSERT_NE(m_peer, nullptr);
    }

    test::CFakeWindowSystem m_system;
    CTestFrame m_frame;
    test::CFakeWindowSystem::Peer* m_peer = nullptr;
};

TEST_F(ZaruFrameTest, HitTestAtAndBesideEveryBoundary)
{
    const CZaruFrameLayout& layout = m_frame.GetLayout();
    const int l = kFrame.left, t = kFrame.top, r = kFrame.right, b = kFrame.bottom;
    struct Case
    {
        int x, y, code;
    } cases[] = {
        // The round buttons come first: close 16 px from the right, minimise
        // 23 px further left, both 14 px below the top.
        {r - 16, t + 14, HTCLOSE},
        {r - 16 + 8, t + 14, HTCLOSE},
        {r - 16 + 9, t + 14, HTTOPRIGHT},
        {r - 39, t + 14, HTMINBUTTON},
        // Corners are as big as the caption is tall (27).
        {r - 28, b - 28, HTBOTTOMRIGHT},
        {r - 29, b - 28, HTCLIENT},
        {l + 27, t + 27, HTTOPLEFT},
        {l + 28, t + 27, HTCAPTION},
        {l + 27, b - 28, HTBOTTOMLEFT},
        {l + 27, b - 29, HTCLIENT},
        {r - 28, t + 27, HTTOPRIGHT},
        {r - 28, t + 28, HTCLIENT},
        // Borders are five pixels.
        {l + 100, t + 5, HTTOP},
        {l + 100, t + 6, HTCAPTION},
        {l + 100, b - 6, HTBOTTOM},
        {l + 100, b - 7, HTCLIENT},
        {l + 5, t + 100, HTLEFT},
        {l + 6, t + 100, HTCLIENT},
        {r - 6, t + 100, HTRIGHT},
        {r - 7, t + 100, HTCLIENT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(layout.HitTest(c.x, c.y), c.code) << "at " << c.x - l << ", " << c.y - t;
}

TEST_F(ZaruFrameTest, LayoutPlacesInnerAreaAndButtonsAndClampsTinyWindows)
{
    const CZaruFrameLayout& layout = m_frame.GetLayout();
    EXPECT_EQ(layout.GetInnerRect(), (RECT{5, 27, 255, 272}));
    ASSERT_EQ(layout.GetRoundButtons().size(), 2u);
    EXPECT_EQ(layout.GetRoundButtons()[0]->GetCenterX(), 244);
    EXPECT_EQ(layout.GetRoundButtons()[1]->GetCenterX(), 221);
    EXPECT_EQ(layout.GetRoundButtons()[1]->GetCenterY(), 14);

    m_frame.MoveWindow({0, 0, 8, 20});
    EXPECT_EQ(layout.GetInnerRect(), (RECT{5, 27, 5, 27}));
}

TEST_F(ZaruFrameTest, PaintedFrameHasRoundCornersStripesLogoAndButtons)
{
    ASSERT_GE(m_peer->bitmapsShown, 1);
    ASSERT_EQ(m_peer->width, 260);
    ASSERT_EQ(m_peer->height, 288);
    // Transparent corners, an opaque inside, the outline faded.
    EXPECT_EQ(Alpha(PixelAt(*m_peer, 0, 0)), 0);
    EXPECT_EQ(Alpha(PixelAt(*m_peer, 259, 287)), 0);
    EXPECT_EQ(Alpha(PixelAt(*m_peer, 130, 144)), 255);
    EXPECT_LT(Alpha(PixelAt(*m_peer, 0, 144)), 255);
    EXPECT_GT(Alpha(PixelAt(*m_peer, 0, 144)), 0);

    // The stripes tile the frame: the same colours repeat every 28 pixels.
    for (int x = 40; x < 68; ++x)
        EXPECT_EQ(PixelAt(*m_peer, x, 280), PixelAt(*m_peer, x + 28, 280)) << x;
    std::uint32_t stripe = PixelAt(*m_peer, 100, 280);
    EXPECT_LT((stripe >> 16) & 0xFF, 0x80); // dark

    // Some white lettering in the logo's box.
    int white = 0;
    for (int y = 8; y < 20; ++y)
        for (int x = 16; x < 79; ++x)
            white += (PixelAt(*m_peer, x, y) & 0xFFFFFF) == 0xFFFFFF;
    EXPECT_GT(white, 20);

    // Red close and violet minimise buttons, each centred where it belongs.
    std::uint32_t close = PixelAt(*m_peer, 244 - 5, 14);
    EXPECT_GT((close >> 16) & 0xFF, 2 * ((close >> 8) & 0xFF));
    std::uint32_t minimise = PixelAt(*m_peer, 221 - 5, 14);
    EXPECT_GT(minimise & 0xFF, (minimise >> 8) & 0xFF);

    // Premultiplied: no colour exceeds its alpha.
    for (std::uint32_t pixel : m_peer->bitmap) {
        int a = Alpha(pixel);
        ASSERT_LE(int((pixel >> 16) & 0xFF), a);
        ASSERT_LE(int(pixel & 0xFF), a);
    }
}

TEST_F(ZaruFrameTest, SurfaceIsKeptWhileTheSizeStays)
{
    auto surface = m_frame.GetSurface();
    m_frame.Redraw();
    m_frame.MoveWindow(OffsetRect(kFrame, 30, 30));
    EXPECT_EQ(m_frame.GetSurface(), surface);
    m_frame.MoveWindow({0, 0, 200, 100});
    EXPECT_NE(m_frame.GetSurface(), surface);
    EXPECT_EQ(m_peer->width, 200);
}

TEST_F(ZaruFrameTest, CaptionMovesBordersResizeButtonsCloseAndMinimise)
{
    m_system.Press(m_frame, {kFrame.left + 100, kFrame.top + 10});
    EXPECT_EQ(m_peer->systemMoves, 1);
    m_system.Release(m_frame, {kFrame.left + 100, kFrame.top + 10});

    m_system.Press(m_frame, {kFrame.right - 2, kFrame.bottom - 2});
    EXPECT_EQ(m_peer->systemResizes, 1);
    EXPECT_EQ(m_peer->lastResizeCode, HTBOTTOMRIGHT);
    m_system.Release(m_frame, {kFrame.right - 2, kFrame.bottom - 2});
    EXPECT_EQ(m_peer->minimumSize, (SIZE{156, 30}));

    // A right click on the caption asks for the window's menu.
    m_system.Click(m_frame, {kFrame.left + 100, kFrame.top + 10}, CMouseButton::Right);
    ASSERT_EQ(m_frame.m_menus.size(), 1u);

    // Minimise acts on the press.
    m_system.Press(m_frame, {kFrame.right - 39, kFrame.top + 14});
    m_system.RunPending();
    EXPECT_TRUE(m_peer->minimized);
    m_system.Release(m_frame, {kFrame.right - 39, kFrame.top + 14});

    // Close acts on the release, and only over the close button.
    m_system.Press(m_frame, {kFrame.right - 16, kFrame.top + 14});
    m_system.Release(m_frame, {kFrame.left + 100, kFrame.top + 10});
    m_system.RunPending();
    EXPECT_TRUE(m_frame.IsWindow());
    m_system.Click(m_frame, {kFrame.right - 16, kFrame.top + 14});
    m_system.RunPending();
    EXPECT_TRUE(m_frame.m_destroyed);
    EXPECT_FALSE(m_frame.IsWindow());
}

TEST_F(ZaruFrameTest, WithoutWindowManagerTheFrameMovesAndSizesItself)
{
    m_system.m_systemMoveWorks = false;
    m_system.Press(m_frame, {kFrame.left + 100, kFrame.top + 10});
    m_system.Move(m_frame, {kFrame.left + 130, kFrame.top + 50});
    m_system.Release(m_frame, {kFrame.left + 140, kFrame.top + 60});
    EXPECT_EQ(m_frame.GetWindowRect(), OffsetRect(kFrame, 40, 50));

    // Never below the least size, however far the border is dragged.
    RECT now = m_frame.GetWindowRect();
    m_system.Press(m_frame, {now.right - 2, now.bottom - 2});
    m_system.Move(m_frame, {now.left - 500, now.top - 500});
    m_system.Release(m_frame, {now.left - 500, now.top - 500});
    EXPECT_EQ(m_frame.GetWindowRect(), (RECT{now.left, now.top, now.left + 156, now.top + 30}));
    EXPECT_EQ(m_peer->width, 156);
}

TEST(ZaruDlg, PopupOnlyMovesAndItsCloseEndsTheModalRun)
{
    test::CFakeWindowSystem system;
    CTestDlg dlg;
    const RECT rect{300, 300, 510, 562};
    ASSERT_TRUE(dlg.CreateEx(nullptr, rect, L""));
    auto* peer = system.PeerOf(dlg);
    system.Press(dlg, {rect.right - 2, rect.bottom - 2});
    system.Release(dlg, {rect.right - 2, rect.bottom - 2});
    EXPECT_EQ(peer->systemResizes, 0);

    system.m_onNestedLoopIdle = [&] { system.Click(dlg, {rect.right - 16, rect.top + 14}); };
    dlg.RunModalLoop();
    // Ended by WM_APP; the popup's window is still there for its owner to
    // destroy.
    EXPECT_EQ(system.m_nestedLoops, 1);
    EXPECT_TRUE(dlg.IsWindow());
    EXPECT_FALSE(system.m_onNestedLoopIdle);
}

} // namespace
} // namespace zk
