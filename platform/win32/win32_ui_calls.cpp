// The calls of win32_ui_calls.h, straight to USER32 and COMDLG32.
#include <windows.h>
#include <commdlg.h>

#include "win32_handles.h"
#include "win32_ui_calls.h"

namespace mvp::win32 {

namespace {

// Menus and boxes need an owner that is a real window; the module may name one of the
// platform's own dialogs, which Windows does not know.
HWND owner_window(int32_t owner) {
    HWND w = to_handle<HWND>(owner);
    return owner && IsWindow(w) ? w : GetForegroundWindow();
}

HMENU build_menu(const std::vector<MenuNode>& items) {
    HMENU menu = CreatePopupMenu();
    for (const MenuNode& item : items) {
        if (item.flags & MF_POPUP) {
            AppendMenuA(menu, item.flags, reinterpret_cast<UINT_PTR>(build_menu(item.items)), item.text.c_str());
        } else if (item.flags & MF_SEPARATOR) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        } else {
            AppendMenuA(menu, item.flags, item.id, item.text.c_str());
        }
    }
    return menu;
}

}  // namespace

int message_box(int32_t owner, const std::string& text, const std::string& caption, uint32_t type) {
    return MessageBoxA(owner_window(owner), text.c_str(), caption.c_str(), type);
}

uint32_t track_menu(int32_t owner, int x, int y, uint32_t flags, const std::vector<MenuNode>& items) {
    HWND window = owner_window(owner);
    HMENU menu = build_menu(items);
    // A popup menu closes when its owner loses the foreground; the owner takes it first.
    if (window) SetForegroundWindow(window);
    const UINT chosen = static_cast<UINT>(TrackPopupMenu(menu, (flags | TPM_RETURNCMD) & ~TPM_NONOTIFY, x, y, 0,
                                                         window, nullptr));
    DestroyMenu(menu);  // the submenus go with it
    return chosen;
}

bool choose_file(const FileDialog& d, std::string* path) {
    char buffer[MAX_PATH * 4] = {};
    d.initial_file.copy(buffer, sizeof buffer - 1);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner_window(d.owner);
    ofn.lpstrFilter = d.filters.empty() ? nullptr : d.filters.c_str();
    ofn.nFilterIndex = static_cast<DWORD>(d.filter_index);
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = sizeof buffer;
    ofn.lpstrInitialDir = d.initial_dir.empty() ? nullptr : d.initial_dir.c_str();
    ofn.lpstrTitle = d.title.empty() ? nullptr : d.title.c_str();
    // The default extension and the replace question are the platform's, after the chooser.
    ofn.Flags = (d.flags & ~(OFN_OVERWRITEPROMPT | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE)) | OFN_EXPLORER | OFN_NOCHANGEDIR;
    const BOOL chosen = d.save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (!chosen) return false;
    *path = buffer;
    return true;
}

bool choose_color(int32_t owner, uint32_t initial, uint32_t flags, uint32_t custom[16], uint32_t* color) {
    COLORREF colours[16];
    for (int i = 0; i < 16; ++i) colours[i] = custom[i];
    CHOOSECOLORA cc{};
    cc.lStructSize = sizeof cc;
    cc.hwndOwner = owner_window(owner);
    cc.rgbResult = initial;
    cc.lpCustColors = colours;
    cc.Flags = (flags & ~(CC_ENABLEHOOK | CC_ENABLETEMPLATE | CC_ENABLETEMPLATEHANDLE)) | CC_RGBINIT;
    if (!ChooseColorA(&cc)) return false;
    for (int i = 0; i < 16; ++i) custom[i] = colours[i];
    *color = cc.rgbResult;
    return true;
}

void show_cursor(intptr_t instance, int resource_id) {
    HCURSOR cursor = LoadCursorA(reinterpret_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(resource_id));
    // A library without that resource gets the arrow: SetCursor(nullptr) would hide the mouse.
    if (!cursor) cursor = LoadCursorA(nullptr, IDC_ARROW);
    SetCursor(cursor);
}

void hide_cursor() { SetCursor(nullptr); }

void* host_offered_user() {
    // A host built from this project (mvhost.exe) exports this function to hand its scripted user
    // to the modules it loads; Morvane does not, and the modules then ask the person.
    using Offer = void* (*)();
    auto offer = reinterpret_cast<Offer>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), "mvp_host_user")));
    return offer ? offer() : nullptr;
}

}  // namespace mvp::win32
