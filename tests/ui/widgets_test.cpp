#include "fetch/drawing_surface.h"
#include "platform/window.h"
#include "support/fake_window_system.h"
#include "ui/zaru_circle_button.h"
#include "ui/zaru_normal_button.h"
#include "ui/zaru_scroll_bar.h"

#include <gtest/gtest.h>
#include <vector>

namespace zk {
namespace {

// A window that records the commands its widgets send.
class CCommandWindow : public CWindow
{
public:
    std::vector<int> m_commands;
    std::vector<CWindow*> m_captureChanges;

protected:
    void OnCommand(int /*code*/, int id) override { m_commands.push_back(id); }
    void OnCaptureChanged(CWindow* to) override { m_captureChanges.push_back(to); }
};

class WidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_window.Create(nullptr, {100, 100, 300, 400}, L"w", 0, 0));
        ASSERT_TRUE(m_other.Create(nullptr, {400, 100, 500, 200}, L"o", 0, 0));
        m_button.SetOwner(&m_window);
        m_button.SetRect({10, 10, 40, 30});
    }

    test::CFakeWindowSystem m_system;
    CCommandWindow m_window;
    CCommandWindow m_other;
    CZaruNormalButton m_button{206};
};

TEST_F(WidgetTest, ButtonSendsOneCommandOnlyWhenReleasedOverIt)
{
    EXPECT_TRUE(m_button.ButtonDown(0, 15, 15));
    EXPECT_EQ(CWindow::GetCapture(), &m_window);
    EXPECT_EQ(m_button.GetAlpha(), CZaruNormalButton::kAlphaPressed);
    EXPECT_TRUE(m_button.ButtonUp(0, 20, 20));
    EXPECT_EQ(m_window.m_commands, std::vector<int>{206});
    EXPECT_EQ(CWindow::GetCapture(), nullptr);
    EXPECT_FALSE(m_button.IsPressed());
    EXPECT_TRUE(m_button.IsHot());

    // Pressed, then released outside: no command, and the button cools.
    EXPECT_TRUE(m_button.ButtonDown(0, 15, 15));
    EXPECT_TRUE(m_button.Tick(0, 80, 80));
    EXPECT_EQ(m_button.GetAlpha(), CZaruNormalButton::kAlphaNormal);
    EXPECT_TRUE(m_button.ButtonUp(0, 80, 80));
    EXPECT_EQ(m_window.m_commands.size(), 1u);
    EXPECT_FALSE(m_button.IsHot());
}

TEST_F(WidgetTest, ButtonAnswersOnlyChangesAndIgnoresPressesElsewhere)
{
    EXPECT_FALSE(m_button.ButtonDown(0, 5, 5));
    EXPECT_EQ(CWindow::GetCapture(), nullptr);
    EXPECT_TRUE(m_button.Tick(0, 12, 12));
    EXPECT_FALSE(m_button.Tick(0, 13, 13));
    EXPECT_EQ(m_button.GetAlpha(), CZaruNormalButton::kAlphaHot);
    EXPECT_TRUE(m_button.Tick(0, 0, 0));
    EXPECT_FALSE(m_button.ButtonUp(0, 0, 0));

    // A detached button takes nothing.
    CZaruNormalButton loose(5);
    loose.SetRect({0, 0, 50, 50});
    EXPECT_FALSE(loose.ButtonDown(0, 10, 10));
    EXPECT_FALSE(loose.Tick(0, 10, 10));
}

TEST_F(WidgetTest, ButtonWhoseCaptureIsTakenReturnsToNormalWithoutCommand)
{
    ASSERT_TRUE(m_button.ButtonDown(0, 15, 15));
    m_other.SetCapture();
    EXPECT_EQ(m_window.m_captureChanges, std::vector<CWindow*>{&m_other});
    EXPECT_TRUE(m_button.CaptureChanged(&m_other));
    EXPECT_FALSE(m_button.IsPressed());
    m_button.ButtonUp(0, 15, 15);
    EXPECT_TRUE(m_window.m_commands.empty());

    // Another widget of the same window holding the mouse hides this one.
    m_window.SetCapture();
    EXPECT_FALSE(m_button.HitTest(15, 15));
}

