#include "app/start_up.h"

#include "app/main_frame.h"
#include "base/simple_err.h"
#include "friends/setting.h"
#include "friends/zarumate_list_file.h"
#include "platform/message_loop.h"
#include "platform/qt_window_system.h"
#include "platform/registry_store.h"
#include "platform/session_end.h"
#include "platform/single_instance.h"
#include "platform/text_convert.h"
#include "res/string_table.h"
#include "ui/skin_resources.h"

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>

namespace zk {

namespace {

constexpr const char* kInstanceLockName = "zarumatekit";
constexpr std::uint32_t kMsgSettingsMovedAside = 1006;
constexpr int kExitNoDisplay = 1;

void SayOnStderr(const std::string& text)
{
    std::fprintf(stderr, "zarumatekit: %s\n", text.c_str());
}

// True when another copy runs: it was brought forward if it has a window
// yet, and this one ends quietly. `alone` tells whether this copy holds the
// lock.
bool AnotherCopyRuns(CInstanceLock& lock, bool& alone)
{
    std::string why;
    alone = false;
    switch (lock.Acquire(kInstanceLockName, why)) {
    case CInstanceLock::Result::First:
        alone = true;
        return false;
    case CInstanceLock::Result::Running:
        BringWindowForward(LoadString(kMsgProductTitle));
        return true;
    case CInstanceLock::Result::Unavailable:
        break;
    }
    SayOnStderr("cannot make sure only one copy runs (" + why + "); starting anyway");
    return false;
}

} // namespace

int RunZarumatekit(int /*argc*/, char** argv)
{
    // Before any thread: the end signals are taken as messages of the loop.
    BlockEndSignals();
    std::setlocale(LC_ALL, "");

    CInstanceLock lock;
    bool alone = false;
    if (AnotherCopyRuns(lock, alone))
        return 0;
    // Temporary files of a save that was killed are removed, but only when
    // no other copy can be saving.
    if (alone) {
        RemoveStaleRegistryFiles();
        RemoveStaleListFiles();
    }

    // The program takes nothing from its command line, and neither does the
    // toolkit: options such as -platformpluginpath would load code of the
    // caller's choosing, so it gets the program's name alone.
    std::string name = argv && argv[0] ? argv[0] : "zarumatekit";
    char* fixedArgv[] = {name.data(), nullptr};
    int fixedArgc = 1;
    std::string error;
    std::unique_ptr<CQtWindowSystem> system = CQtWindowSystem::Start(fixedArgc, fixedArgv, error);
    if (!system) {
        SayOnStderr(error);
        return kExitNoDisplay;
    }
    SetWindowSystem(system.get());

    CSetting setting;
    setting.LoadSettings();
    std::wstring damaged = TakeDamagedRegistryFile();

    CMessageLoop loop;
    SetMessageLoop(&loop);
    CreateSkinResources();
    auto frame = std::make_unique<CMainFrame>(setting);
    WatchSessionEnd([&frame] { return frame->EndSession(); });

    int code = 0;
    if (frame->CreateMain()) {
        if (!damaged.empty()) {
            CSimpleErr message;
            message.SetErr(kMsgSettingsMovedAside, damaged);
            frame->MsgBox(message.GetText(), MB_ICONWARNING);
        }
        code = loop.Run();
    }

    SetMessageLoop(nullptr);
    ReleaseSkinResources();
    frame.reset();
    SetWindowSystem(nullptr);
    system.reset();
    return code;
}

} // namespace zk
