#include "support/offscreen_gui.h"

#include <QGuiApplication>
#include <cstdlib>

namespace zk::test {

void EnsureOffscreenGui()
{
    if (QCoreApplication::instance())
        return;
    // No display is needed: the off-screen platform renders into memory.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "zk_tests";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
}

} // namespace zk::test
