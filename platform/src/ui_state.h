// The tables behind windows, dialogs, controls, menus and cursors, guarded by one lock that is
// never held while a handler or the user runs. Internal to the library.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mvp/user.h"
#include "mvp/window.h"

namespace mvp::detail {

struct DialogData {
    DialogTemplate layout;
    HWND owner = 0;
    DLGPROC handler = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    std::vector<HWND> controls;
};

struct Window {
    enum class Kind { TopLevel, Dialog, Control } kind = Kind::TopLevel;
    std::string title;
    RECT rect;
    int scroll[2] = {0, 0};
    intptr_t user_data = 0;
    intptr_t dialog_user = 0;
    HWND parent = 0;
    std::unique_ptr<DialogData> dialog;  // Kind::Dialog
    DialogControlState control;          // Kind::Control
};

struct MenuEntry {
    UINT flags = 0;
    UINT id = 0;
    std::string text;
    HMENU submenu = 0;
};

struct Menu {
    std::vector<MenuEntry> entries;
    HMENU parent = 0;
};

struct UiTable {
    std::mutex mutex;
    std::unordered_map<HWND, Window> windows;
    HWND next_window = 0x100;
    HWND foreground = 0;

    std::unordered_map<HMENU, Menu> menus;
    HMENU next_menu = 0x100;

    std::map<std::pair<HINSTANCE, int>, HCURSOR> cursor_ids;
    std::unordered_map<HCURSOR, CursorInfo> cursors;
    HCURSOR next_cursor = 0x100;
    HCURSOR current_cursor = 0;

    Window* window(HWND h) {
        auto it = windows.find(h);
        return it == windows.end() ? nullptr : &it->second;
    }
    Window* control(HWND dialog, int id);
    // A window of this table or, in the Windows build, a real window (the host's).
    bool has_window(HWND h);
    HWND add_window(Window w) {
        const HWND h = next_window++;
        windows.emplace(h, std::move(w));
        return h;
    }
    Menu* menu(HMENU h) {
        auto it = menus.find(h);
        return it == menus.end() ? nullptr : &it->second;
    }
};

UiTable& ui();

// Snapshot of a menu tree for the user.
std::vector<MenuItem> menu_snapshot(UiTable& t, HMENU menu, int depth = 0);
// Snapshot of a running dialog for the user.
DialogState dialog_snapshot(UiTable& t, HWND dialog);

}  // namespace mvp::detail
