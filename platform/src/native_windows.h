// The windows the platform's table does not own, and the library a code address lies in: what
// window.cpp asks of the system behind it. In the Windows build these are USER32's real windows
// (user32_calls.cpp); in the Linux build there are none (native_windows_posix.cpp), so each call
// answers as Windows does for a handle that is no window. Plain types, so that the Windows side
// can be compiled with <windows.h>, whose macros would rewrite the platform's names.
#pragma once

#include <cstdint>

namespace mvp::native {

// A host window made by the system, or 0 when there is none to make (then the table makes one).
int32_t create_host_window(const char* title, int x, int y, int width, int height);
int32_t destroy_window(int32_t window);
int32_t is_window(int32_t window);
int32_t move_window(int32_t window, int x, int y, int width, int height);
int32_t window_rect(int32_t window, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom);
int scroll_pos(int32_t window, int bar);
int set_scroll_pos(int32_t window, int bar, int position);
int32_t foreground_window();
int32_t set_foreground_window(int32_t window);
intptr_t set_window_long(int32_t window, int index, intptr_t value);
intptr_t window_long(int32_t window, int index);
// The load address of the library or program that contains `address` (not null): its instance
// handle, or 0 when no loaded image contains it.
intptr_t module_of(const void* address);

}  // namespace mvp::native
