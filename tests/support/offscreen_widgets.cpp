#include "support/offscreen_widgets.h"

#include "support/offscreen_gui.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QTimer>

namespace zk::test {

void EnsureOffscreenWidgets()
{
    EnsureOffscreenGui();
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

bool SaveActiveModal(const std::string& pngPath)
{
    QWidget* dialog = QApplication::activeModalWidget();
    return dialog && dialog->grab().save(QString::fromStdString(pngPath), "PNG");
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
