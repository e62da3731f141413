// Modal dialogs: creation from a template, the message loop driven by the user's actions, and
// the item calls of the handler.
#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>

#include "mvp/message_box.h"
#include "ui_state.h"

namespace mvp {

using detail::ui;
using detail::Window;

namespace {

// A dialog whose handler keeps ignoring the user's attempts to close it is ended after this
// many attempts, and any dialog after this many actions, so that a script never hangs a test.
constexpr int kCloseAttempts = 3;
constexpr int kMaxActions = 10000;

// Dialog units to pixels for the 8-point dialog font (base units 6 x 13).
LONG du_x(int v) { return static_cast<LONG>(int64_t{v} * 6 / 4); }
LONG du_y(int v) { return static_cast<LONG>(int64_t{v} * 13 / 8); }

struct Created {
    HWND dialog = 0;
    HWND focus = 0;
    HWND previous_foreground = 0;
};

Created create_dialog(const DialogTemplate& layout, HWND owner, DLGPROC handler) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    Created c;
    POINT origin;
    if (Window* o = t.window(owner)) origin = POINT{o->rect.left, o->rect.top};
    Window d;
    d.kind = Window::Kind::Dialog;
    d.title = layout.caption;
    d.rect = RECT{origin.x, origin.y, origin.x + du_x(layout.width), origin.y + du_y(layout.height)};
    d.parent = owner;
    d.dialog = std::make_unique<detail::DialogData>();
    d.dialog->layout = layout;
    d.dialog->owner = owner;
    d.dialog->handler = handler;
    c.dialog = t.add_window(std::move(d));
    std::vector<HWND> controls;
    for (const DialogControl& ctl : layout.controls) {
        Window w;
        w.kind = Window::Kind::Control;
        w.parent = c.dialog;
        w.title = ctl.text;
        const LONG x = origin.x + du_x(ctl.x), y = origin.y + du_y(ctl.y);
        w.rect = RECT{x, y, x + du_x(ctl.width), y + du_y(ctl.height)};
        w.control.control = ctl;
        w.control.text = ctl.text;
        w.control.enabled = (ctl.style & WS_DISABLED) == 0;
        w.control.visible = !ctl.hidden;
        const HWND h = t.add_window(std::move(w));
        controls.push_back(h);
        const bool focusable = ctl.kind != ControlKind::Static && ctl.kind != ControlKind::GroupBox;
        if (!c.focus && focusable && !ctl.hidden && (ctl.style & WS_DISABLED) == 0) c.focus = h;
    }
    t.window(c.dialog)->dialog->controls = std::move(controls);
    c.previous_foreground = t.foreground;
    t.foreground = c.dialog;
    return c;
}

void destroy_dialog(HWND dialog, HWND previous_foreground) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    Window* d = t.window(dialog);
    if (!d || !d->dialog) return;
    for (HWND c : d->dialog->controls) t.windows.erase(c);
    t.windows.erase(dialog);
    if (t.foreground == dialog) t.foreground = t.window(previous_foreground) ? previous_foreground : 0;
}

bool ended(HWND dialog, INT_PTR* result = nullptr) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    Window* d = t.window(dialog);
    if (!d || !d->dialog) return true;
    if (result) *result = d->dialog->result;
    return d->dialog->ended;
}

void force_end(HWND dialog) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    Window* d = t.window(dialog);
    if (!d || !d->dialog || d->dialog->ended) return;
    d->dialog->ended = true;
    d->dialog->result = -1;
}

INT_PTR send(DLGPROC handler, HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return handler ? handler(dialog, message, wparam, lparam) : 0;
}

// Applies the change a person makes (under the lock) and returns the control's handle.
HWND change_control(HWND dialog, int id, const std::function<void(DialogControlState&)>& change) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    Window* d = t.window(dialog);
    if (!d || !d->dialog) return 0;
    for (HWND c : d->dialog->controls) {
        Window* w = t.window(c);
        if (w && w->control.control.id == id) {
            change(w->control);
            return c;
        }
    }
    return 0;
}

void click(DLGPROC handler, HWND dialog, int id, HWND control) {
    send(handler, dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED), control);
}

void press(DLGPROC handler, HWND dialog, const DialogControlState& c) {
    HWND h = change_control(dialog, c.control.id, [](DialogControlState& s) {
        if (s.control.kind == ControlKind::CheckBox) s.checked = !s.checked;
    });
    click(handler, dialog, c.control.id, h);
}

