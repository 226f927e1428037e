#include "platform/qt_window_system.h"
#include "support/child_process.h"
#include "support/xvfb_session.h"
#include "ui/skin_resources.h"
#include "ui/zaru_delete_cancel_dlg.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace zk {
namespace {

// The delete question on the real desktop window system, driven by real
// key presses and clicks (xdotool) on a private X server. The test program
// runs itself again under xvfb-run, so that the widget application there is
// the only one of its process.
constexpr const char* kChildVariable = "ZK_POPUP_GUI_CHILD";

bool IsChild()
{
    return std::getenv(kChildVariable) != nullptr;
}

// Runs xdotool with the arguments a moment after the popup is up, beside
// the popup's loop, which must go on to take the input.
void DriveLater(const std::string& args)
{
    std::thread([args] {
        std::string command = "xdotool sleep 0.5 " + args;
        int status = std::system(command.c_str());
        (void)status;
    }).detach();
}

TEST(PopupGuiTest, DeleteQuestionAnswersRealKeysAndClicks)
{
    if (!IsChild()) {
        ZK_REQUIRE_XVFB();
        std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        auto result =
            test::RunProcess({"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", self,
                              "--gtest_filter=PopupGuiTest.DeleteQuestionAnswersRealKeysAndClicks"},
                             // The desktop's libraries (D-Bus among them) keep blocks for the
                             // life of the process, which is not what this run checks.
                             {std::string(kChildVariable) + "=1", "LSAN_OPTIONS=detect_leaks=0"},
                             std::chrono::seconds(60));
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        return;
    }

    // A popup that never hears its input would wait forever; the run ends
    // itself long after the few seconds it needs, and xvfb-run then takes
    // its server down.
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(30));
        std::_Exit(3);
    }).detach();

    int argc = 1;
    static char name[] = "zk_popup_gui";
    static char* argv[] = {name, nullptr};
    std::string error;
    auto system = CQtWindowSystem::Start(argc, argv, error);
    ASSERT_TRUE(system) << error;
    SetWindowSystem(system.get());
    CreateSkinResources();
    CWindow owner;
    ASSERT_TRUE(owner.Create(nullptr, {100, 100, 300, 300}, L"owner", WS_POPUP, 0));
    owner.ShowWindow(SW_SHOW);

    struct Case
    {
        const char* name;
        // Which button to click (-1: a key instead).
        int button;
        const char* key;
        int result;
    };
    const Case cases[] = {
        {"delete button", 0, nullptr, 1},
        {"close button", 1, nullptr, 2},
        {"Enter", -1, "Return", 1},
        {"Esc", -1, "Escape", 2},
    };
    for (const Case& c : cases) {
        CZaruDeleteCancelDlg dialog;
        dialog.SetText(L"山田 を消しますか？");
        bool ownerDisabled = false;
        system->Post([&] {
            ownerDisabled = !owner.IsWindowEnabled();
            if (c.button < 0) {
                DriveLater(std::string("key ") + c.key);
                return;
            }
            RECT button = dialog.GetLayout().GetButtons()[c.button].GetRect();
            POINT centre = dialog.ClientToScreen(
                {(button.left + button.right) / 2, (button.top + button.bottom) / 2});
            DriveLater("mousemove " + std::to_string(centre.x) + " " + std::to_string(centre.y) +
                       " click 1");
        });
        EXPECT_EQ(dialog.DoModal(&owner), c.result) << c.name;
        EXPECT_TRUE(ownerDisabled) << c.name;
        EXPECT_TRUE(owner.IsWindowEnabled()) << c.name;
    }
    owner.DestroyWindow();
    ReleaseSkinResources();
    SetWindowSystem(nullptr);
}

} // namespace
} // namespace zk
