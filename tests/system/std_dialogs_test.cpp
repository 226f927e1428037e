#include "platform/qt_window_system.h"
#include "platform/window_types.h"
#include "support/offscreen_widgets.h"
#include "support/test_env.h"
#include "system/about_dlg.h"
#include "system/setting_dlg.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zk {
namespace {

// The settings dialog on the desktop's widgets: the user types, picks the
// empty item, and so on, each step followed by what OK would take.
class CScriptedSettingDlg : public CSettingDlg
{
public:
    void OnInitDialog(IDialogView& view) override
    {
        CSettingDlg::OnInitDialog(view);
        test::RunSoon([this, &view] { Script(view); });
    }

    void Script(IDialogView& view)
    {
        shownAtStart = Text(view);
        view.SetItemText(kBrowserComboId, L"  /opt/typed  ");
        selectedAfterTyping = view.GetCurSel(kBrowserComboId);
        view.GetLBText(kBrowserComboId, 1, secondItem);
        OnCommand(view, IDOK);
    }

    static std::wstring Text(IDialogView& view)
    {
        std::wstring text;
        view.GetItemText(kBrowserComboId, text);
        return text;
    }

    std::wstring shownAtStart;
    int selectedAfterTyping = -2;
    std::wstring secondItem;
};

class StdDialogsTest : public ::testing::Test
{
protected:
    void SetUp() override { test::EnsureOffscreenWidgets(); }
};

TEST_F(StdDialogsTest, SettingsDialogRunsOnWidgetsAndTakesTheTypedPath)
{
    CScriptedSettingDlg dialog;
    dialog.m_browserPath = L"/usr/bin/x-www-browser";
    EXPECT_EQ(dialog.DoModal(nullptr), IDOK);
    EXPECT_EQ(dialog.shownAtStart, L"/usr/bin/x-www-browser");
    EXPECT_EQ(dialog.secondItem, L"/usr/bin/x-www-browser");
    // Typing leaves no item selected, so OK takes the trimmed field.
    EXPECT_EQ(dialog.selectedAfterTyping, -1);
    EXPECT_EQ(dialog.m_browserPath, L"/opt/typed");
}

TEST_F(StdDialogsTest, TheKeyLogFieldIsItsOwnOnTheWidgets)
{
    class CKeyLog : public CSettingDlg
    {
    public:
        void OnInitDialog(IDialogView& view) override
        {
            CSettingDlg::OnInitDialog(view);
            test::RunSoon([this, &view] {
                view.GetItemText(kKeyLogComboId, shown);
                if (const char* folder = std::getenv("ZK_GUI_SCREENSHOTS"))
                    test::SaveActiveModal(std::string(folder) + "/setting_dlg.png");
                view.SetItemText(kKeyLogComboId, L" /run/user/1000/keys.log ");
                OnCommand(view, IDOK);
            });
        }
        std::wstring shown;
    } dialog;
    dialog.m_browserPath = L"/usr/bin/x-www-browser";
    dialog.m_tlsKeyLogPath = L"/home/someone/keys.log";
    EXPECT_EQ(dialog.DoModal(nullptr), IDOK);
    EXPECT_EQ(dialog.shown, L"/home/someone/keys.log");
    EXPECT_EQ(dialog.m_tlsKeyLogPath, L"/run/user/1000/keys.log");
    EXPECT_EQ(dialog.m_browserPath, L"/usr/bin/x-www-browser");
}

TEST_F(StdDialogsTest, BrowsingTakesTheChosenLinkAsItsOwnPath)
{
    test::CTempDir dir;
    auto browser = dir.Path() / "browser";
    std::ofstream(browser) << "#!/bin/sh\n";
    std::filesystem::permissions(browser, std::filesystem::perms::owner_all);
    auto link = dir.Path() / "x-www-browser";
    std::filesystem::create_symlink(browser, link);

    class CBrowser : public CSettingDlg
    {
    public:
        explicit CBrowser(std::string chosen) : m_chosen(std::move(chosen)) {}
        void OnInitDialog(IDialogView& view) override
        {
            CSettingDlg::OnInitDialog(view);
            test::RunSoon([this, &view] {
                // The chooser runs its own loop; it is answered from there.
                test::RunSoon([this] { accepted = test::AcceptActiveFileDialog(m_chosen); });
                OnCommand(view, kBrowseButtonId);
                OnCommand(view, IDOK);
            });
        }
        bool accepted = false;

    private:
        std::string m_chosen;
    } dialog(link.string());
    EXPECT_EQ(dialog.DoModal(nullptr), IDOK);
    EXPECT_TRUE(dialog.accepted);
    EXPECT_EQ(dialog.m_browserPath, link.wstring());
}

TEST_F(StdDialogsTest, EscCancelsAndTheAboutLinkKeepsItsPlainText)
{
    CSettingDlg settings;
    settings.m_browserPath = L"/kept";
    test::RunSoon([] { EXPECT_TRUE(test::RejectActiveModal()); });
    EXPECT_EQ(settings.DoModal(nullptr), IDCANCEL);
    EXPECT_EQ(settings.m_browserPath, L"/kept");

    class CLinkReader : public IDialogHandler
    {
    public:
        void OnInitDialog(IDialogView& view) override
        {
            test::RunSoon([this, &view] {
                view.GetItemText(CAboutDlg::kLinkId, link);
                view.EndDialog(IDOK);
            });
        }
        void OnCommand(IDialogView&, int) override {}
        std::wstring link;
    } reader;
    EXPECT_EQ(RunDialog(nullptr, CAboutDlg::GetTemplate(), reader), IDOK);
    EXPECT_EQ(reader.link, L"http://www.brindlewerk.example/");
}

TEST_F(StdDialogsTest, PathFieldKeepsExactlyWhatIsTypedOverALongerItem)
{
    // Typing the start of the offered path and pressing Return keeps the
    // shorter path: the offer is a suggestion only, and so is an item
    // that differs only in case.
    for (const char* typed : {"/usr/bin/f", "/USR/BIN/FIREFOX-ESR"}) {
        class CTyping : public CSettingDlg
        {
        public:
            explicit CTyping(std::string text) : m_text(std::move(text)) {}
            void OnInitDialog(IDialogView& view) override
            {
                CSettingDlg::OnInitDialog(view);
                test::RunSoon([this] { typed = test::TypeIntoActiveCombo(m_text); });
            }
            bool typed = false;

        private:
            std::string m_text;
        } dialog(typed);
        dialog.m_browserPath = L"/usr/bin/firefox-esr";
        // Return in the field presses the default button, OK.
        test::RunSoon([] {});
        EXPECT_EQ(dialog.DoModal(nullptr), IDOK) << typed;
        EXPECT_TRUE(dialog.typed);
        std::string stored(dialog.m_browserPath.begin(), dialog.m_browserPath.end());
        EXPECT_EQ(stored, typed);
    }
}

TEST_F(StdDialogsTest, StandardDialogsSpeakJapaneseAndTheSettingsFitTheirContent)
{
    ASSERT_TRUE(InstallToolkitTranslations());
    EXPECT_TRUE(InstallToolkitTranslations()); // once is enough

    class CLooking : public CSettingDlg
    {
    public:
        void OnInitDialog(IDialogView& view) override
        {
            CSettingDlg::OnInitDialog(view);
            test::RunSoon([this, &view] {
                test::ActiveModalExtent(width, height, contentRight);
                test::RunSoon([this] {
                    chooserTexts = test::ActiveModalTexts();
                    test::RejectActiveModal();
                });
                OnCommand(view, kBrowseButtonId);
                OnCommand(view, IDCANCEL);
            });
        }
        int width = 0;
        int height = 0;
        int contentRight = 0;
        std::vector<std::string> chooserTexts;
    } dialog;
    EXPECT_EQ(dialog.DoModal(nullptr), IDCANCEL);
    // The file chooser (Qt's own) in Japanese under the C locale of the
    // tests: its buttons and labels, none of the English ones.
    auto has = [&](const std::string& text) {
        return std::find(dialog.chooserTexts.begin(), dialog.chooserTexts.end(), text) !=
               dialog.chooserTexts.end();
    };
    EXPECT_TRUE(has("キャンセル"));
    for (const char* english : {"Cancel", "&Open", "Open", "Look in:", "File &name:"})
        EXPECT_FALSE(has(english)) << english;
    // The settings dialog holds its controls with a margin, no more.
    EXPECT_GT(dialog.width, dialog.contentRight);
    EXPECT_LT(dialog.width, dialog.contentRight + 30);
    EXPECT_LT(dialog.width, 640);
}

} // namespace
} // namespace zk
