#include "support/offscreen_widgets.h"

#include "support/offscreen_gui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>

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

bool TypeIntoActiveCombo(const std::string& text)
{
    QWidget* modal = QApplication::activeModalWidget();
    auto* combo = modal ? modal->findChild<QComboBox*>() : nullptr;
    QLineEdit* field = combo ? combo->lineEdit() : nullptr;
    if (!field)
        return false;
    field->setFocus();
    field->clear();
    for (QChar c : QString::fromStdString(text)) {
        // Printable ASCII keys have their upper-case character as key code.
        int key = c.unicode() < 0x80 ? c.toUpper().unicode() : int(Qt::Key_unknown);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &release);
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(field, &enter);
    return true;
}

std::vector<std::string> ActiveModalTexts()
{
    std::vector<std::string> texts;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return texts;
    for (auto* button : modal->findChildren<QAbstractButton*>())
        if (!button->text().isEmpty())
            texts.push_back(button->text().toStdString());
    for (auto* label : modal->findChildren<QLabel*>())
        if (!label->text().isEmpty())
            texts.push_back(label->text().toStdString());
    return texts;
}

bool ActiveModalExtent(int& width, int& height, int& contentRight)
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return false;
    width = modal->width();
    height = modal->height();
    contentRight = 0;
    for (auto* child : modal->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        contentRight = std::max(contentRight, child->geometry().right() + 1);
    return true;
}

} // namespace zk::test
