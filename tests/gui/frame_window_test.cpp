// The frame window on a real X server, driven from outside like a user
// would: the demo program runs a frame window on its own Xvfb, xdotool
// presses and drags, and screenshots show what reached the screen.

#include "frame_demo_process.h"
#include "frame_window_demo.h"
#include "platform/window_types.h"
#include "support/child_process.h"
#include "support/xvfb_session.h"

#include <gtest/gtest.h>

namespace zk::test {
namespace {

using namespace std::chrono_literals;
using namespace demo;

constexpr auto kWait = kGuiWait;

// A session and a demo window on it, shown and painted.
class FrameWindowTest : public testing::Test
{
protected:
    static constexpr RECT kStart{100, 100, 400, 300};
    // What a kept screenshot shows around the window.
    static constexpr int kMargin = 20;

    void StartWith(const CXvfbOptions& options, int redraws = 0)
    {
        std::string error;
        ASSERT_TRUE(m_session.Start(options, error)) << error;
        ASSERT_TRUE(m_demo.Start(m_session, kStart, redraws));
        ASSERT_TRUE(m_demo.WaitFor([](const CDemoState& s) { return s.created; }))
            << m_demo.Output();
        ASSERT_EQ(m_demo.State().rect, kStart);
        EXPECT_EQ(m_demo.State().compositor, options.compositor);
        // Shown means: the server knows the window where the demo put it, and
        // its paint reached the screen.
        std::vector<std::string> ids;
        ASSERT_TRUE(WaitUntil(
            [&] {
                ids = m_session.FindWindows(kTitleUtf8);
                return ids.size() == 1;
            },
            kWait))
            << "no visible window named " << kTitleUtf8 << " (" << ids.size() << " found)\n"
            << m_session.Log() << "\n"
            << m_demo.Output();
        m_windowId = ids[0];
        ASSERT_TRUE(WaitForScreen([](const CScreenshot& shot, const RECT& at) {
            return shot.At(at.left + at.Width() / 2, at.top + at.Height() / 2) == kBodyColour;
        })) << "the window's paint never reached the screen";
    }

    // Takes screenshots until the condition holds for the window's rectangle.
    template <class F> bool WaitForScreen(F condition, const std::string& saveAs = {})
    {
        return WaitUntil(
            [&] {
                std::string error;
                RECT around = m_demo.State().rect;
                around = {around.left - kMargin, around.top - kMargin, around.right + kMargin,
                          around.bottom + kMargin};
                return m_session.Screenshot(m_shot, error, saveAs, around) &&
                       condition(m_shot, m_demo.State().rect);
            },
            kWait);
    }

    RECT ServerGeometry()
    {
        RECT rect;
        EXPECT_TRUE(m_session.GetWindowGeometry(m_windowId, rect));
        return rect;
    }

    // The corners lie outside the round edge: the screen shows there what it
    // shows beside the window.
    void ExpectSeeThroughCorners(const std::string& saveAs)
    {
        const RECT& at = m_demo.State().rect;
        bool seeThrough = WaitForScreen(
            [](const CScreenshot& shot, const RECT& r) {
                std::uint32_t background = shot.At(r.left - 20, r.top + 40);
                return shot.At(r.left, r.top) == background &&
                       shot.At(r.right - 1, r.top) == background &&
                       shot.At(r.left, r.bottom - 1) == background &&
                       shot.At(r.right - 1, r.bottom - 1) == background;
            },
            saveAs);
        std::uint32_t background = m_shot.At(at.left - 20, at.top + 40);
        EXPECT_TRUE(seeThrough) << "window at " << Describe(at) << ", background "
                                << ColourText(background) << ", corners "
                                << ColourText(m_shot.At(at.left, at.top)) << " "
                                << ColourText(m_shot.At(at.right - 1, at.top)) << " "
                                << ColourText(m_shot.At(at.left, at.bottom - 1)) << " "
                                << ColourText(m_shot.At(at.right - 1, at.bottom - 1));
        // Unpainted pixels of a window with alpha would be black: the root is
        // white, and xcompmgr's is grey.
        EXPECT_NE(background & 0xFFFFFF, 0u);
        // Just inside the round edge the window is painted.
        EXPECT_EQ(m_shot.At(at.left + kCornerRadius, at.top + 1), kCaptionColour);
        EXPECT_EQ(m_shot.At(at.left + 1, at.top + kCornerRadius), kCaptionColour);
        EXPECT_EQ(m_shot.At(at.right - 2, at.bottom - kCornerRadius - 1), kBodyColour);
        EXPECT_EQ(m_shot.At(at.right - kCloseFromRight, at.top + kCloseFromTop), kCloseColour);
        EXPECT_EQ(m_shot.At(at.right - kMinimizeFromRight, at.top + kCloseFromTop),
                  kMinimizeColour);
    }

