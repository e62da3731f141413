// Text state of a context and text output in the bitmap font.
#include <cstring>

#include "gdi_state.h"
#include "terminal_font.h"

namespace mvp {

using detail::gdi;

namespace {

int font_scale(detail::GdiTable& t, detail::Dc* dc) {
    auto* f = t.get<detail::Font>(dc->font, OBJ_FONT);
    return f ? f->scale : 1;
}

// Characters of text up to `length` or the first NUL, whichever comes first.
int visible_length(const char* text, int length) {
    return static_cast<int>(strnlen(text, static_cast<size_t>(length)));
}

}  // namespace

COLORREF SetTextColor(HDC hdc, COLORREF color) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc) return CLR_INVALID;
    const COLORREF previous = dc->text_color;
    dc->text_color = color & 0xFFFFFF;
    return previous;
}

COLORREF GetTextColor(HDC hdc) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    return dc ? dc->text_color : CLR_INVALID;
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc) return CLR_INVALID;
    const COLORREF previous = dc->bk_color;
    dc->bk_color = color & 0xFFFFFF;
    return previous;
}

int SetBkMode(HDC hdc, int mode) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    const int previous = dc->bk_mode;
    dc->bk_mode = mode;
    return previous;
}

int GetBkMode(HDC hdc) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    return dc ? dc->bk_mode : 0;
}

UINT SetTextAlign(HDC hdc, UINT align) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc) return 0xFFFFFFFF;  // GDI_ERROR
    const UINT previous = dc->text_align;
    dc->text_align = align & (TA_UPDATECP | TA_CENTER | TA_BASELINE);
    return previous;
}

UINT GetTextAlign(HDC hdc) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    return dc ? dc->text_align : 0xFFFFFFFF;
}

BOOL GetTextExtentPoint32A(HDC hdc, const char* text, int length, SIZE* size) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc || !size || length < 0 || (!text && length > 0)) return 0;
    const int n = text ? visible_length(text, length) : 0;
    const int scale = font_scale(t, dc);
    size->cx = n * detail::kCellWidth * scale;
    size->cy = detail::kCellHeight * scale;
    return 1;
}

BOOL TextOutA(HDC hdc, int x, int y, const char* text, int length) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc || !text || length < 0) return 0;
    const int n = visible_length(text, length);
    const int scale = font_scale(t, dc);
    const int64_t width = int64_t{n} * detail::kCellWidth * scale;
    const int64_t height = int64_t{detail::kCellHeight} * scale;

    const bool update_cp = (dc->text_align & TA_UPDATECP) != 0;
    int64_t left = update_cp ? dc->position.x : x;
    int64_t top = update_cp ? dc->position.y : y;
    switch (dc->text_align & TA_CENTER) {
    case TA_RIGHT: left -= width; break;
    case TA_CENTER: left -= width / 2; break;
    default: break;
    }
    switch (dc->text_align & TA_BASELINE) {
    case TA_BOTTOM: top -= height; break;
    case TA_BASELINE: top -= int64_t{detail::kAscent} * scale; break;
    default: break;
    }
    if (update_cp && (dc->text_align & TA_CENTER) == TA_LEFT)
        dc->position.x = static_cast<LONG>(dc->position.x + width);

    detail::Bitmap* bm = t.surface(dc);
    if (!bm || n == 0) return 1;
    // Skip everything off the surface before touching pixels, so huge offsets cost nothing.
    if (left >= bm->width || top >= bm->height || left + width <= 0 || top + height <= 0) return 1;

    for (int i = 0; i < n; ++i) {
        const int64_t cell_x = left + int64_t{i} * detail::kCellWidth * scale;
        if (cell_x + detail::kCellWidth * scale <= 0 || cell_x >= bm->width) continue;
        const uint8_t* rows = detail::glyph_rows(static_cast<unsigned char>(text[i]));
        for (int cy = 0; cy < detail::kCellHeight * scale; ++cy) {
            const int64_t py = top + cy;
            if (py < 0 || py >= bm->height) continue;
            const int row = cy / scale - detail::kGlyphTop;
            const uint8_t bits = (row >= 0 && row < detail::kGlyphRows) ? rows[row] : 0;
            for (int cx = 0; cx < detail::kCellWidth * scale; ++cx) {
                const int64_t px = cell_x + cx;
                if (px < 0 || px >= bm->width) continue;
                const int col = cx / scale;
                const bool ink = col < detail::kGlyphWidth && (bits >> (detail::kGlyphWidth - 1 - col)) & 1;
                if (ink)
                    bm->put(static_cast<int>(px), static_cast<int>(py), dc->text_color);
                else if (dc->bk_mode == OPAQUE)
                    bm->put(static_cast<int>(px), static_cast<int>(py), dc->bk_color);
            }
        }
    }
    return 1;
}

}  // namespace mvp
