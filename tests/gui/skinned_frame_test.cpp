// The skinned frame of the main window on a real X server: the striped skin
// with its lettering and round buttons reaches the screen with see-through
// corners, the close button grows under the pointer, and the caption, the
// borders and the buttons act as a user expects.
//
// With ZK_GUI_SCREENSHOTS set (scripts/frame-screenshots sets it to docs/),
// the window is kept as frame-idle.png (pointer away) and frame-hover.png
// (pointer on the close button).

#include "frame_demo_process.h"
#include "platform/window_types.h"
#include "support/xvfb_session.h"

#include <gtest/gtest.h>

namespace zk::test {
namespace {

constexpr char kTitleUtf8[] = "zk skinned frame demo";
// The frame's measures, as the layout places them.
constexpr int kCaptionHeight = 27;
constexpr int kButtonFromRight = 16;
constexpr int kButtonFromTop = 14;
constexpr int kButtonSpacing = 23;
constexpr int kLogoLeft = 16;
constexpr int kLogoTop = 8;
constexpr int kLogoWidth = 63;
constexpr int kLogoHeight = 12;
constexpr int kCornerRadius = 15;
constexpr int kSmallButton = 16;
constexpr int kLargeButton = 24;
constexpr int kMinWidth = 156;
constexpr int kMinHeight = 30;
constexpr std::uint32_t kInnerColour = 0xFFFFFFFF;

int Red(std::uint32_t c)
{
    return static_cast<int>((c >> 16) & 0xFF);
}
int Green(std::uint32_t c)
{
    return static_cast<int>((c >> 8) & 0xFF);
}
int Blue(std::uint32_t c)
{
    return static_cast<int>(c & 0xFF);
}

// The frame's stripes are a dark grey with a little violet; the close
// button is red, the minimise button violet. An edge pixel counts when more
// than about a third of it is covered by the button.
bool IsRed(std::uint32_t c)
{
    return Red(c) > Green(c) + 40 && Red(c) > Blue(c) + 40;
}
bool IsViolet(std::uint32_t c)
{
    return Blue(c) > Green(c) + 40 && Red(c) > Green(c) + 10;
}
bool IsStripe(std::uint32_t c)
{
    return Red(c) < 0x60 && Green(c) < 0x60 && Blue(c) < 0x60 && Blue(c) >= Green(c);
}

// How wide the disc of the colour is on the row through its centre: from
// the first to the last pixel of that colour within the largest button's
// reach (a white symbol in the middle does not split it).
template <class F> int DiscWidth(const CScreenshot& shot, int cx, int cy, F isColour)
{
    int first = 0, last = -1;
    for (int x = cx - kLargeButton / 2 - 2; x <= cx + kLargeButton / 2 + 2; ++x) {
        if (!isColour(shot.At(x, cy)))
            continue;
        if (last < first)
            first = x;
        last = x;
    }
    return last - first + 1;
}

class SkinnedFrameTest : public testing::Test
{
protected:
    static constexpr RECT kStart{100, 100, 360, 388};
    static constexpr int kMargin = 20;

    void StartWith(const CXvfbOptions& options)
    {
        std::string error;
        ASSERT_TRUE(m_session.Start(options, error)) << error;
        ASSERT_TRUE(m_demo.Start(m_session, kStart));
        ASSERT_TRUE(m_demo.WaitFor([](const CDemoState& s) { return s.created; }))
            << m_demo.Output();
        ASSERT_EQ(m_demo.State().rect, kStart);
        EXPECT_EQ(m_demo.State().compositor, options.compositor);
        std::vector<std::string> ids;
        ASSERT_TRUE(WaitUntil(
            [&] {
                ids = m_session.FindWindows(kTitleUtf8);
                return ids.size() == 1;
            },
            kGuiWait))
            << "no visible window named " << kTitleUtf8 << "\n"
            << m_session.Log() << "\n"
            << m_demo.Output();
        m_windowId = ids[0];
        // The pointer starts well away from the buttons.
        ASSERT_TRUE(m_session.MouseMove(20, 20));
        ASSERT_TRUE(WaitForScreen([](const CScreenshot& shot, const RECT& at) {
            return shot.At(at.left + at.Width() / 2, at.top + at.Height() / 2) == kInnerColour;
        })) << "the window's paint never reached the screen";
    }

