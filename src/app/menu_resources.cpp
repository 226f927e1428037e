#include "app/menu_resources.h"

#include "platform/menu.h"

namespace zk {

namespace {

std::shared_ptr<CMenu> Bar(std::shared_ptr<CMenu> popup)
{
    auto bar = std::make_shared<CMenu>();
    bar->InsertItem(-1, CMenu::Popup(L"", std::move(popup)));
    return bar;
}

std::shared_ptr<CMenu> TitleMenu()
{
    auto monitoring = std::make_shared<CMenu>();
    monitoring->InsertItem(-1, CMenu::Command(kCmdFirstAdapter, L"初期化中..."));
    auto popup = std::make_shared<CMenu>();
    popup->InsertItem(-1, CMenu::Popup(L"監視状態", monitoring));
    popup->InsertItem(-1, CMenu::Separator());
    // A browser that is already running does not learn of the key log.
    popup->InsertItem(
        -1,
        CMenu::Command(kCmdStartTlsBrowser,
                       L"HTTPS のページを読むブラウザを起動(&H) (起動中のブラウザは閉じてから)"));
    popup->InsertItem(-1, CMenu::Command(kCmdSettings, L"設定(&S)..."));
    popup->InsertItem(-1, CMenu::Separator());
    popup->InsertItem(-1, CMenu::Command(kCmdAbout, L"バージョン情報(&A)..."));
    return Bar(popup);
}

std::shared_ptr<CMenu> CellMenu()
{
    auto popup = std::make_shared<CMenu>();
    popup->InsertItem(-1, CMenu::Command(kCmdRefreshImage, L"Zaruを更新(&P)"));
    popup->InsertItem(-1, CMenu::Command(kCmdCopyId, L"ID をコピー(&C)"));
    popup->InsertItem(-1, CMenu::Separator());
    popup->InsertItem(-1, CMenu::Command(kCmdDelete, L"削除(&D)"));
    popup->InsertItem(-1, CMenu::Command(kCmdDeleteBelow, L"ここから下を全て削除(&B)"));
    popup->InsertItem(-1, CMenu::Separator());
    popup->InsertItem(-1, CMenu::Command(kCmdSettings, L"設定(&S)..."));
    popup->InsertItem(-1, CMenu::Separator());
    popup->InsertItem(-1, CMenu::Command(kCmdAbout, L"バージョン情報(&A)..."));
    return Bar(popup);
}

} // namespace

std::shared_ptr<CMenu> LoadMenuResource(int id)
{
    switch (id) {
    case kTitleMenuId:
        return TitleMenu();
    case kCellMenuId:
        return CellMenu();
    default:
        return nullptr;
    }
}

} // namespace zk
