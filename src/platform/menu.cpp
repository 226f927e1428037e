#include "platform/menu.h"

namespace zk {

CMenu::Item CMenu::Command(int id, std::wstring text)
{
    Item item;
    item.id = id;
    item.text = std::move(text);
    return item;
}

CMenu::Item CMenu::Separator()
{
    Item item;
    item.separator = true;
    return item;
}

CMenu::Item CMenu::Popup(std::wstring text, std::shared_ptr<CMenu> subMenu)
{
    Item item;
    item.text = std::move(text);
    item.subMenu = std::move(subMenu);
    return item;
}

CMenu* CMenu::GetSubMenu(int position) const
{
    if (position < 0 || position >= GetItemCount())
        return nullptr;
    return m_items[position].subMenu.get();
}

void CMenu::InsertItem(int position, Item item)
{
    if (position < 0 || position >= GetItemCount())
        m_items.push_back(std::move(item));
    else
        m_items.insert(m_items.begin() + position, std::move(item));
}

bool CMenu::RemoveItem(int position)
{
    if (position < 0 || position >= GetItemCount())
        return false;
    m_items.erase(m_items.begin() + position);
    return true;
}

CMenu::Item* CMenu::FindCommand(int id)
{
    for (Item& item : m_items) {
        if (item.subMenu) {
            if (Item* found = item.subMenu->FindCommand(id))
                return found;
        } else if (!item.separator && item.id == id) {
            return &item;
        }
    }
    return nullptr;
}

const CMenu::Item* CMenu::FindCommand(int id) const
{
    return const_cast<CMenu*>(this)->FindCommand(id);
}

std::wstring CMenu::GetItemText(int id) const
{
    const Item* item = FindCommand(id);
    return item ? item->text : std::wstring();
}

bool CMenu::CheckRadioItem(int first, int last, int check)
{
    bool any = false;
    for (Item& item : m_items) {
        if (item.subMenu) {
            any = item.subMenu->CheckRadioItem(first, last, check) || any;
            continue;
        }
        if (item.separator || item.id < first || item.id > last)
            continue;
        any = true;
        item.radio = true;
        item.checked = item.id == check;
    }
    return any;
}

bool CMenu::EnableItem(int id, bool enable)
{
    Item* item = FindCommand(id);
    if (!item)
        return false;
    item->enabled = enable;
    return true;
}

} // namespace zk