    // Drags the caption and checks that the window, found at before, followed
    // the pointer.
    void ExpectCaptionDragMoves(const RECT& before)
    {
        POINT grip{before.left + 60, before.top + kCaptionHeight / 2};
        RECT expected = OffsetRect(before, 150, 90);
        ASSERT_TRUE(m_session.Drag(grip.x, grip.y, grip.x + 150, grip.y + 90));
        EXPECT_TRUE(m_demo.WaitFor([&](const CDemoState& s) { return s.rect == expected; }))
            << "window at " << Describe(m_demo.State().rect) << ", expected " << Describe(expected)
            << "\n"
            << m_demo.Output();
        EXPECT_EQ(ServerGeometry(), expected);
    }

    // A press on a see-through pixel goes to what lies below, as with
    // layered windows: dragging from the top-left corner's (a border, were it
    // the window's) does nothing. The caption drag after it shows that.
    void ExpectSeeThroughCornerTakesNoPress()
    {
        RECT before = m_demo.State().rect;
        ASSERT_TRUE(
            m_session.Drag(before.left + 1, before.top + 1, before.left - 60, before.top + 60));
        ExpectCaptionDragMoves(before);
    }

    // Drags the bottom-right corner far up and left: the window stops at its
    // least size; then out again: it grows with the pointer.
    void ExpectCornerDragResizes()
    {
        RECT before = m_demo.State().rect;
        // The grip lies inside the round corner: where the window is cut to
        // its shape, a press beyond the edge would go to the screen below.
        int grip = kBorder;
        ASSERT_TRUE(m_session.Drag(before.right - grip, before.bottom - grip, before.left + 10,
                                   before.top + 10));
        RECT least{before.left, before.top, before.left + kMinWidth, before.top + kMinHeight};
        EXPECT_TRUE(m_demo.WaitFor([&](const CDemoState& s) { return s.rect == least; }))
            << "window at " << Describe(m_demo.State().rect) << ", expected " << Describe(least)
            << "\n"
            << m_demo.Output();

        RECT now = m_demo.State().rect;
        ASSERT_TRUE(m_session.Drag(now.right - grip, now.bottom - grip, now.right - grip + 250,
                                   now.bottom - grip + 150));
        RECT grown{now.left, now.top, now.right + 250, now.bottom + 150};
        EXPECT_TRUE(m_demo.WaitFor([&](const CDemoState& s) { return s.rect == grown; }))
            << "window at " << Describe(m_demo.State().rect) << ", expected " << Describe(grown)
            << "\n"
            << m_demo.Output();
        EXPECT_EQ(ServerGeometry(), grown);
        // The window painted itself anew at its new size.
        ExpectSeeThroughCorners("frame_window_resized");
    }

    // The first picture and the redraws at the same size cut the shape
    // once, and the round corners are see-through.
    void ExpectShapeCutOnce(const std::string& saveAs)
    {
        ASSERT_TRUE(m_demo.WaitFor([&](const CDemoState& s) { return s.paints >= 1 + kRedraws; }))
            << m_demo.Output();
        EXPECT_EQ(m_demo.State().shapes, 1u) << m_demo.Output();
        ExpectSeeThroughCorners(saveAs);
    }

    // A new size and its redraws cut the shape once more, after cutsBefore
    // (counted by the window system, also for compositors that came or
    // went), and the corners stay see-through.
    void ExpectResizeCutsOnce(const std::string& saveAs, std::uint64_t cutsBefore)
    {
        const RECT before = m_demo.State().rect;
        const int paintsBefore = m_demo.State().paints;
        const int width = static_cast<int>(before.Width()) + 60;
        const int height = static_cast<int>(before.Height()) + 40;
        ASSERT_EQ(
            m_session
                .Xdotool({"windowsize", m_windowId, std::to_string(width), std::to_string(height)})
                .exitCode,
            0);
        ASSERT_TRUE(m_demo.WaitFor([&](const CDemoState& s) {
            return s.rect.Width() == width && s.rect.Height() == height &&
                   s.paints >= paintsBefore + 1 + kRedraws;
        })) << m_demo.Output();
        EXPECT_EQ(m_demo.State().shapes, cutsBefore + 1) << m_demo.Output();
        ExpectSeeThroughCorners(saveAs);
    }

    static constexpr int kRedraws = 20;

    CXvfbSession m_session;
    CFrameDemo m_demo{ZK_FRAME_DEMO_PATH};
    std::string m_windowId;
    CScreenshot m_shot;
};

class FrameWindowUnderCompositor : public FrameWindowTest
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_XVFB();
        StartWith({.windowManager = true, .compositor = true});
    }
};

TEST_F(FrameWindowUnderCompositor, ShowsWithSeeThroughRoundCornersAndBlendedAlpha)
{
    ExpectSeeThroughCorners("frame_window_composited");
    // Half alpha over the background: each channel at half its brightness.
    const RECT& at = m_demo.State().rect;
    std::uint32_t background = m_shot.At(at.left - 20, at.top + 40);
    std::uint32_t half = m_shot.At(at.left + (kHalfLeft + kHalfRight) / 2,
                                   at.bottom - kHalfFromBottom + kHalfRows / 2);
    for (int shift : {0, 8, 16}) {
        int expected = static_cast<int>((background >> shift) & 0xFF) / 2;
        int seen = static_cast<int>((half >> shift) & 0xFF);
        EXPECT_NEAR(seen, expected, 2) << "background " << ColourText(background)
                                       << ", half-transparent patch " << ColourText(half);
    }
}

