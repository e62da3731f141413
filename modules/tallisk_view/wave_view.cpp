// The wave view's GUI dispatch, its pin access through the host, and its mode cursors.
#include "wave_view.h"

#include "mvp/window.h"

namespace tallisk_view {

namespace {

// Cursor resources of the library, by mode: Select, Draw, Move, Zoom.
constexpr int kCursorResource[] = {122, 109, 113, 106};

mvp::HINSTANCE library_instance() { return mvp::module_instance(reinterpret_cast<const void*>(&library_instance)); }

bool is_own_cursor(mvp::HCURSOR cursor) {
    mvp::CursorInfo info;
    return mvp::cursor_info(cursor, &info) && info.instance == library_instance();
}

}  // namespace

WaveView::WaveView(MVHostCallback callback, intptr_t host_value) : MVGUI_base(callback, host_value) {
    CallHost(GM_PANEL_SETUP_4, 1);
    CallHost(GM_SET_SIZE, kPanelWidth, kPanelHeight);
    CallHost(GM_PANEL_SETUP_11);
}

WaveView::~WaveView() { CallHost(GM_IDLE_CALLS, 0); }

void WaveView::guiOpen(bool) {
    initialise(getPinText(kWaveIn), getPinInt(kModePin));
    CallHost(GM_IDLE_CALLS, 1);
}

void WaveView::pointerDown(MVPanelRecord* panel, float, int x, int y) {
    if (panel) press(x, y, panel->width, panel->height);
}

void WaveView::pointerUp(MVPanelRecord*, float, int, int) { release(); }

void WaveView::pointerMove(MVPanelRecord* panel, float, int x, int y) {
    if (panel) move(x, y, panel->width, panel->height);
}

void WaveView::gui9(void*) {
    // Without a cursor of its own to restore, SetCursor(0) would hide the mouse.
    if (m_previous_cursor) mvp::SetCursor(m_previous_cursor);
    mvp::DestroyCursor(m_mode_cursor);
    m_mode_cursor = 0;
}

bool WaveView::idle() {
    tick();
    return true;
}

void WaveView::connected(int) { link_made(); }

void WaveView::disconnected(int) { link_lost(); }

void WaveView::pinChanged(MVPinChangedRecord* record) {
    if (!record) return;
    if (record->pin_index == kWaveIn) receive_message(getPinText(kWaveIn));
    else if (record->pin_index == kModePin) set_mode(getPinInt(kModePin));
}

void WaveView::send_message(const char* text) { setPinText(kWaveOut, text); }

void WaveView::write_readout(const char* text) { setPinText(kReadout, text); }

void WaveView::capture_mouse() { CallHost(GM_CAPTURE_MOUSE); }

void WaveView::release_mouse() { CallHost(GM_RELEASE_MOUSE); }

bool WaveView::mouse_captured() { return CallHost(GM_IS_CAPTURED) != 0; }

void WaveView::request_repaint() { CallHost(GM_REPAINT); }

void WaveView::mode_changed() {
    const int32_t m = mode();
    // A stored mode outside the list has no cursor; the current one stays.
    if (m < kSelect || m > kZoom) return;
    m_mode_cursor = mvp::LoadCursorA(library_instance(), kCursorResource[m]);
}

void WaveView::show_mode_cursor() {
    if (!m_mode_cursor) mode_changed();
    if (!m_mode_cursor) return;
    const mvp::HCURSOR replaced = mvp::SetCursor(m_mode_cursor);
    // Every move sets the cursor again; only a cursor that is not the view's own is worth
    // restoring when the mouse leaves.
    if (replaced && !is_own_cursor(replaced)) m_previous_cursor = replaced;
}

}  // namespace tallisk_view
