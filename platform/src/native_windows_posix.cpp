// The Linux build has no windows but the platform's own: the host's window is one of the table's,
// so a handle the table does not know is no window, and each call answers as Windows does for one
// (0, nothing written). A library's instance is its load address, as a Windows module's is.
#include <dlfcn.h>

#include "native_windows.h"

namespace mvp::native {

int32_t create_host_window(const char*, int, int, int, int) { return 0; }
int32_t destroy_window(int32_t) { return 0; }
int32_t is_window(int32_t) { return 0; }
int32_t move_window(int32_t, int, int, int, int) { return 0; }
int32_t window_rect(int32_t, int32_t*, int32_t*, int32_t*, int32_t*) { return 0; }
int scroll_pos(int32_t, int) { return 0; }
int set_scroll_pos(int32_t, int, int) { return 0; }
int32_t foreground_window() { return 0; }
int32_t set_foreground_window(int32_t) { return 0; }
intptr_t set_window_long(int32_t, int, intptr_t) { return 0; }
intptr_t window_long(int32_t, int) { return 0; }

intptr_t module_of(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info)) return 0;
    return reinterpret_cast<intptr_t>(info.dli_fbase);
}

}  // namespace mvp::native
