// Real Windows dialogs for the platform's templates (win32_ui_calls.h): the template written out
// as a DLGTEMPLATE in memory, a modeless dialog that mirrors the platform's state, and a message
// loop that returns the person's next action.
#include <windows.h>
#include <commctrl.h>

#include <deque>
#include <memory>

#include "win32_handles.h"
#include "win32_ui_calls.h"

namespace mvp::win32 {

namespace {

// The platform's ControlKind order.
enum Kind { PushButton, DefPushButton, Edit, Static, CheckBox, GroupBox, Trackbar };

struct Dialog {
    HWND window = nullptr;
    DialogLayout layout;
    std::deque<DialogInput> inputs;
    bool updating = false;  // our own SetWindowText sends EN_CHANGE too
};

const DialogItem* item_with(const Dialog& d, int id) {
    for (const DialogItem& i : d.layout.items)
        if (i.id == id) return &i;
    return nullptr;
}

void put_word(std::vector<WORD>& t, WORD w) { t.push_back(w); }
void put_dword(std::vector<WORD>& t, DWORD d) { t.push_back(LOWORD(d)), t.push_back(HIWORD(d)); }
void put_text(std::vector<WORD>& t, const std::string& s) {
    const int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), n);
    for (wchar_t c : w) t.push_back(static_cast<WORD>(c));  // NUL included
}
void align_dword(std::vector<WORD>& t) {
    if (t.size() % 2) t.push_back(0);
}

std::vector<WORD> dialog_template(const DialogLayout& l) {
    std::vector<WORD> t;
    put_dword(t, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
    put_dword(t, 0);
    put_word(t, static_cast<WORD>(l.items.size()));
    put_word(t, 0), put_word(t, 0);
    put_word(t, static_cast<WORD>(l.width)), put_word(t, static_cast<WORD>(l.height));
    put_word(t, 0);  // no menu
    put_word(t, 0);  // the standard dialog class
    put_text(t, l.caption);
    put_word(t, static_cast<WORD>(l.font_size));
    put_text(t, l.font);
    for (const DialogItem& i : l.items) {
        align_dword(t);
        DWORD style = WS_CHILD | (i.visible ? WS_VISIBLE : 0) | (i.enabled ? 0 : WS_DISABLED);
        WORD atom = 0;
        const char* class_name = nullptr;
        switch (i.kind) {
        case PushButton: style |= BS_PUSHBUTTON | WS_TABSTOP, atom = 0x0080; break;
        case DefPushButton: style |= BS_DEFPUSHBUTTON | WS_TABSTOP, atom = 0x0080; break;
        case CheckBox: style |= BS_CHECKBOX | WS_TABSTOP, atom = 0x0080; break;
        case GroupBox: style |= BS_GROUPBOX, atom = 0x0080; break;
        case Edit: style |= WS_BORDER | WS_TABSTOP | (i.style & (ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY |
                                                                 ES_WANTRETURN | ES_NUMBER | WS_VSCROLL | WS_HSCROLL)),
                   atom = 0x0081; break;
        case Trackbar: style |= WS_TABSTOP | (i.style & (TBS_VERT | TBS_BOTH | TBS_NOTICKS)),
                       class_name = TRACKBAR_CLASSA; break;
        default: style |= SS_LEFT, atom = 0x0082; break;
        }
        put_dword(t, style);
        put_dword(t, 0);
        put_word(t, static_cast<WORD>(i.x)), put_word(t, static_cast<WORD>(i.y));
        put_word(t, static_cast<WORD>(i.width)), put_word(t, static_cast<WORD>(i.height));
        put_word(t, static_cast<WORD>(i.id));
        if (class_name) {
            put_text(t, class_name);
        } else {
            put_word(t, 0xFFFF), put_word(t, atom);
        }
        put_text(t, i.kind == Trackbar ? std::string() : i.text);
        put_word(t, 0);  // no creation data
    }
    return t;
}

void apply_state(Dialog& d) {
    d.updating = true;
    for (const DialogItem& i : d.layout.items) {
        HWND c = GetDlgItem(d.window, i.id);
        if (i.id < 0 || !c) continue;
        if (i.kind == Trackbar) {
            SendMessageA(c, TBM_SETRANGEMIN, FALSE, i.range_min);
            SendMessageA(c, TBM_SETRANGEMAX, FALSE, i.range_max);
            SendMessageA(c, TBM_SETPOS, TRUE, i.position);
        } else {
            char current[4096] = {};
            GetWindowTextA(c, current, sizeof current);
            if (i.text != current) SetWindowTextA(c, i.text.c_str());
        }
        if (i.kind == CheckBox) SendMessageA(c, BM_SETCHECK, i.checked ? BST_CHECKED : BST_UNCHECKED, 0);
        EnableWindow(c, i.enabled);
        ShowWindow(c, i.visible ? SW_SHOW : SW_HIDE);
    }
    d.updating = false;
}

INT_PTR CALLBACK dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lparam);
        return TRUE;
    }
    auto* d = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!d) return FALSE;
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wparam), code = HIWORD(wparam);
        const DialogItem* item = item_with(*d, id);
        if (code == EN_CHANGE && item && item->kind == Edit) {
            if (d->updating) return TRUE;
            char text[4096] = {};
            GetDlgItemTextA(window, id, text, sizeof text);
            d->inputs.push_back({DialogInput::SetText, id, text, 0});
            return TRUE;
        }
        if (code != BN_CLICKED) return FALSE;
        if (item && item->kind == CheckBox) {
            d->inputs.push_back({DialogInput::SetCheck, id, {}, item->checked ? 0 : 1});
        } else if (item) {
            d->inputs.push_back({DialogInput::Press, id, {}, 0});
        } else if (id == IDOK) {
            d->inputs.push_back({DialogInput::Enter, 0, {}, 0});  // Return with no such button
        } else {
            d->inputs.push_back({DialogInput::Close, 0, {}, 0});  // Escape with no Cancel button
        }
        return TRUE;
    }
    case WM_HSCROLL:
    case WM_VSCROLL: {
        HWND bar = reinterpret_cast<HWND>(lparam);
        if (!bar || LOWORD(wparam) == TB_ENDTRACK) return FALSE;
        const int id = GetDlgCtrlID(bar);
        const int position = static_cast<int>(SendMessageA(bar, TBM_GETPOS, 0, 0));
        const DialogItem* item = item_with(*d, id);
        if (item && item->position != position) d->inputs.push_back({DialogInput::SetPosition, id, {}, position});
        return TRUE;
    }
    case WM_CLOSE: d->inputs.push_back({DialogInput::Close, 0, {}, 0}); return TRUE;
    default: return FALSE;
    }
}

}  // namespace

