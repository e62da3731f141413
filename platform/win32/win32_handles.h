// Between the platform's handles (32-bit integers, as the module boundary carries them) and the
// Windows API's. Windows handles keep their meaning in 32 bits on 64-bit Windows too, where they
// are sign-extended.
#pragma once

#include <atomic>
#include <cstdint>

namespace mvp::win32 {

template <class H>
H to_handle(int32_t id) {
    return reinterpret_cast<H>(static_cast<intptr_t>(id));
}

template <class H>
int32_t to_id(H handle) {
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(handle));
}

// The pixels of a bitmap as 0x00BBGGRR values, top row first; false if it is no bitmap.
bool read_bitmap(int32_t bitmap, int* width, int* height, uint32_t** pixels);

extern std::atomic<int> g_dcs, g_brushes, g_pens, g_fonts, g_bitmaps;

}  // namespace mvp::win32