TEST_F(FrameWindowUnderCompositor, CaptionDragMovesWindow)
{
    ExpectCaptionDragMoves(m_demo.State().rect);
}

TEST_F(FrameWindowUnderCompositor, SeeThroughCornerTakesNoPress)
{
    ExpectSeeThroughCornerTakesNoPress();
}

TEST_F(FrameWindowUnderCompositor, CornerDragResizesNeverBelowLeastSize)
{
    ExpectCornerDragResizes();
}

// Only the input is cut under a compositor, once a size as well.
class FrameWindowRedrawnUnderCompositor : public FrameWindowTest
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_XVFB();
        StartWith({.windowManager = true, .compositor = true}, kRedraws);
    }
};

TEST_F(FrameWindowRedrawnUnderCompositor, ShapeIsCutOncePerSize)
{
    ExpectShapeCutOnce("frame_window_composited_shape_before");
    ExpectResizeCutsOnce("frame_window_composited_shape_after", 1);
}

// The compositor goes and comes back while the window shows one picture:
// the window follows without a new paint, cut when nobody blends its alpha
// (else its corners would show black) and uncut again after.
TEST_F(FrameWindowRedrawnUnderCompositor, ShapeFollowsCompositorGoingAndComing)
{
    ASSERT_TRUE(m_demo.WaitFor([&](const CDemoState& s) { return s.paints >= 1 + kRedraws; }));
    ASSERT_TRUE(m_session.StopCompositor()) << m_session.Log();
    ExpectSeeThroughCorners("frame_window_compositor_gone");
    std::string error;
    ASSERT_TRUE(m_session.StartCompositor(error)) << error;
    ExpectSeeThroughCorners("frame_window_compositor_back");
    // The first cut and one for each change, then one for the new size.
    ExpectResizeCutsOnce("frame_window_compositor_back_resized", 3);
}

TEST_F(FrameWindowUnderCompositor, ClickOnCloseCircleEndsProgram)
{
    const RECT& at = m_demo.State().rect;
    // A press on the circle taken back by leaving it closes nothing.
    POINT close{at.right - kCloseFromRight, at.top + kCloseFromTop};
    ASSERT_TRUE(m_session.MouseMove(close.x, close.y));
    ASSERT_TRUE(m_session.MouseDown());
    ASSERT_TRUE(m_session.MouseMove(close.x - 40, close.y + 60));
    ASSERT_TRUE(m_session.MouseUp());
    ASSERT_TRUE(m_session.Click(at.left + 40, at.top + 60));
    EXPECT_FALSE(m_demo.State().closed);

    ASSERT_TRUE(m_session.Click(close.x, close.y));
    EXPECT_TRUE(m_demo.WaitFor([](const CDemoState& s) { return s.closed; })) << m_demo.Output();
    CProcessResult result = m_demo.Finish();
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
}

TEST_F(FrameWindowUnderCompositor, ClickOnMinimizeCircleMinimizesWindow)
{
    const RECT& at = m_demo.State().rect;
    ASSERT_TRUE(m_session.Click(at.right - kMinimizeFromRight, at.top + kCloseFromTop));
    EXPECT_TRUE(WaitUntil([&] { return m_session.FindWindows(kTitleUtf8).empty(); }, kWait))
        << "the window is still shown";
    EXPECT_FALSE(m_demo.State().closed);
    // Minimised, not gone: the window manager shows it again on request.
    ASSERT_TRUE(m_session.Xdotool({"windowactivate", m_windowId}).exitCode == 0);
    EXPECT_TRUE(WaitUntil([&] { return m_session.FindWindows(kTitleUtf8).size() == 1; }, kWait));
}

// Without a window manager nobody moves windows for the program, and
// without a compositor nobody blends alpha: the framework moves the window
// itself and cuts it to the shape of its picture.
class FrameWindowOnBareServer : public FrameWindowTest
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_XVFB();
        StartWith({});
    }
};

TEST_F(FrameWindowOnBareServer, CornersAreCutByShape)
{
    ExpectSeeThroughCorners("frame_window_shaped");
}

class FrameWindowRedrawnOnBareServer : public FrameWindowTest
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_XVFB();
        StartWith({}, kRedraws);
    }
};

TEST_F(FrameWindowRedrawnOnBareServer, ShapeIsCutOncePerSize)
{
    ExpectShapeCutOnce("frame_window_bare_shape_before");
    ExpectResizeCutsOnce("frame_window_bare_shape_after", 1);
}

TEST_F(FrameWindowOnBareServer, CaptionDragMovesWindowByHand)
{
    ExpectCaptionDragMoves(m_demo.State().rect);
}

TEST_F(FrameWindowOnBareServer, SeeThroughCornerTakesNoPress)
{
    ExpectSeeThroughCornerTakesNoPress();
}

TEST_F(FrameWindowOnBareServer, CornerDragResizesByHandNeverBelowLeastSize)
{
    ExpectCornerDragResizes();
}

} // namespace
} // namespace zk::test