TEST(CircleButton, GrowsAndShrinksLinearlyOverAHundredMilliseconds)
{
    auto small = std::make_shared<CImage>(16, 16);
    auto large = std::make_shared<CImage>(24, 24);
    CZaruCircleButton button(small, large, HTCLOSE);
    button.SetCenter(50, 14);
    ASSERT_EQ(button.GetMaxGrowth(), 4);

    // Times near the wrap of the millisecond count.
    const std::uint32_t t0 = 0xFFFFFFF0u;
    EXPECT_FALSE(button.Tick(t0, 50, 14)); // the change only starts the clock
    EXPECT_FALSE(button.Tick(t0 + 10, 50, 14));
    EXPECT_TRUE(button.Tick(t0 + 50, 50, 14));
    EXPECT_EQ(button.GetGrowth(), 2);
    EXPECT_TRUE(button.Tick(t0 + 100, 50, 14));
    EXPECT_EQ(button.GetGrowth(), 4);
    EXPECT_FALSE(button.Tick(t0 + 500, 50, 14));
    // Grown, the circle reaches further.
    EXPECT_TRUE(button.Hit(50 + 12, 14));
    EXPECT_FALSE(button.Hit(50 + 13, 14));

    EXPECT_FALSE(button.Tick(t0 + 600, 0, 0));
    EXPECT_TRUE(button.Tick(t0 + 625, 0, 0));
    EXPECT_EQ(button.GetGrowth(), 3);
    // Back under the pointer halfway: it grows again from where it stands.
    EXPECT_FALSE(button.Tick(t0 + 650, 50, 14));
    EXPECT_TRUE(button.Tick(t0 + 675, 50, 14));
    EXPECT_EQ(button.GetGrowth(), 4);
}

class ScrollBarTest : public WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        m_bar.SetOwner(&m_window);
        m_bar.SetRect({180, 10, 190, 210}); // 200 pixels high
        m_bar.SetMaximum(999);              // 1000 positions
        m_bar.SetPage(200);
        m_window.m_commands.clear();
    }

    CZaruScrollBar m_bar{208};
};

TEST_F(ScrollBarTest, ThumbFollowsPositionAndFillsTheBarForShortContent)
{
    EXPECT_EQ(m_bar.GetThumbRect(), (RECT{180, 10, 190, 50}));
    EXPECT_TRUE(m_bar.SetPosition(500));
    EXPECT_EQ(m_bar.GetThumbRect(), (RECT{180, 110, 190, 150}));
    // The last page reaches the bottom.
    EXPECT_TRUE(m_bar.ScrollTo(5000));
    EXPECT_EQ(m_bar.GetPosition(), 800);
    EXPECT_EQ(m_bar.GetThumbRect().bottom, 210);

    // A maximum below the position pulls the position along, with notice.
    m_window.m_commands.clear();
    EXPECT_TRUE(m_bar.SetMaximum(50));
    EXPECT_EQ(m_bar.GetPosition(), 50);
    EXPECT_EQ(m_window.m_commands.size(), 1u);
    EXPECT_FALSE(m_bar.SetMaximum(50));
    EXPECT_FALSE(m_bar.SetMaximum(-1));
    EXPECT_TRUE(m_bar.SetPage(100));
    EXPECT_EQ(m_bar.GetPage(), 51); // at most the range
    EXPECT_TRUE(m_bar.ScrollTo(0));
    EXPECT_EQ(m_bar.GetThumbRect(), (RECT{180, 10, 190, 210}));
}

TEST_F(ScrollBarTest, RangeSetWithThePageKeepsAWholePageInViewWithOneNotice)
{
    ASSERT_TRUE(m_bar.ScrollTo(800)); // the last page
    m_window.m_commands.clear();

    // Shorter content under the last page: the view ends where it ends.
    EXPECT_TRUE(m_bar.SetRange(499, 200));
    EXPECT_EQ(m_bar.GetPosition(), 300);
    EXPECT_EQ(m_bar.GetThumbRect().bottom, 210);
    // Content shorter than the view: from its start, told once.
    EXPECT_TRUE(m_bar.SetRange(89, 200));
    EXPECT_EQ(m_bar.GetPosition(), 0);
    EXPECT_EQ(m_bar.GetPage(), 90);
    EXPECT_EQ(m_window.m_commands, (std::vector<int>{208, 208}));
    EXPECT_EQ(m_bar.GetThumbRect(), m_bar.GetRect());

    // An unchanged range, or one below the minimum, changes nothing.
    EXPECT_FALSE(m_bar.SetRange(89, 200));
    EXPECT_FALSE(m_bar.SetRange(-1, 90));
    EXPECT_EQ(m_window.m_commands.size(), 2u);
}

