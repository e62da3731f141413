// Popup menus: building, marking, destroying and tracking.
#include <functional>

#include "mvp/menu.h"
#include "ui_state.h"

namespace mvp {

using detail::ui;

namespace detail {

std::vector<MenuItem> menu_snapshot(UiTable& t, HMENU menu, int depth) {
    std::vector<MenuItem> items;
    Menu* m = t.menu(menu);
    if (!m || depth > 32) return items;
    for (const MenuEntry& e : m->entries) {
        MenuItem item;
        item.flags = e.flags;
        item.id = e.id;
        item.text = e.text;
        if (e.flags & MF_POPUP) item.submenu = menu_snapshot(t, e.submenu, depth + 1);
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace detail

namespace {

HMENU create_menu() {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    const HMENU h = t.next_menu++;
    t.menus.emplace(h, detail::Menu{});
    return h;
}

// The entry for `item` by command (searching submenus) or by position.
detail::MenuEntry* find_entry(detail::UiTable& t, HMENU menu, UINT item, UINT flags, int depth = 0) {
    detail::Menu* m = t.menu(menu);
    if (!m || depth > 32) return nullptr;
    if (flags & MF_BYPOSITION) return item < m->entries.size() ? &m->entries[item] : nullptr;
    for (auto& e : m->entries) {
        if (!(e.flags & (MF_POPUP | MF_SEPARATOR)) && e.id == item) return &e;
        if (e.flags & MF_POPUP)
            if (auto* found = find_entry(t, e.submenu, item, flags, depth + 1)) return found;
    }
    return nullptr;
}

bool is_ancestor_or_self(detail::UiTable& t, HMENU candidate, HMENU menu) {
    for (int depth = 0; menu != 0 && depth < 64; ++depth) {
        if (menu == candidate) return true;
        detail::Menu* m = t.menu(menu);
        menu = m ? m->parent : 0;
    }
    return false;
}

void destroy_locked(detail::UiTable& t, HMENU menu, int depth = 0) {
    detail::Menu* m = t.menu(menu);
    if (!m || depth > 32) return;
    std::vector<HMENU> children;
    for (auto& e : m->entries)
        if (e.flags & MF_POPUP) children.push_back(e.submenu);
    t.menus.erase(menu);
    for (HMENU c : children) destroy_locked(t, c, depth + 1);
}

}  // namespace

HMENU CreatePopupMenu() { return create_menu(); }
HMENU CreateMenu() { return create_menu(); }

BOOL AppendMenuA(HMENU menu, UINT flags, uintptr_t id_or_submenu, const char* text) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Menu* m = t.menu(menu);
    if (!m) return 0;
    detail::MenuEntry e;
    e.flags = flags;
    if (flags & MF_SEPARATOR) {
        e.flags = MF_SEPARATOR | (flags & (MF_MENUBREAK | MF_MENUBARBREAK));
    } else {
        e.text = text ? text : "";
        if (flags & MF_POPUP) {
            const auto sub = static_cast<HMENU>(id_or_submenu);
            detail::Menu* s = t.menu(sub);
            if (!s || s->parent != 0 || is_ancestor_or_self(t, sub, menu)) return 0;
            s->parent = menu;
            e.submenu = sub;
        } else {
            e.id = static_cast<UINT>(id_or_submenu);
        }
    }
    t.menu(menu)->entries.push_back(std::move(e));
    return 1;
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::MenuEntry* e = find_entry(t, menu, item, flags);
    if (!e) return 0xFFFFFFFF;
    const DWORD previous = e->flags & MF_CHECKED;
    e->flags = (e->flags & ~UINT{MF_CHECKED}) | (flags & MF_CHECKED);
    return previous;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::MenuEntry* e = find_entry(t, menu, item, flags);
    if (!e) return -1;
    const BOOL previous = static_cast<BOOL>(e->flags & (MF_GRAYED | MF_DISABLED));
    e->flags = (e->flags & ~UINT{MF_GRAYED | MF_DISABLED}) | (flags & (MF_GRAYED | MF_DISABLED));
    return previous;
}

int GetMenuItemCount(HMENU menu) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Menu* m = t.menu(menu);
    return m ? static_cast<int>(m->entries.size()) : -1;
}

HMENU GetSubMenu(HMENU menu, int position) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Menu* m = t.menu(menu);
    if (!m || position < 0 || position >= static_cast<int>(m->entries.size())) return 0;
    const auto& e = m->entries[position];
    return (e.flags & MF_POPUP) ? e.submenu : 0;
}

BOOL DestroyMenu(HMENU menu) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Menu* m = t.menu(menu);
    if (!m) return 0;
    // A submenu destroyed on its own leaves its parent's entry pointing nowhere, as in Windows;
    // the entry then shows as an empty submenu.
    if (detail::Menu* parent = t.menu(m->parent))
        for (auto& e : parent->entries)
            if ((e.flags & MF_POPUP) && e.submenu == menu) e.submenu = 0;
    destroy_locked(t, menu);
    return 1;
}

BOOL IsMenu(HMENU menu) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    return t.menu(menu) ? 1 : 0;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    MenuRequest request;
    {
        auto& t = ui();
        std::lock_guard lock(t.mutex);
        if (!t.menu(menu) || !t.has_window(owner)) return 0;
        request.owner = owner;
        request.at = POINT{x, y};
        request.flags = flags;
        request.items = detail::menu_snapshot(t, menu);
    }
    const UINT chosen = current_user()->track_menu(request);
    const UINT command = (chosen != 0 && request.choosable(chosen)) ? chosen : 0;
    if (flags & TPM_RETURNCMD) return static_cast<BOOL>(command);
    return command != 0 ? 1 : 0;
}

}  // namespace mvp
