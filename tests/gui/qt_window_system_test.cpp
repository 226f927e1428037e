// The window framework over the real window system, in this process, on an
// Xvfb with a window manager that the suite starts for itself.

#include "in_process_toolkit.h"
#include "platform/message_loop.h"
#include "platform/qt_window_system.h"
#include "platform/window.h"
#include "support/scoped_env.h"
#include "support/xvfb_session.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace zk::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10s;
constexpr std::uint32_t kOpaque = 0xFF506070;

// A plain opaque window that records what it hears.
class CProbeWindow : public CWindow
{
public:
    bool Open(const RECT& rect)
    {
        if (!Create(nullptr, rect, L"zk probe", WS_POPUP | WS_CAPTION, 0))
            return false;
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(rect.Width() * rect.Height()),
                                          kOpaque);
        UpdateLayeredWindow(pixels.data(), static_cast<int>(rect.Width()),
                            static_cast<int>(rect.Height()),
                            static_cast<std::size_t>(rect.Width()) * 4);
        ShowWindow(SW_SHOW);
        return true;
    }

    std::vector<CWindow*> m_captureChanges;
    int m_ticks = 0;
    int m_stopAfter = 0;
    std::vector<std::uintptr_t> m_apps;

protected:
    void OnCaptureChanged(CWindow* newCapture) override { m_captureChanges.push_back(newCapture); }
    void OnTimer(int id) override
    {
        if (++m_ticks == m_stopAfter) {
            KillTimer(id);
            PostMessage(WM_APP, 1);
        }
    }
    void OnApp(std::uintptr_t wParam, std::intptr_t) override { m_apps.push_back(wParam); }
};

class QtWindowSystemTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_XVFB();
        std::string error;
        ASSERT_TRUE(m_session.Start({.windowManager = true}, error)) << error;
        ASSERT_TRUE(m_toolkit.Start(m_session, error)) << error;
        SetWindowSystem(m_toolkit.system.get());
        SetMessageLoop(&m_loop);
    }

    void TearDown() override
    {
        // The windows and the toolkit go before the server they talk to.
        m_windows.clear();
        SetMessageLoop(nullptr);
        m_toolkit.system.reset();
        m_session.Stop();
    }

    CProbeWindow& Open(const RECT& rect)
    {
        m_windows.push_back(std::make_unique<CProbeWindow>());
        EXPECT_TRUE(m_windows.back()->Open(rect));
        return *m_windows.back();
    }

    // Runs the toolkit's events until the condition holds.
    template <class F> bool PumpUntil(F condition)
    {
        return WaitUntil(
            [&] {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                return condition();
            },
            kWait, 5ms);
    }

    // Clicks into a window as a user would, so that the window manager
    // activates it.
    bool ClickAndActivate(CProbeWindow& window)
    {
        RECT rect = window.GetWindowRect();
        return m_session.Click(rect.left + 30, rect.top + 30) &&
               PumpUntil([&] { return window.IsActiveWindow(); });
    }

    CXvfbSession m_session;
    CInProcessToolkit m_toolkit;
    CMessageLoop m_loop;
    std::vector<std::unique_ptr<CProbeWindow>> m_windows;
};

TEST_F(QtWindowSystemTest, CaptureIsLostWhenWindowIsDeactivated)
{
    CProbeWindow& first = Open({100, 100, 300, 250});
    CProbeWindow& second = Open({500, 100, 700, 250});
    ASSERT_TRUE(PumpUntil([&] { return first.IsWindowVisible() && second.IsWindowVisible(); }));
    ASSERT_TRUE(ClickAndActivate(first));
    first.SetCapture();
    ASSERT_EQ(CWindow::GetCapture(), &first);

    ASSERT_TRUE(ClickAndActivate(second));
    EXPECT_TRUE(PumpUntil([&] { return !first.m_captureChanges.empty(); }));
    EXPECT_EQ(CWindow::GetCapture(), nullptr);
    ASSERT_EQ(first.m_captureChanges.size(), 1u);
    EXPECT_EQ(first.m_captureChanges[0], nullptr);
}

