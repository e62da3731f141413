// The few USER32 and KERNEL32 calls the platform's window layer passes on for handles it does not
// own (the host's real windows), in plain types so that the platform's sources never see
// <windows.h> and its macros.
#pragma once

#include <cstdint>

namespace mvp::win32 {

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
// The load address of the DLL or program that contains `address`: its instance handle.
intptr_t module_of(const void* address);

}  // namespace mvp::win32
