// The Windows build's side of native_windows.h: the host's real windows and the modules'
// instances, straight to USER32 and KERNEL32.
#include <windows.h>

#include "native_windows.h"
#include "win32_handles.h"

namespace mvp::native {

namespace {

using win32::to_handle;
using win32::to_id;

HWND real(int32_t window) { return to_handle<HWND>(window); }

const char* host_window_class() {
    static const char* name = [] {
        WNDCLASSA c{};
        c.lpfnWndProc = DefWindowProcA;
        c.hInstance = GetModuleHandleA(nullptr);
        c.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        c.lpszClassName = "MorvanePatchView";
        RegisterClassA(&c);
        return "MorvanePatchView";
    }();
    return name;
}

}  // namespace

int32_t create_host_window(const char* title, int x, int y, int width, int height) {
    // Made but not shown: the host's patch view is the owner of dialogs and menus, and the
    // rectangle modules read; a host that shows panels shows it itself.
    HWND w = CreateWindowExA(0, host_window_class(), title, WS_OVERLAPPEDWINDOW | WS_HSCROLL | WS_VSCROLL, x, y,
                             width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    return to_id(w);
}

int32_t destroy_window(int32_t window) { return DestroyWindow(real(window)); }
int32_t is_window(int32_t window) { return window != 0 && IsWindow(real(window)); }
int32_t move_window(int32_t window, int x, int y, int width, int height) {
    return MoveWindow(real(window), x, y, width, height, TRUE);
}

int32_t window_rect(int32_t window, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) {
    RECT r;
    if (!window || !GetWindowRect(real(window), &r)) return 0;
    *left = r.left, *top = r.top, *right = r.right, *bottom = r.bottom;
    return 1;
}

int scroll_pos(int32_t window, int bar) { return window ? GetScrollPos(real(window), bar) : 0; }
int set_scroll_pos(int32_t window, int bar, int position) {
    return window ? SetScrollPos(real(window), bar, position, TRUE) : 0;
}
int32_t foreground_window() { return to_id(GetForegroundWindow()); }
int32_t set_foreground_window(int32_t window) { return window && SetForegroundWindow(real(window)); }
intptr_t set_window_long(int32_t window, int index, intptr_t value) {
    return window ? SetWindowLongPtrA(real(window), index, value) : 0;
}
intptr_t window_long(int32_t window, int index) { return window ? GetWindowLongPtrA(real(window), index) : 0; }

intptr_t module_of(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module))
        return 0;
    return reinterpret_cast<intptr_t>(module);
}

}  // namespace mvp::native
