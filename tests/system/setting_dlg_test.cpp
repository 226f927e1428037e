#include "friends/setting.h"
#include "platform/window_types.h"
#include "system/about_dlg.h"
#include "system/setting_dlg.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace zk {
namespace {

// The dialog's controls in memory, as the user leaves them.
class CFakeDialogView : public IDialogView
{
public:
    void ResetContent(int) override
    {
        items.clear();
        selected = -1;
    }
    void AddString(int, const std::wstring& text) override { items.push_back(text); }
    int GetCurSel(int) const override { return selected; }
    bool GetLBText(int, int index, std::wstring& text) const override
    {
        if (!itemsReadable || index < 0 || index >= int(items.size()))
            return false;
        text = items[index];
        return true;
    }
    bool GetItemText(int id, std::wstring& text) const override
    {
        if (id == CAboutDlg::kLinkId) {
            text = L"http://www.brindlewerk.example/";
            return true;
        }
        if (!editReadable)
            return false;
        text = edit;
        return true;
    }
    void SetItemText(int, const std::wstring& text) override
    {
        edit = text;
        ++textSets;
    }
    void EndDialog(int value) override { result = value; }
    bool ChooseProgramFile(const std::wstring& initial, std::wstring& path) override
    {
        chooserInitial.push_back(initial);
        if (!chooserAnswer)
            return false;
        path = *chooserAnswer;
        return true;
    }

    void Select(int index)
    {
        selected = index;
        edit = items.at(index);
    }
    void Type(const std::wstring& text)
    {
        edit = text;
        selected = -1;
    }

    std::vector<std::wstring> items;
    int selected = -1;
    bool itemsReadable = true;
    std::wstring edit;
    bool editReadable = true;
    int textSets = 0;
    int result = 0;
    std::optional<std::wstring> chooserAnswer;
    std::vector<std::wstring> chooserInitial;
};

// Runs a dialog on the fake view: initialisation, then what the user does.
CSettingDlg::Runner Drive(CFakeDialogView& view, std::function<void(IDialogHandler&)> user)
{
    return [&view, user](CWindow*, const CDialogTemplate&, IDialogHandler& handler) {
        handler.OnInitDialog(view);
        user(handler);
        return view.result;
    };
}

TEST(SettingDlgTest, ComboHoldsTheEmptyChoiceAndTheCurrentPath)
{
    CFakeDialogView view;
    CSettingDlg dialog;
    dialog.OnInitDialog(view);
    EXPECT_EQ(view.items, std::vector<std::wstring>{L""});
    EXPECT_EQ(view.edit, L"");
    EXPECT_EQ(view.textSets, 0); // already showing the empty path
    dialog.OnCommand(view, IDOK);
    EXPECT_EQ(view.result, IDOK);
    EXPECT_EQ(dialog.m_browserPath, L"");

    dialog.m_browserPath = L"/usr/bin/x-www-browser";
    dialog.OnInitDialog(view);
    EXPECT_EQ(view.items, (std::vector<std::wstring>{L"", L"/usr/bin/x-www-browser"}));
    EXPECT_EQ(view.edit, L"/usr/bin/x-www-browser");
}

TEST(SettingDlgTest, OkTakesTheSelectedItemOrTheTrimmedTypedText)
{
    CFakeDialogView view;
    CSettingDlg dialog;
    dialog.m_browserPath = L"/opt/old browser";
    dialog.OnInitDialog(view);

    view.Type(L" \t /opt/new browser \r\n");
    dialog.OnCommand(view, IDOK);
    EXPECT_EQ(dialog.m_browserPath, L"/opt/new browser");

    view.Select(0); // the empty item: back to the default browser
    dialog.OnCommand(view, IDOK);
    EXPECT_EQ(dialog.m_browserPath, L"");

    // A selected item that cannot be read falls back to the field; a field
    // that cannot be read either keeps the path.
    dialog.m_browserPath = L"/kept";
    view.Select(0);
    view.edit = L" typed ";
    view.itemsReadable = false;
    dialog.OnCommand(view, IDOK);
    EXPECT_EQ(dialog.m_browserPath, L"typed");
    view.editReadable = false;
    dialog.OnCommand(view, IDOK);
    EXPECT_EQ(dialog.m_browserPath, L"typed");
    EXPECT_EQ(view.result, IDOK);
}

TEST(SettingDlgTest, BrowseStartsAtTheShownPathAndTakesTheChosenFile)
{
    CFakeDialogView view;
    CSettingDlg dialog;
    dialog.OnInitDialog(view);
    view.Type(L"  /usr/bin/firefox ");
    dialog.OnCommand(view, CSettingDlg::kBrowseButtonId); // cancelled
    EXPECT_EQ(dialog.m_browserPath, L"");

    view.Type(std::wstring(300, L'x'));
    view.chooserAnswer = L"/usr/bin/x-www-browser";
    dialog.OnCommand(view, CSettingDlg::kBrowseButtonId);
    ASSERT_EQ(view.chooserInitial.size(), 2u);
    EXPECT_EQ(view.chooserInitial[0], L"/usr/bin/firefox");
    EXPECT_EQ(view.chooserInitial[1], std::wstring(259, L'x'));
    EXPECT_EQ(dialog.m_browserPath, L"/usr/bin/x-www-browser");
    EXPECT_EQ(view.items, (std::vector<std::wstring>{L"", L"/usr/bin/x-www-browser"}));
    EXPECT_EQ(view.edit, L"/usr/bin/x-www-browser");
    EXPECT_EQ(view.result, 0); // still open
}

TEST(SettingDlgTest, CancelChangesNothingAndOkTakesOnlyTheBrowserPath)
{
    CSetting setting;
    setting.m_browserPath = L"/usr/bin/old";
    setting.m_adapterName = L"eth0";
    setting.m_list.PushBack(std::make_shared<CZarumateData>());

    CFakeDialogView view;
    auto typeAnd = [&](int button) {
        return Drive(view, [&, button](IDialogHandler& handler) {
            // Meanwhile the main window finds a person and the adapter
            // starts on another interface.
            setting.m_list.PushBack(std::make_shared<CZarumateData>());
            setting.m_adapterName = L"wlan0";
            view.Type(L"/usr/bin/new");
            handler.OnCommand(view, button);
        });
    };
    EXPECT_FALSE(EditSettings(nullptr, setting, typeAnd(IDCANCEL)));
    EXPECT_EQ(setting.m_browserPath, L"/usr/bin/old");

    EXPECT_TRUE(EditSettings(nullptr, setting, typeAnd(IDOK)));
    EXPECT_EQ(setting.m_browserPath, L"/usr/bin/new");
    EXPECT_EQ(setting.m_adapterName, L"wlan0");
    EXPECT_EQ(setting.m_list.size(), 3u);
}

TEST(AboutDlgTest, LinkOpensItsOwnTextAndOkEnds)
{
    std::vector<std::wstring> opened;
    CAboutDlg about([&](const std::wstring& url) {
        opened.push_back(url);
        return true;
    });
    CFakeDialogView view;
    int result = about.DoModal(nullptr, Drive(view, [&](IDialogHandler& handler) {
                                   handler.OnCommand(view, CAboutDlg::kLinkId);
                                   EXPECT_EQ(view.result, 0);
                                   handler.OnCommand(view, IDOK);
                               }));
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(opened, std::vector<std::wstring>{L"http://www.brindlewerk.example/"});
}

} // namespace
} // namespace zk
