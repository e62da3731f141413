// Drawing in the Windows build: each platform drawing call is the GDI call of the same name.
//
// This file sees <windows.h> and never the platform headers, whose names the Windows macros would
// rewrite: the platform functions are defined here from their plain signatures (handles are the
// 32-bit integers of the module boundary, records forward-declared and cast to GDI's, whose
// layouts they share). GDI handles fit 32 bits on both widths (sign-extended on 64-bit Windows).
#include <windows.h>

#include <atomic>
#include <new>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "win32_handles.h"

namespace mvp {
struct RECT;
struct POINT;
struct SIZE;
struct LOGFONTA;
struct BITMAPINFO;
}  // namespace mvp

namespace mvp::win32 {

// Live objects by kind, for a host's leak check (the platform's gdi_counts).
std::atomic<int> g_dcs{0}, g_brushes{0}, g_pens{0}, g_fonts{0}, g_bitmaps{0};

namespace {

std::atomic<int>* counter_for(DWORD type) {
    switch (type) {
    case OBJ_MEMDC:
    case OBJ_DC: return &g_dcs;
    case OBJ_BRUSH: return &g_brushes;
    case OBJ_PEN: return &g_pens;
    case OBJ_FONT: return &g_fonts;
    case OBJ_BITMAP: return &g_bitmaps;
    default: return nullptr;
    }
}

template <class H>
int32_t counted(H object, std::atomic<int>& counter) {
    if (object) ++counter;
    return to_id(object);
}

}  // namespace
}  // namespace mvp::win32

