// The editor's panel: painting, the click that opens the menu, and the stored look (colours,
// transparency, background picture) with its broadcast to connected views.
#include <cmath>
#include <cstring>

#include "mvp/gdi.h"
#include "mvp/menu.h"
#include "mvp/message_box.h"
#include "mvp/window.h"
#include "settings_string.h"
#include "wavetable_editor.h"

namespace tallisk {

namespace {

void show_bitmap_error() { mvp::MessageBoxA(0, "Couldn't load bitmap", "QB_TKMAIN", mvp::MB_OK); }

// The part of the editor's state that the "Settings" text keeps.
PanelLook look_of(const EditorSettings& s, const char* picture_path) {
    return {s.back_colour, s.draw_colour, s.transparent, s.picture_mode, picture_path};
}

}  // namespace

void WavetableEditor::paint(int dc_value, MVPanelRecord* panel) {
    if (!panel) return;
    const mvp::HDC dc = static_cast<mvp::HDC>(dc_value);
    const EditorSettings& s = settings();
    const int w = panel->width;
    const int h = panel->height;
    const int x = static_cast<int>(std::trunc(w * 0.02));
    const int y = h - 16;
    if (s.transparent == 0) {
        const mvp::RECT all{0, 0, w + 1, h + 1};
        const mvp::HBRUSH brush = mvp::CreateSolidBrush(s.back_colour);
        mvp::FillRect(dc, &all, brush);
        mvp::DeleteObject(brush);
    }
    if (s.picture_mode == 8) m_picture.draw(dc);
    const mvp::HFONT font = mvp::CreateFontA(-10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Terminal");
    const mvp::HGDIOBJ old_font = mvp::SelectObject(dc, font);
    mvp::SetTextColor(dc, s.draw_colour);
    mvp::SetBkMode(dc, mvp::TRANSPARENT);
    mvp::SetTextAlign(dc, 0);
    if (s.picture_mode == 0) mvp::TextOutA(dc, x, y, s.caption, static_cast<int>(std::strlen(s.caption)));
    mvp::SelectObject(dc, old_font);
    mvp::DeleteObject(font);
}

mvp::HWND WavetableEditor::find_owner(intptr_t context, int x, int y, mvp::POINT* screen) {
    intptr_t at = context;
    mvp::HWND window = 0;
    // A broken chain that loops or never ends must not hang the user interface.
    for (int step = 0; at != 0 && step < 64; ++step) {
        window = static_cast<mvp::HWND>(CallHost(GM_WINDOW_HANDLE, static_cast<int>(at)));
        if (window) break;
        at = CallHost(GM_CONTEXT_PARENT, static_cast<int>(at));
    }
    if (!window) return 0;
    MVPoint point{x, y};
    CallHost(GM_MAP_POINT, static_cast<int>(context), at, &point);
    mvp::RECT rect{};
    mvp::GetWindowRect(window, &rect);
    screen->x = point.x + rect.left - mvp::GetScrollPos(window, mvp::SB_HORZ);
    screen->y = point.y + rect.top - mvp::GetScrollPos(window, mvp::SB_VERT);
    return window;
}

void WavetableEditor::pointerDown(MVPanelRecord* panel, float, int x, int y) {
    mvp::POINT at{};
    m_owner = panel ? find_owner(panel->context, x, y, &at) : 0;
    const mvp::HMENU menu = build_menu();
    const int id = static_cast<int>(
        mvp::TrackPopupMenu(menu, mvp::TPM_RETURNCMD | mvp::TPM_NONOTIFY, at.x, at.y, 0, m_owner, nullptr));
    mvp::DestroyMenu(menu);
    if (id != 0) run_command(id);
    request_repaint();
}

void WavetableEditor::store_settings() {
    write_pin_text(kPinSettings, format_settings(look_of(settings(), bank().text.picture_path)).c_str());
}

void WavetableEditor::settings_broadcast() {
    send_fft_answer();
    send_wave_answer();
    store_settings();
}

void WavetableEditor::apply_stored_settings() {
    EditorSettings& s = settings();
    const SettingsParse parsed = parse_settings(read_pin_text(kPinSettings), look_of(s, bank().text.picture_path));
    s.back_colour = parsed.look.back_colour;
    s.draw_colour = parsed.look.draw_colour;
    s.transparent = parsed.look.transparent;
    s.picture_mode = parsed.look.picture_mode;
    copy_text(bank().text.picture_path, kPathSize, parsed.look.picture_path.c_str());
    if (s.picture_mode == 8 && !load_picture(bank().text.picture_path)) {
        show_bitmap_error();
        s.picture_mode = 0;
    }
}

bool WavetableEditor::load_picture(const std::string& path) { return m_picture.load(path); }

void WavetableEditor::picture_dialog() {
    FileRequest request{{{"8-Bit BMP Files (*.BMP)", "*.BMP"}}, "", bank().text.picture_folder, 260};
    const auto chosen = ui().open_file(request);
    if (!chosen) return;
    copy_text(bank().text.picture_path, kPathSize, chosen->c_str());
    copy_text(bank().text.picture_folder, kPathSize, chosen->c_str());
    if (load_picture(*chosen)) {
        settings().picture_mode = 8;
    } else {
        show_bitmap_error();
        settings().picture_mode = 0;
    }
    request_repaint();
}

}  // namespace tallisk
