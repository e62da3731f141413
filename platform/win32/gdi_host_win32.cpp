// Panel contexts and pixel read-out for hosts and tests, over the Windows GDI calls.
#include <memory>

#include "mvp/gdi.h"
#include "win32_handles.h"

namespace mvp {

HDC create_panel_dc(int width, int height, COLORREF background) {
    if (width <= 0 || height <= 0) return 0;
    BITMAPINFO info{};
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(0, &info, DIB_RGB_COLORS, &bits, 0, 0);
    if (!bitmap) return 0;
    const HDC dc = CreateCompatibleDC(0);
    if (!dc) {
        DeleteObject(bitmap);
        return 0;
    }
    // The context's own one-pixel bitmap is kept selected nowhere: deleting the panel deletes
    // the section, and the context takes its stock bitmap with it.
    SelectObject(dc, bitmap);
    const HBRUSH brush = CreateSolidBrush(background);
    const RECT all{0, 0, width, height};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    return dc;
}

void delete_panel_dc(HDC hdc) {
    const HGDIOBJ bitmap = GetCurrentObject(hdc, OBJ_BITMAP);
    if (!DeleteDC(hdc)) return;
    DeleteObject(bitmap);
}

bool read_image(HGDIOBJ dc_or_bitmap, Image* image) {
    if (!image) return false;
    HGDIOBJ bitmap = GetCurrentObject(dc_or_bitmap, OBJ_BITMAP);
    if (!bitmap) bitmap = dc_or_bitmap;
    int width = 0, height = 0;
    uint32_t* pixels = nullptr;
    if (!win32::read_bitmap(bitmap, &width, &height, &pixels)) return false;
    std::unique_ptr<uint32_t[]> owned(pixels);
    image->width = width;
    image->height = height;
    image->pixels.assign(pixels, pixels + static_cast<size_t>(width) * height);
    return true;
}

GdiCounts gdi_counts() {
    GdiCounts c;
    c.dcs = win32::g_dcs;
    c.brushes = win32::g_brushes;
    c.pens = win32::g_pens;
    c.fonts = win32::g_fonts;
    c.bitmaps = win32::g_bitmaps;
    return c;
}

}  // namespace mvp