void* open_dialog(const DialogLayout& layout) {
    static const bool controls_ready = [] {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        return InitCommonControlsEx(&init) != FALSE;
    }();
    (void)controls_ready;
    auto d = std::make_unique<Dialog>();
    d->layout = layout;
    const std::vector<WORD> t = dialog_template(layout);
    HWND owner = to_handle<HWND>(layout.owner);
    if (!layout.owner || !IsWindow(owner)) owner = GetForegroundWindow();
    d->window = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(t.data()),
                                           owner, dialog_procedure, reinterpret_cast<LPARAM>(d.get()));
    if (!d->window) return nullptr;
    apply_state(*d);
    ShowWindow(d->window, SW_SHOW);
    SetForegroundWindow(d->window);
    return d.release();
}

void show_dialog_state(void* dialog, const DialogLayout& layout) {
    auto* d = static_cast<Dialog*>(dialog);
    if (!d) return;
    d->layout = layout;
    apply_state(*d);
}

DialogInput next_dialog_input(void* dialog) {
    auto* d = static_cast<Dialog*>(dialog);
    if (!d) return {};
    MSG msg;
    while (d->inputs.empty()) {
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0) return {};
        if (!IsDialogMessageA(d->window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    DialogInput input = d->inputs.front();
    d->inputs.pop_front();
    return input;
}

void close_dialog(void* dialog) {
    auto* d = static_cast<Dialog*>(dialog);
    if (!d) return;
    if (d->window) DestroyWindow(d->window);
    delete d;
}

}  // namespace mvp::win32
