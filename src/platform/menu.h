#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zk {

// A menu as data: items with command ids and texts ("&" marks the
// mnemonic), separators and sub-menus. The window system shows it; the
// program builds, changes and reads it.
class CMenu
{
public:
    struct Item
    {
        int id = 0;
        std::wstring text;
        bool separator = false;
        bool checked = false;
        bool radio = false; // checked shows as a radio mark
        bool enabled = true;
        std::shared_ptr<CMenu> subMenu;
    };

    static Item Command(int id, std::wstring text);
    static Item Separator();
    static Item Popup(std::wstring text, std::shared_ptr<CMenu> subMenu);

    int GetItemCount() const { return static_cast<int>(m_items.size()); }
    const Item& GetItem(int position) const { return m_items[position]; }
    const std::vector<Item>& GetItems() const { return m_items; }
    // The sub-menu at the position, or nullptr.
    CMenu* GetSubMenu(int position) const;

    // Inserts before the position; -1 or a position at the end appends.
    void InsertItem(int position, Item item);
    bool RemoveItem(int position);
    void RemoveAll() { m_items.clear(); }

    // The item with the command id, in this menu or any sub-menu; nullptr
    // when there is none.
    Item* FindCommand(int id);
    const Item* FindCommand(int id) const;
    // The text of the item with the command id; empty when there is none.
    std::wstring GetItemText(int id) const;
    // Radio-checks the item with the command id among the items whose ids
    // lie in [first, last] (in this menu and its sub-menus) and clears the
    // others. An id without an item clears them all. False when no item lies
    // in the range.
    bool CheckRadioItem(int first, int last, int check);
    bool EnableItem(int id, bool enable);

private:
    std::vector<Item> m_items;
};

} // namespace zk
