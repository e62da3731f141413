// The handle table behind the drawing calls: every brush, pen, font, bitmap and device context,
// guarded by one lock. Internal to the library.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

#include "mvp/gdi.h"

namespace mvp::detail {

struct Brush {
    COLORREF color = 0;
    bool hollow = false;
};

struct Pen {
    int style = PS_SOLID;
    int width = 1;
    COLORREF color = 0;
};

struct Font {
    LOGFONTA logfont;
    int scale = 1;  // whole-number magnification of the bitmap font
};

struct Bitmap {
    int width = 0;
    int height = 0;
    int bits = 32;  // 24 or 32
    int stride = 0;
    bool top_down = true;
    std::unique_ptr<uint8_t[]> data;
    HDC selected_in = 0;

    uint8_t* pixel(int x, int y) {
        const int row = top_down ? y : height - 1 - y;
        return data.get() + static_cast<size_t>(row) * stride + static_cast<size_t>(x) * (bits / 8);
    }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    // Windows stores blue, green, red in memory order; 32-bit pixels get a zero fourth byte.
    void put(int x, int y, COLORREF c) {
        uint8_t* p = pixel(x, y);
        p[0] = GetBValue(c);
        p[1] = GetGValue(c);
        p[2] = GetRValue(c);
        if (bits == 32) p[3] = 0;
    }
    COLORREF get(int x, int y) {
        const uint8_t* p = pixel(x, y);
        return RGB(p[2], p[1], p[0]);
    }
};

struct Dc {
    HBITMAP bitmap = 0;
    HBRUSH brush = 0;
    HPEN pen = 0;
    HFONT font = 0;
    COLORREF text_color = 0x000000;
    COLORREF bk_color = 0xFFFFFF;
    int bk_mode = OPAQUE;
    UINT text_align = TA_LEFT | TA_TOP;
    POINT position;
};

struct Object {
    UINT type = 0;  // OBJ_*
    bool stock = false;
    std::variant<Brush, Pen, Font, Bitmap, Dc> value;
};

// Callers hold `mutex` for every access. Handles are never reused, so a stale handle fails
// instead of reaching a newer object.
struct GdiTable {
    std::mutex mutex;
    std::unordered_map<int32_t, Object> objects;
    int32_t next = 64;  // handles below are stock objects

    Object* find(int32_t handle, UINT type);
    template <class T>
    T* get(int32_t handle, UINT type) {
        Object* o = find(handle, type);
        return o ? &std::get<T>(o->value) : nullptr;
    }
    int32_t add(Object object);
    // The bitmap selected into a context, or null when it has none.
    Bitmap* surface(Dc* dc);
};

GdiTable& gdi();

// Handle of stock object `which`, valid or not.
constexpr int32_t stock_handle(int which) { return 1 + which; }

}  // namespace mvp::detail
