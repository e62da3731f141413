// Fills, lines and single pixels, clipped to the selected bitmap.
#include <algorithm>
#include <cstdlib>

#include "gdi_state.h"

namespace mvp {

using detail::Bitmap;
using detail::gdi;

namespace {

void fill(Bitmap* bm, int64_t left, int64_t top, int64_t right, int64_t bottom, COLORREF c) {
    if (!bm) return;
    const int x0 = static_cast<int>(std::max<int64_t>(left, 0));
    const int y0 = static_cast<int>(std::max<int64_t>(top, 0));
    const int x1 = static_cast<int>(std::min<int64_t>(right, bm->width));
    const int y1 = static_cast<int>(std::min<int64_t>(bottom, bm->height));
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) bm->put(x, y, c);
}

void plot(Bitmap* bm, const detail::Pen& pen, int64_t x, int64_t y) {
    if (pen.width <= 1) {
        if (x >= 0 && y >= 0 && x < bm->width && y < bm->height) bm->put(static_cast<int>(x), static_cast<int>(y), pen.color);
        return;
    }
    const int64_t half = pen.width / 2;
    fill(bm, x - half, y - half, x - half + pen.width, y - half + pen.width, pen.color);
}

// floor((2 k m + n) / (2 n)): the minor-axis offset of pixel k, halves rounded away from the start.
int64_t minor_offset(int64_t k, int64_t m, int64_t n) {
    if (n < (int64_t{1} << 29)) return (2 * k * m + n) / (2 * n);
    return static_cast<int64_t>((2.0L * k * m + n) / (2.0L * n));
}

// Pixels k = 0 .. n-1 of the line from (x0, y0) to (x1, y1); the end point (k = n) is not drawn.
// Only the stretch of k whose major coordinate can reach the surface is walked.
void draw_line(Bitmap* bm, const detail::Pen& pen, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    if (!bm || pen.style == PS_NULL) return;
    const int64_t dx = x1 - x0, dy = y1 - y0;
    const bool x_major = std::llabs(dx) >= std::llabs(dy);
    const int64_t n = x_major ? std::llabs(dx) : std::llabs(dy);
    if (n == 0) return;
    const int64_t m = x_major ? std::llabs(dy) : std::llabs(dx);
    const int64_t s_major = (x_major ? dx : dy) < 0 ? -1 : 1;
    const int64_t s_minor = (x_major ? dy : dx) < 0 ? -1 : 1;
    const int64_t start = x_major ? x0 : y0;
    const int64_t extent = (x_major ? bm->width : bm->height);
    const int64_t margin = pen.width / 2 + 1;
    // major = start + k * s_major must lie in [-margin, extent + margin).
    int64_t k_lo, k_hi;
    if (s_major > 0) {
        k_lo = -margin - start;
        k_hi = extent + margin - start;
    } else {
        k_lo = start - extent - margin + 1;
        k_hi = start + margin + 1;
    }
    k_lo = std::max<int64_t>(k_lo, 0);
    k_hi = std::min<int64_t>(k_hi, n);
    for (int64_t k = k_lo; k < k_hi; ++k) {
        const int64_t major = start + k * s_major;
        const int64_t minor = (x_major ? y0 : x0) + s_minor * minor_offset(k, m, n);
        if (x_major)
            plot(bm, pen, major, minor);
        else
            plot(bm, pen, minor, major);
    }
}

}  // namespace

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    auto* b = t.get<detail::Brush>(brush, OBJ_BRUSH);
    if (!dc || !b || !rect) return 0;
    if (!b->hollow) fill(t.surface(dc), rect->left, rect->top, rect->right, rect->bottom, b->color);
    return 1;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc) return 0;
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    Bitmap* bm = t.surface(dc);
    auto* pen = t.get<detail::Pen>(dc->pen, OBJ_PEN);
    auto* brush = t.get<detail::Brush>(dc->brush, OBJ_BRUSH);
    const bool outline = pen && pen->style != PS_NULL;
    if (brush && !brush->hollow) {
        if (outline)
            fill(bm, int64_t{left} + 1, int64_t{top} + 1, int64_t{right} - 1, int64_t{bottom} - 1, brush->color);
        else
            fill(bm, left, top, int64_t{right} - 1, int64_t{bottom} - 1, brush->color);
    }
    if (outline && bm && right - left >= 1 && bottom - top >= 1) {
        const int64_t r = int64_t{right} - 1, b = int64_t{bottom} - 1;
        draw_line(bm, *pen, left, top, r, top);
        draw_line(bm, *pen, r, top, r, b);
        draw_line(bm, *pen, r, b, left, b);
        draw_line(bm, *pen, left, b, left, top);
        if (r == left && b == top) plot(bm, *pen, left, top);
    }
    return 1;
}

BOOL MoveToEx(HDC hdc, int x, int y, POINT* previous) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc) return 0;
    if (previous) *previous = dc->position;
    dc->position = POINT{x, y};
    return 1;
}

BOOL LineTo(HDC hdc, int x, int y) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc) return 0;
    if (auto* pen = t.get<detail::Pen>(dc->pen, OBJ_PEN))
        draw_line(t.surface(dc), *pen, dc->position.x, dc->position.y, x, y);
    dc->position = POINT{x, y};
    return 1;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    Bitmap* bm = t.surface(t.get<detail::Dc>(hdc, OBJ_MEMDC));
    if (!bm || !bm->contains(x, y)) return CLR_INVALID;
    bm->put(x, y, color & 0xFFFFFF);
    return bm->get(x, y);
}

COLORREF GetPixel(HDC hdc, int x, int y) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    Bitmap* bm = t.surface(t.get<detail::Dc>(hdc, OBJ_MEMDC));
    if (!bm || !bm->contains(x, y)) return CLR_INVALID;
    return bm->get(x, y);
}

}  // namespace mvp
