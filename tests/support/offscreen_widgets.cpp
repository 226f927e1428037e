#include "support/offscreen_widgets.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QTimer>
#include <cstdlib>

// Fontconfig's cache blocks that the leak checker is told about are listed
// beside the off-screen GUI; naming the list links it into every test
// program that starts widgets.
extern "C" const char* __lsan_default_suppressions();

namespace zk::test {

namespace {

[[maybe_unused]] const char* (*volatile g_keepSuppressions)() = &__lsan_default_suppressions;

} // namespace

void EnsureOffscreenWidgets()
{
    if (QCoreApplication::instance())
        return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "zk_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

void RunSoon(std::function<void()> task)
{
    QTimer::singleShot(0, QCoreApplication::instance(), std::move(task));
}

bool RejectActiveModal()
{
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog)
        return false;
    dialog->reject();
    return true;
}

bool AcceptActiveFileDialog(const std::string& path)
{
    auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!chooser)
        return false;
    chooser->selectFile(QString::fromStdString(path));
    // Confirming goes through the chooser's own checks, as the button does.
    static_cast<QDialog*>(chooser)->accept();
    return true;
}

} // namespace zk::test
