#include "platform/std_dialogs.h"

#include "platform/qt_window_lookup.h"
#include "platform/window.h"
#include "platform/window_types.h"
#include "res/image_resource.h"

#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QDialog>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <algorithm>
#include <functional>
#include <map>

namespace zk {

namespace {

// The sample whose width gives the average character width, as dialog
// units have always been measured.
constexpr const char* kAverageWidthSample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAverageWidthSampleLength = 52;
// The icon control shows the program icon at this size.
constexpr int kIconControlSize = 32;
constexpr const char* kExecutableFilter = "実行形式ファイル (*)";
constexpr const char* kAllFilesFilter = "全ての種類のファイル (*)";
// The toolkit's Japanese texts have none for a folder's type in the file
// list, which would read "Folder" among Japanese words.
constexpr const char* kFolderType = "フォルダー";

QString ToQString(const std::wstring& text)
{
    return QString::fromStdWString(text);
}

QPixmap ProgramIcon(int size)
{
    QPixmap pixmap;
    if (auto icon = FindProgramIcon(size))
        pixmap.loadFromData(icon->data, static_cast<uint>(icon->size), "PNG");
    return pixmap;
}

QIcon ProgramWindowIcon()
{
    QIcon icon;
    for (int size : kProgramIconSizes) {
        QPixmap pixmap = ProgramIcon(size);
        if (!pixmap.isNull())
            icon.addPixmap(pixmap);
    }
    return icon;
}

// Dialog units to pixels for the dialog's font.
class CDialogUnits
{
public:
    explicit CDialogUnits(const QFont& font)
    {
        QFontMetrics metrics(font);
        int sample = metrics.horizontalAdvance(QString::fromLatin1(kAverageWidthSample));
        m_baseX = std::max(1, (sample / (kAverageWidthSampleLength / 2) + 1) / 2);
        m_baseY = std::max(1, metrics.height());
    }

    int X(int units) const { return units * m_baseX / 4; }
    int Y(int units) const { return units * m_baseY / 8; }

private:
    int m_baseX;
    int m_baseY;
};

// Shows only directories and files the user may execute while the program
// filter is chosen.
class CExecutableFilter : public QSortFilterProxyModel
{
public:
    void SetActive(bool active)
    {
        m_active = active;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (!m_active)
            return true;
        auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
        if (!files)
            return true;
        QFileInfo info = files->fileInfo(files->index(row, 0, parent));
        return info.isDir() || (info.isFile() && info.isExecutable());
    }

private:
    bool m_active = true;
};

// The file list's types as the toolkit gives them (the file types' own
// names follow the locale), a folder's in Japanese.
class CChooserTypes : public QFileIconProvider
{
public:
    QString type(const QFileInfo& info) const override
    {
        if (info.isDir())
            return QString::fromUtf8(kFolderType);
        return QFileIconProvider::type(info);
    }
};

class CStdDialog : public QDialog, public IDialogView
{
public:
    CStdDialog(QWidget* parent, IDialogHandler& handler) : QDialog(parent), m_handler(handler) {}

    void Build(const CDialogTemplate& dialog)
    {
        setWindowTitle(ToQString(dialog.title));
        setWindowIcon(ProgramWindowIcon());
        CDialogUnits units(font());
        int width = units.X(dialog.cx);
        int height = units.Y(dialog.cy);
        for (const CDialogItem& item : dialog.items) {
            QWidget* control = MakeControl(item);
            if (!control)
                continue;
            QRect rect(units.X(item.x), units.Y(item.y), units.X(item.cx), units.Y(item.cy));
            // A text longer than its box in this font grows the box rather
            // than being cut.
            if (item.kind == CDialogItemKind::Static || item.kind == CDialogItemKind::Link)
                rect.setWidth(std::max(rect.width(), control->sizeHint().width()));
            if (item.kind == CDialogItemKind::ComboBox)
                rect.setHeight(control->sizeHint().height());
            if (item.kind == CDialogItemKind::Icon)
                rect.setSize({kIconControlSize, kIconControlSize});
            control->setGeometry(rect);
            width = std::max(width, rect.right() + units.X(4));
            if (item.id != IDC_STATIC)
                m_controls[item.id] = control;
        }
        setFixedSize(width, height);
    }