TEST_F(QtWindowSystemTest, TimerTicksUntilKilledAndModalLoopEndsOnApp)
{
    CProbeWindow& window = Open({100, 100, 300, 250});
    window.m_stopAfter = 3;
    window.SetTimer(7, 25);
    // Should the loop never end, a late WM_APP of another kind ends it and
    // the test fails instead of hanging.
    QTimer::singleShot(std::chrono::milliseconds(kWait), [&] { window.PostMessage(WM_APP, 2); });
    window.RunModalLoop();
    EXPECT_EQ(window.m_apps, std::vector<std::uintptr_t>{1});
    EXPECT_EQ(window.m_ticks, 3);
}

TEST_F(QtWindowSystemTest, WindowDestroyedInsideItsHandlerDropsItsPostedMessages)
{
    class CSelfClosing : public CProbeWindow
    {
    protected:
        void OnTimer(int) override
        {
            PostMessage(WM_APP, 1);
            DestroyWindow();
        }
    };
    auto window = std::make_unique<CSelfClosing>();
    ASSERT_TRUE(window->Open({100, 100, 300, 250}));
    window->SetTimer(1, 25);
    ASSERT_TRUE(PumpUntil([&] { return !window->IsWindow(); }));
    // The native window goes later, from the loop; nothing it still delivers
    // reaches the window object.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window->m_apps.empty());
}

// A message box, as shown by the window system, and what it showed: the
// texts of its visible buttons and whether a picture of the screen was
// taken (kept where ZK_GUI_SCREENSHOTS says). The box is answered with the
// button of the role given, or put away without one. The caller holds the
// timer that looks for the box, so that it stops with the test even when
// no box comes.
struct CShownBox
{
    std::vector<std::string> buttons;
    bool pictured = false;
};

std::unique_ptr<QTimer> AnswerBox(const CXvfbSession& session, QMessageBox::StandardButton answer,
                                  const std::string& saveAs, CShownBox& shown)
{
    auto poll = std::make_unique<QTimer>();
    QTimer* timer = poll.get();
    QObject::connect(timer, &QTimer::timeout, [&session, &shown, timer, answer, saveAs] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer->stop();
        for (QAbstractButton* button : box->buttons()) {
            if (button->isVisible())
                shown.buttons.push_back(button->text().toStdString());
        }
        QTimer::singleShot(std::chrono::milliseconds(300), box,
                           [&session, &shown, box, answer, saveAs] {
                               CScreenshot shot;
                               std::string error;
                               shown.pictured = session.Screenshot(shot, error, saveAs);
                               if (QAbstractButton* button = box->button(answer))
                                   button->click();
                               else
                                   box->reject();
                           });
    });
    poll->start(10);
    return poll;
}

TEST_F(QtWindowSystemTest, MessageBoxButtonsSpeakJapaneseAndAnswerWhatWasClicked)
{
    // The window system installs the toolkit's Japanese texts itself, also
    // under the C locale of the tests, and only once however often it asks.
    CShownBox question;
    auto answering = AnswerBox(m_session, QMessageBox::No, "question", question);
    int answer = m_toolkit.system->MessageBox(nullptr, L"消しますか？", L"Zarumatekit",
                                              MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(answer, IDNO);
    EXPECT_TRUE(question.pictured);
    ASSERT_EQ(question.buttons.size(), 2u);
    EXPECT_EQ(question.buttons[0].rfind("はい", 0), 0u) << question.buttons[0];
    EXPECT_EQ(question.buttons[1].rfind("いいえ", 0), 0u) << question.buttons[1];

    CShownBox notice;
    answering = AnswerBox(m_session, QMessageBox::Ok, "notice", notice);
    EXPECT_EQ(m_toolkit.system->MessageBox(nullptr, L"保存しました。", L"Zarumatekit",
                                           MB_ICONINFORMATION),
              IDOK);
    ASSERT_EQ(notice.buttons.size(), 1u);
    EXPECT_EQ(notice.buttons[0], "OK");

    // Put away without an answer, the question answers neither はい nor いいえ.
    CShownBox dismissed;
    answering = AnswerBox(m_session, QMessageBox::NoButton, "dismissed", dismissed);
    EXPECT_EQ(m_toolkit.system->MessageBox(nullptr, L"消しますか？", L"Zarumatekit", MB_YESNO),
              IDCANCEL);
}

} // namespace
} // namespace zk::test