TEST_F(ScrollBarTest, ThumbOfALongListKeepsItsGripAndSpansTheTrack)
{
    m_bar.SetMaximum(45 * 10000 - 1); // ten thousand cells
    m_bar.SetPage(200);
    EXPECT_EQ(m_bar.GetThumbRect(), (RECT{180, 10, 190, 10 + CZaruScrollBar::kMinThumbHeight}));
    EXPECT_TRUE(m_bar.ScrollTo(45 * 10000));
    EXPECT_EQ(m_bar.GetThumbRect().bottom, 210);

    // Dragging the thumb from top to bottom runs through the whole list.
    m_bar.ScrollTo(0);
    ASSERT_TRUE(m_bar.ButtonDown(185, 15));
    EXPECT_EQ(m_bar.GetPosition(), 0);
    m_bar.MouseMove(185, 15 + 200 - CZaruScrollBar::kMinThumbHeight);
    EXPECT_EQ(m_bar.GetPosition(), 45 * 10000 - 200);
    m_bar.ButtonUp(185, 15 + 100 - CZaruScrollBar::kMinThumbHeight / 2);
    EXPECT_NEAR(m_bar.GetPosition(), (45 * 10000 - 200) / 2, 45 * 10000 / 200);
}

TEST_F(ScrollBarTest, NotifiesOnlyOnChange)
{
    EXPECT_FALSE(m_bar.ScrollTo(-5));
    EXPECT_FALSE(m_bar.ScrollBy(0));
    EXPECT_TRUE(m_window.m_commands.empty());
    EXPECT_TRUE(m_bar.ScrollBy(45));
    EXPECT_FALSE(m_bar.ScrollTo(45));
    EXPECT_EQ(m_window.m_commands, std::vector<int>{208});
}

TEST_F(ScrollBarTest, WheelMovesTwelvePixelsPerNotchWithinTheLastPage)
{
    EXPECT_TRUE(m_bar.Wheel(-WHEEL_DELTA));
    EXPECT_EQ(m_bar.GetPosition(), 12);
    EXPECT_TRUE(m_bar.Wheel(-3 * WHEEL_DELTA));
    EXPECT_EQ(m_bar.GetPosition(), 48);
    EXPECT_TRUE(m_bar.Wheel(WHEEL_DELTA));
    EXPECT_EQ(m_bar.GetPosition(), 36);
    EXPECT_TRUE(m_bar.Wheel(-1000 * WHEEL_DELTA));
    EXPECT_EQ(m_bar.GetPosition(), 800);
    EXPECT_FALSE(m_bar.Wheel(-WHEEL_DELTA));
}

TEST_F(ScrollBarTest, PressBesideThumbCentresItAndDragFollowsThePointer)
{
    // y = 110 is the middle of the bar: position 500, less half a page.
    EXPECT_TRUE(m_bar.ButtonDown(185, 110));
    EXPECT_EQ(m_bar.GetPosition(), 400);
    EXPECT_TRUE(m_bar.IsDragging());
    EXPECT_EQ(CWindow::GetCapture(), &m_window);

    // Five positions per pixel of the bar.
    EXPECT_TRUE(m_bar.MouseMove(300, 120));
    EXPECT_EQ(m_bar.GetPosition(), 450);
    EXPECT_TRUE(m_bar.MouseMove(300, 0));
    EXPECT_EQ(m_bar.GetPosition(), 0);
    EXPECT_TRUE(m_bar.ButtonUp(300, 111));
    EXPECT_EQ(m_bar.GetPosition(), 405);
    EXPECT_FALSE(m_bar.IsDragging());
    EXPECT_FALSE(m_bar.IsHover());
    EXPECT_EQ(CWindow::GetCapture(), nullptr);

    // A press on the thumb only starts a drag; a drag ends with the capture.
    ASSERT_TRUE(m_bar.ButtonDown(185, m_bar.GetThumbRect().top + 1));
    EXPECT_EQ(m_bar.GetPosition(), 405);
    m_other.SetCapture();
    EXPECT_TRUE(m_bar.CaptureChanged(&m_other));
    EXPECT_FALSE(m_bar.MouseMove(185, 200));
}

// The thumb is painted with three grip dots only when they fit.
TEST_F(ScrollBarTest, GripDotsOnlyOnThumbsTallEnough)
{
    auto paintedWhite = [&](int thumbPixels) {
        m_bar.SetPage(thumbPixels * 5);
        CImage canvas(300, 300);
        CGraphics graphics(canvas);
        m_bar.Paint(graphics);
        const RECT& thumb = m_bar.GetThumbRect();
        int whiteish = 0;
        for (int y = thumb.top; y < thumb.bottom; ++y) {
            std::uint32_t pixel = canvas.GetPixel(185, y);
            if (((pixel >> 16) & 0xFF) > 0xB0)
                ++whiteish;
        }
        return whiteish;
    };
    EXPECT_GT(paintedWhite(CZaruScrollBar::kGripHeight + 10), 6);
    // A bar too short for the grip has a thumb without dots.
    m_bar.SetRect({180, 10, 190, 10 + CZaruScrollBar::kGripHeight - 1});
    EXPECT_EQ(paintedWhite(CZaruScrollBar::kGripHeight - 1), 0);
}

} // namespace
} // namespace zk
