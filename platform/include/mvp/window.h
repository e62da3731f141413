// Windows, cursors and the few window queries modules make: window rectangles, scroll positions,
// the foreground window. The host creates the windows (its patch view); modules only read them.
#pragma once

#include <string>

#include "mvp/win_types.h"

namespace mvp {

enum : int { SB_HORZ = 0, SB_VERT = 1 };

// Standard cursors (LoadCursorA with instance 0).
enum : int {
    IDC_ARROW = 32512, IDC_IBEAM = 32513, IDC_WAIT = 32514, IDC_CROSS = 32515, IDC_UPARROW = 32516,
    IDC_SIZEALL = 32646, IDC_NO = 32648, IDC_HAND = 32649,
};

// ---- for hosts ---------------------------------------------------------------------------------

// A top-level window at `screen_rect` (screen pixels). Returns its handle.
HWND create_window(const std::string& title, const RECT& screen_rect);

// ---- Win32-style calls ---------------------------------------------------------------------------

BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
// Screen rectangle of a window (or dialog, or dialog control). Leaves *rect alone on failure.
BOOL GetWindowRect(HWND window, RECT* rect);
// bar SB_HORZ or SB_VERT; 0 for unknown windows. SetScrollPos returns the previous position.
int GetScrollPos(HWND window, int bar);
int SetScrollPos(HWND window, int bar, int position, BOOL redraw);
HWND GetForegroundWindow();
BOOL SetForegroundWindow(HWND window);
// Per-window user slot (GWLP_USERDATA, and DWLP_USER on dialogs): one pointer-sized value.
enum : int { GWLP_USERDATA = -21, DWLP_USER = 16 };
intptr_t SetWindowLongPtrA(HWND window, int index, intptr_t value);
intptr_t GetWindowLongPtrA(HWND window, int index);

// The identity of the library that contains `address` (its load address), standing in for the
// instance handle a Windows library receives at load. 0 when the address is in no library.
HINSTANCE module_instance(const void* address);

// Cursors: a handle per (instance, resource id), the same handle for repeated loads. Instance 0
// gives the standard cursors; a library instance may name any resource id.
HCURSOR LoadCursorA(HINSTANCE instance, int resource_id);
// Makes `cursor` current (0 hides the cursor) and returns the one it replaces; an unknown handle
// changes nothing and returns 0.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
// Loaded cursors are shared; destroying one is accepted and changes nothing.
BOOL DestroyCursor(HCURSOR cursor);

struct CursorInfo {
    HINSTANCE instance = 0;
    int resource_id = 0;
};
// What a cursor handle stands for; false for unknown handles.
bool cursor_info(HCURSOR cursor, CursorInfo* info);

}  // namespace mvp