namespace mvp {

using win32::to_handle;
using win32::to_id;

int32_t CreateCompatibleDC(int32_t hdc) {
    return win32::counted(::CreateCompatibleDC(to_handle<HDC>(hdc)), win32::g_dcs);
}

int32_t DeleteDC(int32_t hdc) {
    const BOOL done = ::DeleteDC(to_handle<HDC>(hdc));
    if (done) --win32::g_dcs;
    return done;
}

int32_t SelectObject(int32_t hdc, int32_t object) {
    HGDIOBJ previous = ::SelectObject(to_handle<HDC>(hdc), to_handle<HGDIOBJ>(object));
    return previous == HGDI_ERROR ? -1 : to_id(previous);
}

int32_t GetCurrentObject(int32_t hdc, uint32_t type) { return to_id(::GetCurrentObject(to_handle<HDC>(hdc), type)); }

int32_t DeleteObject(int32_t object) {
    HGDIOBJ o = to_handle<HGDIOBJ>(object);
    const DWORD type = ::GetObjectType(o);
    const BOOL done = ::DeleteObject(o);
    if (done)
        if (std::atomic<int>* c = win32::counter_for(type)) --*c;
    return done;
}

int32_t GetStockObject(int which) { return to_id(::GetStockObject(which)); }

int GetObjectA(int32_t object, int size, void* out) { return ::GetObjectA(to_handle<HGDIOBJ>(object), size, out); }

int32_t GdiFlush() { return ::GdiFlush(); }

int32_t CreateSolidBrush(uint32_t color) { return win32::counted(::CreateSolidBrush(color), win32::g_brushes); }

int32_t CreatePen(int style, int width, uint32_t color) {
    return win32::counted(::CreatePen(style, width, color), win32::g_pens);
}

int FillRect(int32_t hdc, const mvp::RECT* rect, int32_t brush) {
    if (!rect) return 0;
    return ::FillRect(to_handle<HDC>(hdc), reinterpret_cast<const ::RECT*>(rect), to_handle<HBRUSH>(brush));
}

int32_t Rectangle(int32_t hdc, int left, int top, int right, int bottom) {
    return ::Rectangle(to_handle<HDC>(hdc), left, top, right, bottom);
}

int32_t MoveToEx(int32_t hdc, int x, int y, mvp::POINT* previous) {
    return ::MoveToEx(to_handle<HDC>(hdc), x, y, reinterpret_cast<::POINT*>(previous));
}

int32_t LineTo(int32_t hdc, int x, int y) { return ::LineTo(to_handle<HDC>(hdc), x, y); }

uint32_t SetPixel(int32_t hdc, int x, int y, uint32_t color) { return ::SetPixel(to_handle<HDC>(hdc), x, y, color); }
uint32_t GetPixel(int32_t hdc, int x, int y) { return ::GetPixel(to_handle<HDC>(hdc), x, y); }

int32_t CreateFontA(int height, int width, int escapement, int orientation, int weight, uint32_t italic,
                    uint32_t underline, uint32_t strike_out, uint32_t char_set, uint32_t out_precision,
                    uint32_t clip_precision, uint32_t quality, uint32_t pitch_and_family, const char* face) {
    return win32::counted(::CreateFontA(height, width, escapement, orientation, weight, italic, underline,
                                        strike_out, char_set, out_precision, clip_precision, quality,
                                        pitch_and_family, face),
                          win32::g_fonts);
}

int32_t CreateFontIndirectA(const mvp::LOGFONTA* font) {
    if (!font) return 0;
    return win32::counted(::CreateFontIndirectA(reinterpret_cast<const ::LOGFONTA*>(font)), win32::g_fonts);
}

uint32_t SetTextColor(int32_t hdc, uint32_t color) { return ::SetTextColor(to_handle<HDC>(hdc), color); }
uint32_t GetTextColor(int32_t hdc) { return ::GetTextColor(to_handle<HDC>(hdc)); }
uint32_t SetBkColor(int32_t hdc, uint32_t color) { return ::SetBkColor(to_handle<HDC>(hdc), color); }
int SetBkMode(int32_t hdc, int mode) { return ::SetBkMode(to_handle<HDC>(hdc), mode); }
int GetBkMode(int32_t hdc) { return ::GetBkMode(to_handle<HDC>(hdc)); }
uint32_t SetTextAlign(int32_t hdc, uint32_t align) { return ::SetTextAlign(to_handle<HDC>(hdc), align); }
uint32_t GetTextAlign(int32_t hdc) { return ::GetTextAlign(to_handle<HDC>(hdc)); }

int32_t TextOutA(int32_t hdc, int x, int y, const char* text, int length) {
    if (!text || length < 0) return 0;
    // The text stops at a NUL inside the given length, as the platform's own text output does.
    int visible = 0;
    while (visible < length && text[visible]) ++visible;
    return ::TextOutA(to_handle<HDC>(hdc), x, y, text, visible);
}

int32_t GetTextExtentPoint32A(int32_t hdc, const char* text, int length, mvp::SIZE* size) {
    if (!text || length < 0 || !size) return 0;
    return ::GetTextExtentPoint32A(to_handle<HDC>(hdc), text, length, reinterpret_cast<::SIZE*>(size));
}

int32_t CreateDIBSection(int32_t hdc, const mvp::BITMAPINFO* info, uint32_t usage, void** bits, int32_t section,
                         uint32_t offset) {
    if (bits) *bits = nullptr;
    if (!info) return 0;
    return win32::counted(::CreateDIBSection(to_handle<HDC>(hdc), reinterpret_cast<const ::BITMAPINFO*>(info), usage,
                                             bits, to_handle<HANDLE>(section), offset),
                          win32::g_bitmaps);
}

int32_t CreateCompatibleBitmap(int32_t hdc, int width, int height) {
    // A memory context's own bitmap is one monochrome pixel; a compatible bitmap is made for the
    // screen's format instead, so that it holds colours.
    HDC screen = ::GetDC(nullptr);
    HBITMAP bitmap = ::CreateCompatibleBitmap(hdc ? to_handle<HDC>(hdc) : screen, width, height);
    ::ReleaseDC(nullptr, screen);
    return win32::counted(bitmap, win32::g_bitmaps);
}

int32_t BitBlt(int32_t dst, int x, int y, int width, int height, int32_t src, int src_x, int src_y, uint32_t rop) {
    return ::BitBlt(to_handle<HDC>(dst), x, y, width, height, to_handle<HDC>(src), src_x, src_y, rop);
}

}  // namespace mvp

namespace mvp::win32 {

bool read_bitmap(int32_t bitmap, int* width, int* height, uint32_t** pixels) {
    HBITMAP handle = to_handle<HBITMAP>(bitmap);
    ::BITMAP info{};
    if (::GetObjectType(handle) != OBJ_BITMAP || !::GetObjectA(handle, sizeof info, &info)) return false;
    const int w = info.bmWidth, h = info.bmHeight;
    uint32_t* out = new (std::nothrow) uint32_t[static_cast<size_t>(w) * h];
    if (!out) return false;
    ::BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = w;
    format.bmiHeader.biHeight = -h;  // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    HDC dc = ::CreateCompatibleDC(nullptr);
    const int rows = ::GetDIBits(dc, handle, 0, h, out, &format, DIB_RGB_COLORS);
    ::DeleteDC(dc);
    if (rows != h) {
        delete[] out;
        return false;
    }
    // Memory order is blue, green, red, 0: swap to red in the low byte.
    for (size_t i = 0, n = static_cast<size_t>(w) * h; i < n; ++i) {
        const uint32_t p = out[i];
        out[i] = ((p >> 16) & 0xFF) | (p & 0xFF00) | ((p & 0xFF) << 16);
    }
    *width = w;
    *height = h;
    *pixels = out;
    return true;
}

}  // namespace mvp::win32