    template <class F> bool WaitForScreen(F condition, const std::string& saveAs = {})
    {
        return WaitUntil(
            [&] {
                std::string error;
                RECT r = m_demo.State().rect;
                RECT around{r.left - kMargin, r.top - kMargin, r.right + kMargin,
                            r.bottom + kMargin};
                return m_session.Screenshot(m_shot, error, saveAs, around) &&
                       condition(m_shot, m_demo.State().rect);
            },
            kGuiWait);
    }

    POINT CloseCentre() const
    {
        const RECT& at = m_demo.State().rect;
        return {at.right - kButtonFromRight, at.top + kButtonFromTop};
    }

    POINT MinimizeCentre() const
    {
        POINT close = CloseCentre();
        return {close.x - kButtonSpacing, close.y};
    }

    int CloseWidth() const { return DiscWidth(m_shot, CloseCentre().x, CloseCentre().y, IsRed); }

    // Transparent corners, the stripes, the lettering, both buttons at their
    // small size and the white inside.
    void ExpectSkin(const std::string& saveAs)
    {
        bool cut = WaitForScreen(
            [&](const CScreenshot& shot, const RECT& r) {
                std::uint32_t background = shot.At(r.left - 10, r.top + 40);
                return shot.At(r.left, r.top) == background &&
                       shot.At(r.right - 1, r.top) == background &&
                       shot.At(r.left, r.bottom - 1) == background &&
                       shot.At(r.right - 1, r.bottom - 1) == background &&
                       DiscWidth(shot, r.right - kButtonFromRight, r.top + kButtonFromTop, IsRed) ==
                           kSmallButton;
            },
            saveAs);
        const RECT& at = m_demo.State().rect;
        std::uint32_t background = m_shot.At(at.left - 10, at.top + 40);
        EXPECT_TRUE(cut) << "window at " << Describe(at) << ", background "
                         << ColourText(background) << ", corner "
                         << ColourText(m_shot.At(at.left, at.top)) << ", close button "
                         << CloseWidth() << " px";
        EXPECT_NE(background & 0xFFFFFF, 0u);
        // Just inside the round corner and along the frame: the dark stripes.
        EXPECT_PRED1(IsStripe, m_shot.At(at.left + kCornerRadius, at.top + 2));
        EXPECT_PRED1(IsStripe, m_shot.At(at.left + 2, at.top + at.Height() / 2));
        EXPECT_PRED1(IsStripe, m_shot.At(at.right - 3, at.bottom - kCornerRadius - 2));
        // The caption's stripes change along a row.
        std::uint32_t first = m_shot.At(at.left + 100, at.top + 4);
        bool varies = false;
        for (int x = 101; x < 110; ++x)
            varies = varies || m_shot.At(at.left + x, at.top + 4) != first;
        EXPECT_TRUE(varies) << "no stripes in the caption";
        // The lettering: light pixels in the logo's box.
        int light = 0;
        for (int y = kLogoTop; y < kLogoTop + kLogoHeight; ++y)
            for (int x = kLogoLeft; x < kLogoLeft + kLogoWidth; ++x)
                light += Green(m_shot.At(at.left + x, at.top + y)) > 0xC0;
        EXPECT_GT(light, 40) << "no title lettering";
        EXPECT_EQ(CloseWidth(), kSmallButton);
        EXPECT_EQ(DiscWidth(m_shot, MinimizeCentre().x, MinimizeCentre().y, IsViolet),
                  kSmallButton);
        EXPECT_EQ(m_shot.At(at.left + 10, at.top + kCaptionHeight + 5), kInnerColour);
    }

    // Drags the caption; the window follows the pointer.
    void ExpectCaptionDragMoves()
    {
        RECT before = m_demo.State().rect;
        POINT grip{before.left + 120, before.top + kCaptionHeight / 2};
        RECT expected = OffsetRect(before, 150, 90);
        ASSERT_TRUE(m_session.Drag(grip.x, grip.y, grip.x + 150, grip.y + 90));
        EXPECT_TRUE(m_demo.WaitFor([&](const CDemoState& s) { return s.rect == expected; }))
            << "window at " << Describe(m_demo.State().rect) << ", expected " << Describe(expected)
            << "\n"
            << m_demo.Output();
        RECT server;
        EXPECT_TRUE(m_session.GetWindowGeometry(m_windowId, server));
        EXPECT_EQ(server, expected);
    }

    CXvfbSession m_session;
    CFrameDemo m_demo{ZK_SKINNED_DEMO_PATH};
    std::string m_windowId;
    CScreenshot m_shot;
};

class SkinnedFrameUnderCompositor : public SkinnedFrameTest
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_XVFB();
        StartWith({.windowManager = true, .compositor = true});
    }
};

