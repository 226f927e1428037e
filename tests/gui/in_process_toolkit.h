#pragma once

#include "platform/qt_window_system.h"
#include "support/scoped_env.h"
#include "support/xvfb_session.h"

#include <memory>
#include <string>

namespace zk::test {

// The toolkit of this process on a running session's display, for GUI tests
// that drive windows in-process. The display variable stays set while the
// object lives; the toolkit goes first.
struct CInProcessToolkit
{
    bool Start(const CXvfbSession& session, std::string& error)
    {
        display = std::make_unique<CScopedEnv>("DISPLAY", session.Display());
        static int argc = 1;
        static char name[] = "zk_gui_tests";
        static char* argv[] = {name, nullptr};
        system = CQtWindowSystem::Start(argc, argv, error);
        return system != nullptr;
    }

    std::unique_ptr<CScopedEnv> display;
    std::unique_ptr<CQtWindowSystem> system;
};

} // namespace zk::test