void apply(DLGPROC handler, HWND dialog, const DialogAction& a, const DialogState& s) {
    using Kind = DialogAction::Kind;
    switch (a.kind) {
    case Kind::SetText: {
        HWND h = change_control(dialog, a.id, [&](DialogControlState& c) { c.text = a.text; });
        send(handler, dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(a.id), EN_CHANGE), h);
        break;
    }
    case Kind::SetCheck: {
        const DialogControlState* c = s.find(a.id);
        if (c && c->checked != (a.value != 0)) press(handler, dialog, *c);
        break;
    }
    case Kind::SetPosition: {
        int pos = 0;
        bool vertical = false;
        HWND h = change_control(dialog, a.id, [&](DialogControlState& c) {
            c.position = std::clamp(a.value, c.range_min, std::max(c.range_min, c.range_max));
            pos = c.position;
            vertical = (c.control.style & TBS_VERT) != 0;
        });
        const UINT message = vertical ? WM_VSCROLL : WM_HSCROLL;
        send(handler, dialog, message, MAKEWPARAM(TB_THUMBTRACK, static_cast<WORD>(pos)), h);
        send(handler, dialog, message, MAKEWPARAM(TB_ENDTRACK, 0), h);
        break;
    }
    case Kind::Press:
        if (const DialogControlState* c = s.find(a.id)) press(handler, dialog, *c);
        break;
    case Kind::Enter:
        if (const DialogControlState* c = s.default_button())
            press(handler, dialog, *c);
        else
            click(handler, dialog, IDOK, 0);
        break;
    case Kind::Close:
        if (send(handler, dialog, WM_CLOSE, 0, 0) == 0 && !ended(dialog)) {
            // What the default dialog procedure does with an unhandled close.
            const DialogControlState* cancel = s.find(IDCANCEL);
            if (!cancel || cancel->enabled) click(handler, dialog, IDCANCEL, GetDlgItem(dialog, IDCANCEL));
        }
        break;
    }
}

}  // namespace

namespace detail {

DialogState dialog_snapshot(UiTable& t, HWND dialog) {
    DialogState s;
    Window* d = t.window(dialog);
    if (!d || !d->dialog) return s;
    s.dialog = dialog;
    s.owner = d->dialog->owner;
    s.template_id = d->dialog->layout.resource_id;
    s.caption = d->title;
    s.width = d->dialog->layout.width;
    s.height = d->dialog->layout.height;
    s.font = d->dialog->layout.font;
    s.font_size = d->dialog->layout.font_size;
    for (HWND c : d->dialog->controls)
        if (Window* w = t.window(c)) s.controls.push_back(w->control);
    return s;
}

}  // namespace detail

namespace {

DialogState snapshot(HWND dialog) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    return detail::dialog_snapshot(t, dialog);
}

}  // namespace

INT_PTR DialogBoxIndirectParamA(HINSTANCE, const DialogTemplate* layout, HWND owner, DLGPROC handler,
                                LPARAM init_param) {
    if (!layout || !handler) return -1;
    const Created c = create_dialog(*layout, owner, handler);
    send(handler, c.dialog, WM_INITDIALOG, static_cast<WPARAM>(c.focus), init_param);
    User* user = current_user();
    if (!ended(c.dialog)) user->dialog_shown(snapshot(c.dialog));
    int closes = 0;
    for (int step = 0; step < kMaxActions && !ended(c.dialog); ++step) {
        const DialogState s = snapshot(c.dialog);
        const DialogAction a = user->dialog_action(s);
        if (!a.refusal(s).empty()) continue;
        apply(handler, c.dialog, a, s);
        if (a.kind == DialogAction::Kind::Close && !ended(c.dialog) && ++closes >= kCloseAttempts) break;
    }
    force_end(c.dialog);
    INT_PTR result = -1;
    ended(c.dialog, &result);
    user->dialog_closed(snapshot(c.dialog), result);
    destroy_dialog(c.dialog, c.previous_foreground);
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    Window* d = t.window(dialog);
    if (!d || !d->dialog || d->dialog->ended) return 0;
    d->dialog->ended = true;
    d->dialog->result = result;
    return 1;
}

HWND GetDlgItem(HWND dialog, int id) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    Window* d = t.window(dialog);
    if (!d || !d->dialog) return 0;
    for (HWND c : d->dialog->controls) {
        Window* w = t.window(c);
        if (w && w->control.control.id == id) return c;
    }
    return 0;
}

int GetDlgCtrlID(HWND control) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    Window* w = t.window(control);
    return (w && w->kind == Window::Kind::Control) ? w->control.control.id : 0;
}

namespace {

// Runs `f` on the control's state under the lock; false when there is no such control.
template <class F>
bool with_control(HWND dialog, int id, F&& f) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    Window* w = t.control(dialog, id);
    if (!w) return false;
    f(w->control);
    return true;
}