    void CentreOver(CWindow* owner)
    {
        QRect area;
        if (owner && owner->IsWindow()) {
            RECT rect = owner->GetWindowRect();
            area = QRect(rect.left, rect.top, int(rect.Width()), int(rect.Height()));
        } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
            area = screen->availableGeometry();
        }
        move(area.center() - QPoint(width() / 2, height() / 2));
    }

    void reject() override { m_handler.OnCommand(*this, IDCANCEL); }

    // IDialogView
    void ResetContent(int id) override
    {
        if (QComboBox* combo = Combo(id))
            combo->clear();
    }
    void AddString(int id, const std::wstring& text) override
    {
        if (QComboBox* combo = Combo(id))
            combo->addItem(ToQString(text));
    }
    int GetCurSel(int id) const override
    {
        QComboBox* combo = Combo(id);
        if (!combo)
            return -1;
        // Qt keeps the last chosen index while the user types; the field
        // then no longer shows that item, and nothing counts as selected.
        int index = combo->currentIndex();
        if (index < 0 || combo->currentText() != combo->itemText(index))
            return -1;
        return index;
    }
    bool GetLBText(int id, int index, std::wstring& text) const override
    {
        QComboBox* combo = Combo(id);
        if (!combo || index < 0 || index >= combo->count())
            return false;
        text = combo->itemText(index).toStdWString();
        return true;
    }
    bool GetItemText(int id, std::wstring& text) const override
    {
        auto it = m_controls.find(id);
        if (it == m_controls.end())
            return false;
        if (auto* combo = qobject_cast<QComboBox*>(it->second))
            text = combo->currentText().toStdWString();
        else if (auto* label = qobject_cast<QLabel*>(it->second))
            text = label->property("zkText").toString().toStdWString();
        else if (auto* button = qobject_cast<QPushButton*>(it->second))
            text = button->text().toStdWString();
        else
            return false;
        return true;
    }
    void SetItemText(int id, const std::wstring& text) override
    {
        auto it = m_controls.find(id);
        if (it == m_controls.end())
            return;
        if (auto* combo = qobject_cast<QComboBox*>(it->second))
            combo->setEditText(ToQString(text));
        else if (auto* label = qobject_cast<QLabel*>(it->second))
            SetLabelText(*label, ToQString(text));
        else if (auto* button = qobject_cast<QPushButton*>(it->second))
            button->setText(ToQString(text));
    }
    void EndDialog(int result) override { done(result); }
    bool ChooseProgramFile(const std::wstring& initialFile, std::wstring& path) override
    {
        return RunChooser(
            [](QFileDialog& chooser) {
                chooser.setFileMode(QFileDialog::ExistingFile);
                chooser.setAcceptMode(QFileDialog::AcceptOpen);
                auto* filter = new CExecutableFilter;
                chooser.setProxyModel(filter);
                const QString executable = QString::fromUtf8(kExecutableFilter);
                chooser.setNameFilters({executable, QString::fromUtf8(kAllFilesFilter)});
                chooser.selectNameFilter(executable);
                QObject::connect(&chooser, &QFileDialog::filterSelected, &chooser,
                                 [filter, executable](const QString& chosen) {
                                     filter->SetActive(chosen == executable);
                                 });
            },
            initialFile, path);
    }

    bool ChooseAnyFile(const std::wstring& initialFile, std::wstring& path) override
    {
        return RunChooser(
            [](QFileDialog& chooser) {
                chooser.setOption(QFileDialog::DontConfirmOverwrite);
                chooser.setFileMode(QFileDialog::AnyFile);
                chooser.setAcceptMode(QFileDialog::AcceptSave);
            },
            initialFile, path);
    }

    void Start() { m_handler.OnInitDialog(*this); }

private:
    // Runs a file chooser that setUp has made ready, opened at initialFile
    // (its folder when the path is absolute, the name selected), and gives
    // the one file chosen. Both choosers are Qt's own dialog, set before
    // anything else: the filter by permission needs it. Links are shown as
    // the user named them.
    bool RunChooser(const std::function<void(QFileDialog&)>& setUp, const std::wstring& initialFile,
                    std::wstring& path)
    {
        QFileDialog chooser(this);
        chooser.setOption(QFileDialog::DontUseNativeDialog);
        chooser.setOption(QFileDialog::DontResolveSymlinks);
        CChooserTypes types;
        chooser.setIconProvider(&types);
        ShowDetailsWhole(chooser);
        setUp(chooser);
        if (!initialFile.empty()) {
            QFileInfo initial(ToQString(initialFile));
            if (initial.isAbsolute())
                chooser.setDirectory(initial.absolutePath());
            chooser.selectFile(initial.fileName());
        }
        if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
            return false;
        path = chooser.selectedFiles().first().toStdWString();
        return true;
    }

