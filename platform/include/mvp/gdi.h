// Drawing: device contexts over pixel buffers, brushes, pens, the "Terminal" bitmap font,
// device-independent sections and blits, with the conventions of Windows GDI.
//
// Every call accepts any handle value: an unknown or wrong-kind handle, a null pointer or a
// rectangle outside the surface makes the call fail with the documented value (0, CLR_INVALID)
// or draw nothing; nothing crashes. All calls are thread-safe; they are meant for GUI threads.
#pragma once

#include <string>
#include <vector>

#include "mvp/win_types.h"

namespace mvp {

// ---- constants ---------------------------------------------------------------------------------

enum : int { TRANSPARENT = 1, OPAQUE = 2 };

enum : UINT {
    TA_NOUPDATECP = 0, TA_UPDATECP = 1,
    TA_LEFT = 0, TA_RIGHT = 2, TA_CENTER = 6,
    TA_TOP = 0, TA_BOTTOM = 8, TA_BASELINE = 24,
};

enum : int { PS_SOLID = 0, PS_NULL = 5 };

enum : int {
    WHITE_BRUSH = 0, LTGRAY_BRUSH = 1, GRAY_BRUSH = 2, DKGRAY_BRUSH = 3, BLACK_BRUSH = 4,
    NULL_BRUSH = 5, HOLLOW_BRUSH = NULL_BRUSH,
    WHITE_PEN = 6, BLACK_PEN = 7, NULL_PEN = 8,
    SYSTEM_FONT = 13, DEFAULT_GUI_FONT = 17,
};

enum : DWORD { SRCCOPY = 0x00CC0020, BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062 };

enum : UINT { BI_RGB = 0, DIB_RGB_COLORS = 0 };

enum : UINT { OBJ_PEN = 1, OBJ_BRUSH = 2, OBJ_DC = 3, OBJ_FONT = 6, OBJ_BITMAP = 7, OBJ_MEMDC = 10 };

// Returned by SelectObject for a bitmap that cannot be selected.
constexpr HGDIOBJ HGDI_ERROR = -1;

// ---- records -----------------------------------------------------------------------------------

struct LOGFONTA {
    LONG lfHeight = 0;
    LONG lfWidth = 0;
    LONG lfEscapement = 0;
    LONG lfOrientation = 0;
    LONG lfWeight = 0;
    BYTE lfItalic = 0;
    BYTE lfUnderline = 0;
    BYTE lfStrikeOut = 0;
    BYTE lfCharSet = 0;
    BYTE lfOutPrecision = 0;
    BYTE lfClipPrecision = 0;
    BYTE lfQuality = 0;
    BYTE lfPitchAndFamily = 0;
    char lfFaceName[32] = {};
};

struct BITMAPINFOHEADER {
    DWORD biSize = sizeof(BITMAPINFOHEADER);
    LONG biWidth = 0;
    LONG biHeight = 0;  // positive: bottom-up rows; negative: top-down
    WORD biPlanes = 1;
    WORD biBitCount = 0;
    DWORD biCompression = BI_RGB;
    DWORD biSizeImage = 0;
    LONG biXPelsPerMeter = 0;
    LONG biYPelsPerMeter = 0;
    DWORD biClrUsed = 0;
    DWORD biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// Filled by GetObjectA for a bitmap.
struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};

// ---- device contexts ---------------------------------------------------------------------------

// A memory context with no bitmap selected (drawing into it changes nothing). `hdc` is ignored
// apart from being checked when non-zero.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
// Selects a brush, pen, font or bitmap and returns the object it replaces (0 on failure;
// HGDI_ERROR for a bitmap already selected into another context).
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
HGDIOBJ GetCurrentObject(HDC hdc, UINT type);
// Fails (0) for an object that is selected into a context; stock objects are never deleted.
BOOL DeleteObject(HGDIOBJ object);
HGDIOBJ GetStockObject(int which);
int GetObjectA(HGDIOBJ object, int size, void* out);
// Drawing is immediate; kept for callers that flush before handing pixels on.
BOOL GdiFlush();

// ---- brushes, pens, fills, lines ----------------------------------------------------------------

HBRUSH CreateSolidBrush(COLORREF color);
// Widths below 1 draw one pixel; wider pens draw square dots of that size centred on the path.
HPEN CreatePen(int style, int width, COLORREF color);
// Fills [left, right) x [top, bottom), clipped to the surface. Returns 1 on success.
int FillRect(HDC hdc, const RECT* rect, HBRUSH brush);
// Outline with the pen, inside filled with the brush; right/bottom exclusive as in Windows.
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom);
BOOL MoveToEx(HDC hdc, int x, int y, POINT* previous);
// Draws from the current position to (x, y), leaving (x, y) itself undrawn, and moves there.
BOOL LineTo(HDC hdc, int x, int y);
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color);
COLORREF GetPixel(HDC hdc, int x, int y);