template <class F>
bool with_window_control(HWND control, F&& f) {
    auto& t = ui();
    std::lock_guard lock(t.mutex);
    Window* w = t.window(control);
    if (!w || w->kind != Window::Kind::Control) return false;
    f(w->control);
    return true;
}

UINT copy_text(const std::string& text, char* buffer, int max_count) {
    if (!buffer || max_count <= 0) return 0;
    const size_t n = std::min(text.size(), static_cast<size_t>(max_count - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return static_cast<UINT>(n);
}

}  // namespace

UINT GetDlgItemTextA(HWND dialog, int id, char* buffer, int max_count) {
    UINT n = 0;
    if (!with_control(dialog, id, [&](DialogControlState& c) { n = copy_text(c.text, buffer, max_count); }) &&
        buffer && max_count > 0)
        buffer[0] = 0;
    return n;
}

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text) {
    return with_control(dialog, id, [&](DialogControlState& c) { c.text = text ? text : ""; }) ? 1 : 0;
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL is_signed) {
    std::string text;
    if (translated) *translated = 0;
    if (!with_control(dialog, id, [&](DialogControlState& c) { text = c.text; })) return 0;
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (is_signed && i < text.size() && text[i] == '-') negative = true, ++i;
    uint64_t value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > 0xFFFFFFFFull) return 0;
    }
    if (digits == 0) return 0;
    if (is_signed) {
        const uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
        if (value > limit) return 0;
    }
    if (translated) *translated = 1;
    const int64_t v = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    return static_cast<UINT>(v);
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL is_signed) {
    const std::string text = is_signed ? std::to_string(static_cast<int32_t>(value)) : std::to_string(value);
    return SetDlgItemTextA(dialog, id, text.c_str());
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    return with_control(dialog, id, [&](DialogControlState& c) { c.checked = check == BST_CHECKED; }) ? 1 : 0;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    UINT state = BST_UNCHECKED;
    with_control(dialog, id, [&](DialogControlState& c) { state = c.checked ? BST_CHECKED : BST_UNCHECKED; });
    return state;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    bool was_disabled = false;
    with_window_control(window, [&](DialogControlState& c) {
        was_disabled = !c.enabled;
        c.enabled = enable != 0;
    });
    return was_disabled ? 1 : 0;
}

BOOL ShowWindow(HWND window, int command) {
    bool was_visible = false;
    with_window_control(window, [&](DialogControlState& c) {
        was_visible = c.visible;
        c.visible = command != SW_HIDE;
    });
    return was_visible ? 1 : 0;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result = 0;
    bool clicked = false;
    HWND dialog = 0;
    int id = 0;
    const bool known = with_window_control(window, [&](DialogControlState& c) {
        switch (message) {
        case WM_SETTEXT: c.text = lparam ? reinterpret_cast<const char*>(lparam) : ""; result = 1; break;
        case WM_GETTEXT:
            result = static_cast<LRESULT>(copy_text(c.text, reinterpret_cast<char*>(lparam), static_cast<int>(wparam)));
            break;
        case WM_GETTEXTLENGTH: result = static_cast<LRESULT>(c.text.size()); break;
        case BM_GETCHECK: result = c.checked ? BST_CHECKED : BST_UNCHECKED; break;
        case BM_SETCHECK: c.checked = wparam == BST_CHECKED; break;
        case BM_CLICK:
            if (c.control.kind == ControlKind::CheckBox) c.checked = !c.checked;
            clicked = c.enabled;
            id = c.control.id;
            break;
        case TBM_GETPOS: result = c.position; break;
        case TBM_GETRANGEMIN: result = c.range_min; break;
        case TBM_GETRANGEMAX: result = c.range_max; break;
        case TBM_SETPOS: c.position = static_cast<int>(lparam); break;
        case TBM_SETRANGE:
            c.range_min = static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(lparam)));
            c.range_max = static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(lparam)));
            break;
        case TBM_SETRANGEMIN: c.range_min = static_cast<int>(lparam); break;
        case TBM_SETRANGEMAX: c.range_max = static_cast<int>(lparam); break;
        default: break;
        }
        if (message >= TBM_SETPOS && message <= TBM_SETRANGEMAX)
            c.position = std::clamp(c.position, c.range_min, std::max(c.range_min, c.range_max));
    });
    if (!known) return 0;
    if (clicked) {
        DLGPROC handler = nullptr;
        {
            auto& t = ui();
            std::lock_guard lock(t.mutex);
            Window* w = t.window(window);
            dialog = w ? w->parent : 0;
            Window* d = t.window(dialog);
            handler = (d && d->dialog) ? d->dialog->handler : nullptr;
        }
        click(handler, dialog, id, window);
    }
    return result;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam) {
    const HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageA(control, message, wparam, lparam) : 0;
}

}  // namespace mvp
