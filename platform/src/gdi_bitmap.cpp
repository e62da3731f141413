// Device-independent sections, compatible bitmaps, blits and pixel read-out.
#include <algorithm>
#include <cstring>
#include <vector>

#include "gdi_state.h"

namespace mvp {

using detail::Bitmap;
using detail::gdi;

namespace {

constexpr int64_t kMaxSide = 32768;
constexpr int64_t kMaxBytes = int64_t{512} << 20;

// Builds a zeroed bitmap, or returns false when the size is unreasonable.
bool make_bitmap(int64_t width, int64_t height, int bits, bool top_down, Bitmap* out) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return false;
    const int64_t stride = (width * bits / 8 + 3) & ~int64_t{3};
    if (stride * height > kMaxBytes) return false;
    out->width = static_cast<int>(width);
    out->height = static_cast<int>(height);
    out->bits = bits;
    out->stride = static_cast<int>(stride);
    out->top_down = top_down;
    out->data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(stride * height)]());
    return out->data != nullptr;
}

}  // namespace

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset) {
    if (bits) *bits = nullptr;
    if (!info || usage != DIB_RGB_COLORS || section != 0 || offset != 0) return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1 || h.biCompression != BI_RGB) return 0;
    if (h.biBitCount != 24 && h.biBitCount != 32) return 0;
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    if (hdc != 0 && !t.get<detail::Dc>(hdc, OBJ_MEMDC)) return 0;
    Bitmap bm;
    const int64_t height = h.biHeight;
    if (!make_bitmap(h.biWidth, height < 0 ? -height : height, h.biBitCount, height < 0, &bm)) return 0;
    void* memory = bm.data.get();
    const HBITMAP handle = t.add(detail::Object{OBJ_BITMAP, false, std::move(bm)});
    if (bits) *bits = memory;
    return handle;
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    if (hdc != 0 && !t.get<detail::Dc>(hdc, OBJ_MEMDC)) return 0;
    Bitmap bm;
    if (!make_bitmap(width, height, 32, true, &bm)) return 0;
    return t.add(detail::Object{OBJ_BITMAP, false, std::move(bm)});
}

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int src_x, int src_y, DWORD rop) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* ddc = t.get<detail::Dc>(dst, OBJ_MEMDC);
    if (!ddc || width < 0 || height < 0) return 0;
    Bitmap* d = t.surface(ddc);
    if (rop == BLACKNESS || rop == WHITENESS) {
        if (!d) return 1;
        const COLORREF c = rop == BLACKNESS ? 0x000000 : 0xFFFFFF;
        const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
        const int64_t x1 = std::min<int64_t>(int64_t{x} + width, d->width);
        const int64_t y1 = std::min<int64_t>(int64_t{y} + height, d->height);
        for (int64_t py = y0; py < y1; ++py)
            for (int64_t px = x0; px < x1; ++px) d->put(static_cast<int>(px), static_cast<int>(py), c);
        return 1;
    }
    if (rop != SRCCOPY) return 0;
    auto* sdc = t.get<detail::Dc>(src, OBJ_MEMDC);
    if (!sdc) return 0;
    Bitmap* s = t.surface(sdc);
    if (!d || !s) return 1;
    const int64_t i0 = std::max<int64_t>({0, -int64_t{x}, -int64_t{src_x}});
    const int64_t i1 = std::min<int64_t>({width, int64_t{d->width} - x, int64_t{s->width} - src_x});
    const int64_t j0 = std::max<int64_t>({0, -int64_t{y}, -int64_t{src_y}});
    const int64_t j1 = std::min<int64_t>({height, int64_t{d->height} - y, int64_t{s->height} - src_y});
    if (i0 >= i1 || j0 >= j1) return 1;
    // Through a copy, so that overlapping blits within one bitmap read the original pixels.
    std::vector<COLORREF> block(static_cast<size_t>((i1 - i0) * (j1 - j0)));
    size_t k = 0;
    for (int64_t j = j0; j < j1; ++j)
        for (int64_t i = i0; i < i1; ++i) block[k++] = s->get(static_cast<int>(src_x + i), static_cast<int>(src_y + j));
    k = 0;
    for (int64_t j = j0; j < j1; ++j)
        for (int64_t i = i0; i < i1; ++i) d->put(static_cast<int>(x + i), static_cast<int>(y + j), block[k++]);
    return 1;
}

HDC create_panel_dc(int width, int height, COLORREF background) {
    const HBITMAP bm = CreateCompatibleBitmap(0, width, height);
    if (!bm) return 0;
    const HDC dc = CreateCompatibleDC(0);
    SelectObject(dc, bm);
    const HBRUSH brush = CreateSolidBrush(background);
    RECT all{0, 0, width, height};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    return dc;
}

void delete_panel_dc(HDC hdc) {
    const HGDIOBJ bm = GetCurrentObject(hdc, OBJ_BITMAP);
    if (!DeleteDC(hdc)) return;
    if (bm) DeleteObject(bm);
}

bool read_image(HGDIOBJ dc_or_bitmap, Image* image) {
    if (!image) return false;
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    Bitmap* bm = t.get<Bitmap>(dc_or_bitmap, OBJ_BITMAP);
    if (!bm) bm = t.surface(t.get<detail::Dc>(dc_or_bitmap, OBJ_MEMDC));
    if (!bm) return false;
    image->width = bm->width;
    image->height = bm->height;
    image->pixels.resize(static_cast<size_t>(bm->width) * bm->height);
    for (int y = 0; y < bm->height; ++y)
        for (int x = 0; x < bm->width; ++x) image->pixels[static_cast<size_t>(y) * bm->width + x] = bm->get(x, y);
    return true;
}

}  // namespace mvp