TEST_F(SkinnedFrameUnderCompositor, ShowsSkinAndCloseButtonGrowsUnderPointer)
{
    ExpectSkin("frame-idle");
    POINT close = CloseCentre();
    ASSERT_TRUE(m_session.MouseMove(close.x, close.y));
    EXPECT_TRUE(WaitForScreen(
        [&](const CScreenshot& shot, const RECT&) {
            return DiscWidth(shot, close.x, close.y, IsRed) == kLargeButton;
        },
        "frame-hover"))
        << "the close button is " << CloseWidth() << " px across under the pointer";
    // The minimise button beside it stays small.
    EXPECT_EQ(DiscWidth(m_shot, MinimizeCentre().x, MinimizeCentre().y, IsViolet), kSmallButton);

    ASSERT_TRUE(m_session.MouseMove(close.x - 60, close.y + 80));
    EXPECT_TRUE(WaitForScreen([&](const CScreenshot& shot, const RECT&) {
        return DiscWidth(shot, close.x, close.y, IsRed) == kSmallButton;
    })) << "the close button is "
        << CloseWidth() << " px across after the pointer left";
}

TEST_F(SkinnedFrameUnderCompositor, CaptionDragMovesWindow)
{
    ExpectCaptionDragMoves();
}

TEST_F(SkinnedFrameUnderCompositor, BordersResizeNeverBelowLeastSize)
{
    // The right border widens the window.
    RECT before = m_demo.State().rect;
    int midY = before.top + before.Height() / 2;
    ASSERT_TRUE(m_session.Drag(before.right - 2, midY, before.right + 98, midY));
    RECT wider{before.left, before.top, before.right + 100, before.bottom};
    EXPECT_TRUE(m_demo.WaitFor([&](const CDemoState& s) { return s.rect == wider; }))
        << "window at " << Describe(m_demo.State().rect) << ", expected " << Describe(wider) << "\n"
        << m_demo.Output();

    // The bottom-right corner, dragged far up and left, stops at the least
    // size; the grip lies inside the round corner.
    RECT now = m_demo.State().rect;
    constexpr int kGrip = 8;
    ASSERT_TRUE(m_session.Drag(now.right - kGrip, now.bottom - kGrip, now.left + 10, now.top + 10));
    RECT least{now.left, now.top, now.left + kMinWidth, now.top + kMinHeight};
    EXPECT_TRUE(m_demo.WaitFor([&](const CDemoState& s) { return s.rect == least; }))
        << "window at " << Describe(m_demo.State().rect) << ", expected " << Describe(least) << "\n"
        << m_demo.Output();
    RECT server;
    EXPECT_TRUE(m_session.GetWindowGeometry(m_windowId, server));
    EXPECT_EQ(server, least);
}

TEST_F(SkinnedFrameUnderCompositor, CloseButtonClosesProgram)
{
    POINT close = CloseCentre();
    ASSERT_TRUE(m_session.MouseMove(close.x, close.y));
    // Clicked once it has grown, as a user would.
    ASSERT_TRUE(WaitForScreen([&](const CScreenshot& shot, const RECT&) {
        return DiscWidth(shot, close.x, close.y, IsRed) == kLargeButton;
    }));
    // The pointer is there already (a synchronous move to where it stands
    // would wait for motion that never comes).
    ASSERT_EQ(m_session.Xdotool({"click", "1"}).exitCode, 0);
    EXPECT_TRUE(m_demo.WaitFor([](const CDemoState& s) { return s.closed; })) << m_demo.Output();
    CProcessResult result = m_demo.Finish();
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
}

TEST_F(SkinnedFrameUnderCompositor, MinimizeButtonMinimizes)
{
    POINT minimize = MinimizeCentre();
    ASSERT_TRUE(m_session.Click(minimize.x, minimize.y));
    EXPECT_TRUE(WaitUntil([&] { return m_session.FindWindows(kTitleUtf8).empty(); }, kGuiWait))
        << "the window is still shown";
    EXPECT_FALSE(m_demo.State().closed);
}

// Without a window manager or compositor the framework moves the window
// itself and cuts the corners by the window's shape.
class SkinnedFrameOnBareServer : public SkinnedFrameTest
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_XVFB();
        StartWith({});
    }
};

TEST_F(SkinnedFrameOnBareServer, CornersAreCutByShape)
{
    ExpectSkin("frame-shaped");
}

TEST_F(SkinnedFrameOnBareServer, CaptionDragMovesWindowByHand)
{
    ExpectCaptionDragMoves();
}

} // namespace
} // namespace zk::test
