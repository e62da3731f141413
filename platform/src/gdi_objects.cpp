// The handle table, stock objects, object creation, selection and deletion.
#include <algorithm>
#include <cstring>

#include "gdi_state.h"

namespace mvp {
namespace detail {

namespace {

void add_stock(GdiTable& t, int which, Object o) {
    o.stock = true;
    t.objects.emplace(stock_handle(which), std::move(o));
}

Object make_brush(COLORREF c, bool hollow = false) { return Object{OBJ_BRUSH, false, Brush{c, hollow}}; }
Object make_pen(int style, COLORREF c) { return Object{OBJ_PEN, false, Pen{style, 1, c}}; }

Object make_font(const LOGFONTA& lf) {
    Font f;
    f.logfont = lf;
    f.logfont.lfFaceName[sizeof f.logfont.lfFaceName - 1] = 0;
    const int h = std::abs(lf.lfHeight);
    f.scale = std::clamp(h / 10, 1, 8);
    return Object{OBJ_FONT, false, f};
}

}  // namespace

GdiTable& gdi() {
    static GdiTable* table = [] {
        auto* t = new GdiTable;
        add_stock(*t, WHITE_BRUSH, make_brush(0xFFFFFF));
        add_stock(*t, LTGRAY_BRUSH, make_brush(0xC0C0C0));
        add_stock(*t, GRAY_BRUSH, make_brush(0x808080));
        add_stock(*t, DKGRAY_BRUSH, make_brush(0x404040));
        add_stock(*t, BLACK_BRUSH, make_brush(0x000000));
        add_stock(*t, NULL_BRUSH, make_brush(0, true));
        add_stock(*t, WHITE_PEN, make_pen(PS_SOLID, 0xFFFFFF));
        add_stock(*t, BLACK_PEN, make_pen(PS_SOLID, 0x000000));
        add_stock(*t, NULL_PEN, make_pen(PS_NULL, 0));
        LOGFONTA system{};
        system.lfHeight = -10;
        std::strcpy(system.lfFaceName, "System");
        add_stock(*t, SYSTEM_FONT, make_font(system));
        add_stock(*t, DEFAULT_GUI_FONT, make_font(system));
        return t;
    }();
    return *table;
}

Object* GdiTable::find(int32_t handle, UINT type) {
    auto it = objects.find(handle);
    if (it == objects.end()) return nullptr;
    if (type != 0 && it->second.type != type) return nullptr;
    return &it->second;
}

int32_t GdiTable::add(Object object) {
    const int32_t h = next++;
    objects.emplace(h, std::move(object));
    return h;
}

Bitmap* GdiTable::surface(Dc* dc) {
    if (!dc || dc->bitmap == 0) return nullptr;
    return get<Bitmap>(dc->bitmap, OBJ_BITMAP);
}

}  // namespace detail

using detail::gdi;

HDC CreateCompatibleDC(HDC hdc) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    if (hdc != 0 && !t.get<detail::Dc>(hdc, OBJ_MEMDC)) return 0;
    detail::Dc dc;
    dc.brush = detail::stock_handle(WHITE_BRUSH);
    dc.pen = detail::stock_handle(BLACK_PEN);
    dc.font = detail::stock_handle(SYSTEM_FONT);
    return t.add(detail::Object{OBJ_MEMDC, false, dc});
}

BOOL DeleteDC(HDC hdc) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc) return 0;
    if (auto* bm = t.surface(dc)) bm->selected_in = 0;
    t.objects.erase(hdc);
    return 1;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    detail::Object* o = t.find(object, 0);
    if (!dc || !o) return 0;
    HGDIOBJ previous = 0;
    switch (o->type) {
    case OBJ_BRUSH: previous = dc->brush; dc->brush = object; break;
    case OBJ_PEN: previous = dc->pen; dc->pen = object; break;
    case OBJ_FONT: previous = dc->font; dc->font = object; break;
    case OBJ_BITMAP: {
        auto& bm = std::get<detail::Bitmap>(o->value);
        if (bm.selected_in != 0 && bm.selected_in != hdc) return HGDI_ERROR;
        if (auto* old = t.surface(dc)) old->selected_in = 0;
        previous = dc->bitmap;
        dc->bitmap = object;
        bm.selected_in = hdc;
        break;
    }
    default: return 0;
    }
    return previous;
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    auto* dc = t.get<detail::Dc>(hdc, OBJ_MEMDC);
    if (!dc) return 0;
    switch (type) {
    case OBJ_BRUSH: return dc->brush;
    case OBJ_PEN: return dc->pen;
    case OBJ_FONT: return dc->font;
    case OBJ_BITMAP: return dc->bitmap;
    default: return 0;
    }
}