    // The detail list's size, type and date columns take the width their
    // texts need, the name the rest: at the chooser's first size the
    // toolkit would cut the type and the date to a few characters.
    static void ShowDetailsWhole(QFileDialog& chooser)
    {
        auto* details = chooser.findChild<QTreeView*>();
        if (!details)
            return;
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }

    QComboBox* Combo(int id) const
    {
        auto it = m_controls.find(id);
        return it == m_controls.end() ? nullptr : qobject_cast<QComboBox*>(it->second);
    }

    static void SetLabelText(QLabel& label, const QString& text)
    {
        // A link shows its text as rich text; the plain text is kept aside
        // for GetItemText.
        label.setProperty("zkText", text);
        if (label.property("zkLink").toBool())
            label.setText(QStringLiteral("<a href=\"#\" style=\"color:#0000ff;\">%1</a>")
                              .arg(text.toHtmlEscaped()));
        else
            label.setText(text);
    }

    QWidget* MakeControl(const CDialogItem& item)
    {
        QString text = ToQString(item.text);
        switch (item.kind) {
        case CDialogItemKind::GroupBox:
            return new QGroupBox(text, this);
        case CDialogItemKind::ComboBox: {
            auto* combo = new QComboBox(this);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setMaxVisibleItems(10);
            // The field takes exactly what is typed: the items are offered
            // in a list below it, never written into it, and only an item
            // equal to the text, case included, counts as chosen.
            if (QCompleter* completer = combo->completer()) {
                completer->setCompletionMode(QCompleter::PopupCompletion);
                completer->setCaseSensitivity(Qt::CaseSensitive);
            }
            return combo;
        }
        case CDialogItemKind::Static: {
            auto* label = new QLabel(this);
            label->setTextFormat(Qt::PlainText);
            SetLabelText(*label, text);
            return label;
        }
        case CDialogItemKind::Link: {
            auto* label = new QLabel(this);
            label->setProperty("zkLink", true);
            label->setTextFormat(Qt::RichText);
            label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
            label->setCursor(Qt::PointingHandCursor);
            SetLabelText(*label, text);
            int id = item.id;
            QObject::connect(label, &QLabel::linkActivated, this,
                             [this, id](const QString&) { m_handler.OnCommand(*this, id); });
            return label;
        }
        case CDialogItemKind::Icon: {
            auto* label = new QLabel(this);
            label->setPixmap(ProgramIcon(kIconControlSize));
            return label;
        }
        case CDialogItemKind::PushButton:
        case CDialogItemKind::DefPushButton: {
            auto* button = new QPushButton(text, this);
            bool isDefault = item.kind == CDialogItemKind::DefPushButton;
            button->setDefault(isDefault);
            button->setAutoDefault(isDefault);
            int id = item.id;
            QObject::connect(button, &QPushButton::clicked, this,
                             [this, id] { m_handler.OnCommand(*this, id); });
            return button;
        }
        }
        return nullptr;
    }

    IDialogHandler& m_handler;
    std::map<int, QWidget*> m_controls;
};

} // namespace

int RunDialog(CWindow* owner, const CDialogTemplate& dialog, IDialogHandler& handler)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return IDCANCEL;
    CStdDialog box(WidgetOfWindow(owner), handler);
    box.setWindowModality(Qt::ApplicationModal);
    box.Build(dialog);
    box.CentreOver(owner);
    box.Start();
    // A window of the program is told it is disabled, as the popups do with
    // their owner, so that it takes no input of its own meanwhile.
    bool ownerWasEnabled = owner && owner->IsWindowEnabled();
    if (ownerWasEnabled)
        owner->EnableWindow(false);
    int result = box.exec();
    if (ownerWasEnabled && owner->IsWindow())
        owner->EnableWindow(true);
    return result;
}

} // namespace zk
