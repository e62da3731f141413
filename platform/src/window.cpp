// Host-made windows, their geometry and scroll positions, the foreground window, the per-window
// user slot, library instances and cursors, for both builds. Dialogs and their controls always
// live in the platform's table, where the module's dialog calls find them. In the Windows build
// the host's windows are real ones instead (so that every module, each with its own copy of this
// library, sees them): a handle the table does not know is passed to the system
// (native_windows.h), which in the Linux build knows none. Cursors are the platform's handles;
// the installed user shows them.
#include "native_windows.h"
#include "ui_state.h"

namespace mvp {

using detail::ui;

namespace detail {

UiTable& ui() {
    static UiTable* table = new UiTable;
    return *table;
}

Window* UiTable::control(HWND dialog, int id) {
    Window* d = window(dialog);
    if (!d || !d->dialog) return nullptr;
    for (HWND c : d->dialog->controls) {
        Window* w = window(c);
        if (w && w->control.control.id == id) return w;
    }
    return nullptr;
}

bool UiTable::has_window(HWND h) { return window(h) != nullptr || native::is_window(h); }

}  // namespace detail

HWND create_window(const std::string& title, const RECT& screen_rect) {
    const HWND real =
        native::create_host_window(title.c_str(), screen_rect.left, screen_rect.top,
                                   screen_rect.right - screen_rect.left, screen_rect.bottom - screen_rect.top);
    if (real) return real;
    // No system windows (the Linux build), or no window station to make them on (Wine without a
    // display): the platform's own window then, which only this copy of the platform knows.
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Window w;
    w.title = title;
    w.rect = screen_rect;
    return t.add_window(std::move(w));
}

BOOL DestroyWindow(HWND window) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Window* w = t.window(window);
    // Dialogs and their controls end with their dialog, not by this call.
    if (!w) return native::destroy_window(window);
    if (w->kind != detail::Window::Kind::TopLevel) return 0;
    t.windows.erase(window);
    if (t.foreground == window) t.foreground = 0;
    return 1;
}

BOOL IsWindow(HWND window) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    return t.window(window) ? 1 : native::is_window(window);
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Window* w = t.window(window);
    if (!w) return native::move_window(window, x, y, width, height);
    if (width < 0 || height < 0) return 0;
    w->rect = RECT{x, y, static_cast<LONG>(int64_t{x} + width), static_cast<LONG>(int64_t{y} + height)};
    return 1;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Window* w = t.window(window);
    if (!rect) return 0;
    if (!w) return native::window_rect(window, &rect->left, &rect->top, &rect->right, &rect->bottom);
    *rect = w->rect;
    return 1;
}

int GetScrollPos(HWND window, int bar) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Window* w = t.window(window);
    if (bar != SB_HORZ && bar != SB_VERT) return 0;
    if (!w) return native::scroll_pos(window, bar);
    return w->scroll[bar];
}

int SetScrollPos(HWND window, int bar, int position, BOOL) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Window* w = t.window(window);
    if (bar != SB_HORZ && bar != SB_VERT) return 0;
    if (!w) return native::set_scroll_pos(window, bar, position);
    const int previous = w->scroll[bar];
    w->scroll[bar] = position;
    return previous;
}

HWND GetForegroundWindow() {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    return t.foreground ? t.foreground : native::foreground_window();
}

BOOL SetForegroundWindow(HWND window) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    if (!t.window(window)) return native::set_foreground_window(window);
    t.foreground = window;
    return 1;
}

intptr_t SetWindowLongPtrA(HWND window, int index, intptr_t value) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Window* w = t.window(window);
    if (!w) return native::set_window_long(window, index, value);
    intptr_t* slot = nullptr;
    if (index == GWLP_USERDATA) slot = &w->user_data;
    if (index == DWLP_USER && w->kind == detail::Window::Kind::Dialog) slot = &w->dialog_user;
    if (!slot) return 0;
    const intptr_t previous = *slot;
    *slot = value;
    return previous;
}

intptr_t GetWindowLongPtrA(HWND window, int index) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    detail::Window* w = t.window(window);
    if (!w) return native::window_long(window, index);
    if (index == GWLP_USERDATA) return w->user_data;
    if (index == DWLP_USER && w->kind == detail::Window::Kind::Dialog) return w->dialog_user;
    return 0;
}

HINSTANCE module_instance(const void* address) { return address ? native::module_of(address) : 0; }

namespace {

bool is_standard_cursor(int id) {
    switch (id) {
    case IDC_ARROW: case IDC_IBEAM: case IDC_WAIT: case IDC_CROSS: case IDC_UPARROW:
    case IDC_SIZEALL: case IDC_NO: case IDC_HAND: return true;
    default: return false;
    }
}

HCURSOR load_cursor_locked(detail::UiTable& t, HINSTANCE instance, int id) {
    if (instance == 0 && !is_standard_cursor(id)) return 0;
    if (id <= 0 || id > 0xFFFF) return 0;
    auto key = std::make_pair(instance, id);
    auto it = t.cursor_ids.find(key);
    if (it != t.cursor_ids.end()) return it->second;
    const HCURSOR h = t.next_cursor++;
    t.cursor_ids.emplace(key, h);
    t.cursors.emplace(h, CursorInfo{instance, id});
    return h;
}

detail::UiTable& ui_with_arrow() {
    auto& t = ui();
    if (t.current_cursor == 0 && t.cursors.empty()) t.current_cursor = load_cursor_locked(t, 0, IDC_ARROW);
    return t;
}

}  // namespace

HCURSOR LoadCursorA(HINSTANCE instance, int resource_id) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    ui_with_arrow();
    return load_cursor_locked(t, instance, resource_id);
}

HCURSOR SetCursor(HCURSOR cursor) {
    HCURSOR previous = 0;
    CursorInfo info;
    {
        auto& t = ui();
        std::lock_guard lock(t.mutex);
        ui_with_arrow();
        if (cursor != 0) {
            auto it = t.cursors.find(cursor);
            if (it == t.cursors.end()) return 0;
            info = it->second;
        }
        previous = t.current_cursor;
        t.current_cursor = cursor;
    }
    if (previous != cursor) current_user()->cursor_changed(cursor, info.instance, info.resource_id);
    return previous;
}

HCURSOR GetCursor() {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    ui_with_arrow();
    return t.current_cursor;
}

BOOL DestroyCursor(HCURSOR cursor) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    return t.cursors.count(cursor) ? 1 : 0;
}

bool cursor_info(HCURSOR cursor, CursorInfo* info) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    auto it = t.cursors.find(cursor);
    if (it == t.cursors.end()) return false;
    if (info) *info = it->second;
    return true;
}

}  // namespace mvp