BOOL DeleteObject(HGDIOBJ object) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    detail::Object* o = t.find(object, 0);
    if (!o || o->type == OBJ_MEMDC) return 0;
    if (o->stock) return 1;
    for (auto& [h, other] : t.objects) {
        if (other.type != OBJ_MEMDC) continue;
        const auto& dc = std::get<detail::Dc>(other.value);
        if (dc.brush == object || dc.pen == object || dc.font == object || dc.bitmap == object) return 0;
    }
    t.objects.erase(object);
    return 1;
}

HGDIOBJ GetStockObject(int which) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    detail::Object* o = t.find(detail::stock_handle(which), 0);
    return (o && o->stock) ? detail::stock_handle(which) : 0;
}

int GetObjectA(HGDIOBJ object, int size, void* out) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    detail::Object* o = t.find(object, 0);
    if (!o) return 0;
    if (o->type == OBJ_BITMAP) {
        if (!out) return static_cast<int>(sizeof(BITMAP));
        if (size < static_cast<int>(sizeof(BITMAP))) return 0;
        auto& bm = std::get<detail::Bitmap>(o->value);
        BITMAP b{0, bm.width, bm.height, bm.stride, 1, static_cast<WORD>(bm.bits), bm.data.get()};
        std::memcpy(out, &b, sizeof b);
        return static_cast<int>(sizeof b);
    }
    if (o->type == OBJ_FONT) {
        if (!out) return static_cast<int>(sizeof(LOGFONTA));
        if (size < static_cast<int>(sizeof(LOGFONTA))) return 0;
        std::memcpy(out, &std::get<detail::Font>(o->value).logfont, sizeof(LOGFONTA));
        return static_cast<int>(sizeof(LOGFONTA));
    }
    return 0;
}

BOOL GdiFlush() { return 1; }

HBRUSH CreateSolidBrush(COLORREF color) {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    return t.add(detail::make_brush(color & 0xFFFFFF));
}

HPEN CreatePen(int style, int width, COLORREF color) {
    if (style != PS_SOLID && style != PS_NULL) style = PS_SOLID;
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    detail::Object o = detail::make_pen(style, color & 0xFFFFFF);
    std::get<detail::Pen>(o.value).width = std::clamp(width, 1, 64);
    return t.add(std::move(o));
}

HFONT CreateFontIndirectA(const LOGFONTA* font) {
    if (!font) return 0;
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    return t.add(detail::make_font(*font));
}

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strike_out, DWORD char_set, DWORD out_precision,
                  DWORD clip_precision, DWORD quality, DWORD pitch_and_family, const char* face) {
    LOGFONTA lf;
    lf.lfHeight = height;
    lf.lfWidth = width;
    lf.lfEscapement = escapement;
    lf.lfOrientation = orientation;
    lf.lfWeight = weight;
    lf.lfItalic = static_cast<BYTE>(italic);
    lf.lfUnderline = static_cast<BYTE>(underline);
    lf.lfStrikeOut = static_cast<BYTE>(strike_out);
    lf.lfCharSet = static_cast<BYTE>(char_set);
    lf.lfOutPrecision = static_cast<BYTE>(out_precision);
    lf.lfClipPrecision = static_cast<BYTE>(clip_precision);
    lf.lfQuality = static_cast<BYTE>(quality);
    lf.lfPitchAndFamily = static_cast<BYTE>(pitch_and_family);
    if (face) std::strncpy(lf.lfFaceName, face, sizeof lf.lfFaceName - 1);
    return CreateFontIndirectA(&lf);
}

GdiCounts gdi_counts() {
    auto& t = gdi();
    std::lock_guard lock(t.mutex);
    GdiCounts c;
    for (auto& [h, o] : t.objects) {
        if (o.stock) continue;
        switch (o.type) {
        case OBJ_MEMDC: ++c.dcs; break;
        case OBJ_BRUSH: ++c.brushes; break;
        case OBJ_PEN: ++c.pens; break;
        case OBJ_FONT: ++c.fonts; break;
        case OBJ_BITMAP: ++c.bitmaps; break;
        default: break;
        }
    }
    return c;
}

}  // namespace mvp
