#pragma once

#include <string>
#include <vector>

namespace zk {

class CWindow;

// Standard dialogs of the desktop (the about box, the settings dialog),
// described as data the way dialog resources are: controls with ids, texts
// and rectangles in dialog units, where a horizontal unit is a quarter of
// the dialog font's average character width and a vertical unit an eighth
// of its height. What the dialog does lives in a handler above this layer,
// which sees the controls only through IDialogView, so it can be driven
// without a display.

// The id of controls nobody asks for.
constexpr int IDC_STATIC = -1;

enum class CDialogItemKind
{
    GroupBox,
    // An editable drop-down list; its rectangle's height includes the list.
    ComboBox,
    Static,
    PushButton,
    DefPushButton,
    // The program icon.
    Icon,
    // A text drawn as a link (blue, underlined, the hand cursor over it);
    // a click reports the control's id as a command.
    Link,
};

struct CDialogItem
{
    int id = IDC_STATIC;
    CDialogItemKind kind = CDialogItemKind::Static;
    std::wstring text;
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
};

struct CDialogTemplate
{
    std::wstring title;
    int cx = 0;
    int cy = 0;
    std::vector<CDialogItem> items;
};

// The controls of a running dialog, by id.
class IDialogView
{
public:
    virtual ~IDialogView() = default;

    // Combo box items.
    virtual void ResetContent(int id) = 0;
    virtual void AddString(int id, const std::wstring& text) = 0;
    // The selected item, -1 when none is (typing into the combo box's field
    // leaves none selected).
    virtual int GetCurSel(int id) const = 0;
    virtual bool GetLBText(int id, int index, std::wstring& text) const = 0;

    // The text of any control (of a combo box: its edit field).
    virtual bool GetItemText(int id, std::wstring& text) const = 0;
    virtual void SetItemText(int id, const std::wstring& text) = 0;

    virtual void EndDialog(int result) = 0;

    // The file chooser for a program to run, owned by the dialog: it lists
    // the files the user may execute or, by the second filter, every file;
    // the file must exist; symbolic links come back as themselves. True,
    // with the chosen file's full path, when the user confirms.
    virtual bool ChooseProgramFile(const std::wstring& initialFile, std::wstring& path) = 0;

    // The file chooser for a file to read that may not exist yet (a key
    // log the browser will write): any name in an existing folder. False
    // when the user cancels; a view without one answers false.
    virtual bool ChooseAnyFile(const std::wstring& /*initialFile*/, std::wstring& /*path*/)
    {
        return false;
    }
};

class IDialogHandler
{
public:
    virtual ~IDialogHandler() = default;

    virtual void OnInitDialog(IDialogView& /*view*/) {}
    // A button or link was clicked. Enter clicks the default button (IDOK),
    // Esc and the window's close box send IDCANCEL.
    virtual void OnCommand(IDialogView& view, int id) = 0;
};

// Runs the dialog modally, centred over the owner (which takes no input
// meanwhile), with the program icon as its window icon. Answers the result
// the handler gave EndDialog, or IDCANCEL when no dialog can be shown.
int RunDialog(CWindow* owner, const CDialogTemplate& dialog, IDialogHandler& handler);

} // namespace zk
