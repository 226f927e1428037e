#include "support/offscreen_gui.h"

#include <QApplication>
#include <cstdlib>

// Fontconfig keeps a few blocks of its cache for the life of the process,
// and so does D-Bus, which a GUI application on a display opens for
// accessibility; the leak checker is told so, since nothing here can free
// them. (The GUI tests link this object for these lines alone.)
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

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
    // A widget application: it serves the drawing tests and the dialogs'.
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

} // namespace zk::test