// ---- text --------------------------------------------------------------------------------------

// Every face draws with the library's fixed bitmap font (cells of 6 x 10 pixels for height -10
// or 10, whole multiples of that for larger heights). "Terminal" at -10 is the face modules ask for.
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strike_out, DWORD char_set, DWORD out_precision,
                  DWORD clip_precision, DWORD quality, DWORD pitch_and_family, const char* face);
HFONT CreateFontIndirectA(const LOGFONTA* font);
COLORREF SetTextColor(HDC hdc, COLORREF color);
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF color);
int SetBkMode(HDC hdc, int mode);
int GetBkMode(HDC hdc);
UINT SetTextAlign(HDC hdc, UINT align);
UINT GetTextAlign(HDC hdc);
// `length` characters of `text` (a negative length or a null text fails).
BOOL TextOutA(HDC hdc, int x, int y, const char* text, int length);
BOOL GetTextExtentPoint32A(HDC hdc, const char* text, int length, SIZE* size);

// ---- bitmaps -----------------------------------------------------------------------------------

// 24- and 32-bit uncompressed sections only. Rows are padded to 4 bytes; the memory stays valid
// until DeleteObject. On failure returns 0 and sets *bits to null.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
// A 32-bit top-down bitmap of w x h, zero-filled.
HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height);
// SRCCOPY, BLACKNESS and WHITENESS; both rectangles are clipped to their surfaces.
BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int src_x, int src_y, DWORD rop);

inline BOOL TextOut(HDC hdc, int x, int y, const char* text, int length) { return TextOutA(hdc, x, y, text, length); }

// ---- for hosts and tests -------------------------------------------------------------------------

// A memory context with a fresh 32-bit bitmap of w x h selected, filled with `background`.
HDC create_panel_dc(int width, int height, COLORREF background);
// Deletes a context made by create_panel_dc together with its bitmap.
void delete_panel_dc(HDC hdc);

// Pixels of the bitmap selected into a context (or of a bitmap handle), top row first.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
bool read_image(HGDIOBJ dc_or_bitmap, Image* image);

// Live objects per kind, stock objects excluded: a paint call should leave these unchanged.
struct GdiCounts {
    int dcs = 0, brushes = 0, pens = 0, fonts = 0, bitmaps = 0;
    int total() const { return dcs + brushes + pens + fonts + bitmaps; }
};
GdiCounts gdi_counts();

// Writes the pixels of a context's bitmap (or a bitmap) as an 8-bit RGB PNG. On failure returns
// false and sets *error to one line.
bool write_png(HGDIOBJ dc_or_bitmap, const std::string& path, std::string* error = nullptr);
// The same PNG as bytes in memory, for callers that choose how the file is written.
bool encode_png(HGDIOBJ dc_or_bitmap, std::vector<uint8_t>* bytes, std::string* error = nullptr);

}  // namespace mvp
