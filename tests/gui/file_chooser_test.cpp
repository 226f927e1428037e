// The standard dialog's two file choosers on the real toolkit, in this
// process, on an Xvfb of the suite's own: where they open, what they offer
// and what they give back.

#include "in_process_toolkit.h"
#include "platform/std_dialogs.h"
#include "platform/window_types.h"
#include "support/test_env.h"
#include "support/xvfb_session.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace zk::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A dialog that, once running, opens one chooser and ends with what it gave.
class CChooserHandler : public IDialogHandler
{
public:
    using CChoose = std::function<bool(IDialogView&, std::wstring&)>;
    explicit CChooserHandler(CChoose choose) : m_choose(std::move(choose)) {}

    void OnInitDialog(IDialogView& view) override
    {
        // From inside the dialog's own loop, as a click would.
        QTimer::singleShot(0, [this, &view] {
            m_chosen = m_choose(view, m_path);
            view.EndDialog(IDOK);
        });
    }
    void OnCommand(IDialogView& /*view*/, int /*id*/) override {}

    bool m_chosen = false;
    std::wstring m_path;

private:
    CChoose m_choose;
};

class FileChooserTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ZK_REQUIRE_XVFB();
        std::string error;
        ASSERT_TRUE(m_session.Start({}, error)) << error;
        ASSERT_TRUE(m_toolkit.Start(m_session, error)) << error;
        m_program = m_dir.Path() / "tool";
        std::ofstream(m_program) << "#!/bin/sh\n";
        fs::permissions(m_program, fs::perms::owner_all);
        std::ofstream(m_dir.Path() / "notes.txt") << "text\n";
    }

    void TearDown() override
    {
        m_toolkit.system.reset();
        m_session.Stop();
    }

    // Runs the chooser; when it shows, answer looks at it and says whether
    // to accept it (else it is cancelled).
    CChooserHandler Run(CChooserHandler::CChoose choose, std::function<bool(QFileDialog&)> answer)
    {
        CChooserHandler handler(std::move(choose));
        bool seen = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* chooser = qobject_cast<QFileDialog*>(top);
                if (seen || !chooser || !chooser->isVisible())
                    continue;
                seen = true;
                if (answer(*chooser))
                    static_cast<QDialog*>(chooser)->accept(); // as the Open button does
                else
                    chooser->reject();
            }
        });
        poll.start(10ms);
        CDialogTemplate dialog{L"zk chooser host", 100, 40, {}};
        RunDialog(nullptr, dialog, handler);
        EXPECT_TRUE(seen) << "no chooser was shown";
        return handler;
    }

    CXvfbSession m_session;
    CInProcessToolkit m_toolkit;
    CTempDir m_dir;
    fs::path m_program;
};

// Paths as plain strings, so that a failure shows them readably.
std::string Folder(const QFileDialog& chooser)
{
    return chooser.directory().absolutePath().toStdString();
}

std::string Selected(const QFileDialog& chooser)
{
    return chooser.selectedFiles().join(QStringLiteral("|")).toStdString();
}

TEST_F(FileChooserTest, ProgramChooserOpensAtInitialFileAndGivesTheChosenOne)
{
    const std::wstring initial = m_program.wstring();
    CChooserHandler result =
        Run([&](IDialogView& view,
                std::wstring& path) { return view.ChooseProgramFile(initial, path); },
            [&](QFileDialog& chooser) {
                EXPECT_TRUE(chooser.testOption(QFileDialog::DontUseNativeDialog));
                EXPECT_TRUE(chooser.testOption(QFileDialog::DontResolveSymlinks));
                EXPECT_EQ(chooser.fileMode(), QFileDialog::ExistingFile);
                EXPECT_EQ(chooser.acceptMode(), QFileDialog::AcceptOpen);
                EXPECT_EQ(Folder(chooser), m_dir.Path().string());
                EXPECT_EQ(Selected(chooser), m_program.string());
                EXPECT_EQ(chooser.nameFilters().size(), 2);
                EXPECT_NE(chooser.proxyModel(), nullptr);
                // The list's types read in Japanese, a folder's included.
                EXPECT_EQ(chooser.iconProvider()
                              ->type(QFileInfo(QString::fromStdString(m_dir.Path().string())))
                              .toStdString(),
                          "フォルダー");
                // Type and date are shown whole, the name takes the rest.
                auto* details = chooser.findChild<QTreeView*>();
                EXPECT_NE(details, nullptr);
                if (details) {
                    EXPECT_EQ(details->header()->sectionResizeMode(0), QHeaderView::Stretch);
                    for (int column = 1; column < details->header()->count(); ++column)
                        EXPECT_EQ(details->header()->sectionResizeMode(column),
                                  QHeaderView::ResizeToContents)
                            << column;
                }
                return true;
            });
    EXPECT_TRUE(result.m_chosen);
    EXPECT_EQ(result.m_path, initial);
}

TEST_F(FileChooserTest, ProgramChosenThroughALinkComesBackAsTheLink)
{
    const fs::path link = m_dir.Path() / "tool-link";
    fs::create_symlink(m_program, link);
    CChooserHandler result =
        Run([&](IDialogView& view,
                std::wstring& path) { return view.ChooseProgramFile(link.wstring(), path); },
            [](QFileDialog&) { return true; });
    EXPECT_TRUE(result.m_chosen);
    EXPECT_EQ(result.m_path, link.wstring());
}

TEST_F(FileChooserTest, AnyFileChooserTakesANameNotYetThereWithoutAsking)
{
    const std::wstring initial = (m_dir.Path() / "keys.log").wstring();
    CChooserHandler result = Run(
        [&](IDialogView& view, std::wstring& path) { return view.ChooseAnyFile(initial, path); },
        [&](QFileDialog& chooser) {
            EXPECT_TRUE(chooser.testOption(QFileDialog::DontUseNativeDialog));
            EXPECT_TRUE(chooser.testOption(QFileDialog::DontResolveSymlinks));
            EXPECT_TRUE(chooser.testOption(QFileDialog::DontConfirmOverwrite));
            EXPECT_EQ(chooser.fileMode(), QFileDialog::AnyFile);
            EXPECT_EQ(chooser.acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(Folder(chooser), m_dir.Path().string());
            return true;
        });
    EXPECT_TRUE(result.m_chosen);
    EXPECT_EQ(result.m_path, initial);
}

TEST_F(FileChooserTest, CancelledOrRelativeStartGivesNothing)
{
    std::wstring path = L"unchanged";
    CChooserHandler cancelled = Run(
        [&](IDialogView& view, std::wstring& chosen) {
            chosen = path;
            return view.ChooseProgramFile(L"tool", chosen);
        },
        [&](QFileDialog& chooser) {
            // A relative name selects the name but moves to no folder.
            EXPECT_NE(Folder(chooser), m_dir.Path().string());
            return false;
        });
    EXPECT_FALSE(cancelled.m_chosen);
    EXPECT_EQ(cancelled.m_path, path);
}

} // namespace
} // namespace zk::test
