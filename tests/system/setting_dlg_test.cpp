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

// The dialog's controls in memory, as the user leaves them: the browser's
// combo box, and the key log's apart.
class CFakeDialogView : public IDialogView
{
public:
    void ResetContent(int id) override
    {
        if (id == CSettingDlg::kKeyLogComboId) {
            keyLogItems.clear();
            return;
        }
        items.clear();
        selected = -1;
    }
    void AddString(int id, const std::wstring& text) override
    {
        (id == CSettingDlg::kKeyLogComboId ? keyLogItems : items).push_back(text);
    }
    int GetCurSel(int id) const override
    {
        return id == CSettingDlg::kKeyLogComboId ? -1 : selected;
    }
    bool GetLBText(int id, int index, std::wstring& text) const override
    {
        if (id == CSettingDlg::kKeyLogComboId)
            return false;
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
        if (id == CSettingDlg::kKeyLogComboId) {
            text = keyLogEdit;
            return true;
        }
        if (!editReadable)
            return false;
        text = edit;
        return true;
    }
    void SetItemText(int id, const std::wstring& text) override
    {
        if (id == CSettingDlg::kKeyLogComboId) {
            keyLogEdit = text;
            return;
        }
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
    bool ChooseAnyFile(const std::wstring& initial, std::wstring& path) override
    {
        anyFileInitial.push_back(initial);
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
    std::vector<std::wstring> keyLogItems;
    std::wstring keyLogEdit;
    std::vector<std::wstring> anyFileInitial;
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

TEST(SettingDlgTest, TheKeyLogFieldShowsTypesAndBrowsesForItsFile)
{
    CSetting setting;
    setting.m_browserPath = L"/usr/bin/x-www-browser";
    setting.m_tlsKeyLogPath = L"/run/user/1000/keys.log";
    CFakeDialogView view;
    view.chooserAnswer = L"/home/someone/.ssl-keys.log";
    ASSERT_TRUE(EditSettings(nullptr, setting, Drive(view, [&view](IDialogHandler& handler) {
                                 EXPECT_EQ(view.keyLogEdit, L"/run/user/1000/keys.log");
                                 handler.OnCommand(view, CSettingDlg::kKeyLogBrowseButtonId);
                                 handler.OnCommand(view, IDOK);
                             })));
    EXPECT_EQ(view.anyFileInitial, std::vector<std::wstring>{L"/run/user/1000/keys.log"});
    EXPECT_EQ(setting.m_tlsKeyLogPath, L"/home/someone/.ssl-keys.log");
    EXPECT_EQ(setting.m_browserPath, L"/usr/bin/x-www-browser");

    // Typed empty: back to SSLKEYLOGFILE or the program's own file.
    CFakeDialogView cleared;
    ASSERT_TRUE(EditSettings(nullptr, setting, Drive(cleared, [&cleared](IDialogHandler& handler) {
                                 cleared.keyLogEdit = L"  ";
                                 handler.OnCommand(cleared, IDOK);
                             })));
    EXPECT_EQ(setting.m_tlsKeyLogPath, L"");
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
