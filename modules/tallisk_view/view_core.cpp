// The wave view's logic: the view link, the four mouse modes and the idle commit.
#include "view_core.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "view_link.h"

namespace tallisk_view {

namespace {

// Commits are spread over this many idle calls, so a long stroke costs the editor one rebuild.
constexpr int kCommitCadence = 4;

}  // namespace

ViewCore::ViewCore() = default;

void ViewCore::initialise(const char* wave_in_text, int32_t mode) {
    std::snprintf(m_wave_in_text, sizeof m_wave_in_text, "%s", wave_in_text ? wave_in_text : "");
    m_mode = mode;
    mode_changed();
    if (m_pixels_per_sample == 0.0f) m_pixels_per_sample = 1.0f;
    std::fill(std::begin(m_own), std::end(m_own), 0.0f);
    m_draw_colour = kDefaultDrawColour;
}

void ViewCore::receive_message(const char* text) {
    const tallisk::ViewMessage m = tallisk::parse_view_message(text);
    // The address is memory of the editor in this process; a message without one (or with a null
    // one) names nothing the view could read.
    if (m.has_code && m.has_argument && m.argument != 0) {
        const void* at = reinterpret_cast<const void*>(m.argument);
        switch (m.code) {
        case tallisk::kViewBackColour: std::memcpy(&m_back_colour, at, sizeof m_back_colour); break;
        case tallisk::kViewDrawColour: std::memcpy(&m_draw_colour, at, sizeof m_draw_colour); break;
        case tallisk::kViewTransparent: std::memcpy(&m_transparent, at, sizeof m_transparent); break;
        case tallisk::kViewEditBuffer:
            m_data = reinterpret_cast<float*>(m.argument);
            m_initialised = 1;
            break;
        default: break;
        }
    }
    request_repaint();
}

void ViewCore::set_mode(int32_t mode) {
    m_mode = mode;
    mode_changed();
}

void ViewCore::update_scale(int width) { m_pixels_per_sample = pixels_per_sample(m_zoom, width); }

void ViewCore::send(int code, intptr_t argument) { send_message(tallisk::format_view_message(code, argument).c_str()); }

void ViewCore::press(int x, int y, int width, int height) {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        request_repaint();
        return;
    }
    update_scale(width);
    m_previous_index = m_press_index;
    m_press_index = sample_under(static_cast<float>(x), m_pixels_per_sample, m_view_offset);
    capture_mouse();
    if (m_mode == kSelect) {
        send(tallisk::kViewStep, 1);
        send(tallisk::kViewRedraw);
    } else if (m_mode == kDraw) {
        send(tallisk::kViewModified);
        send(tallisk::kViewRedraw);
    }
    request_repaint();
}

void ViewCore::release() {
    if (!mouse_captured()) return;
    release_mouse();
    request_repaint();
}

void ViewCore::move(int x, int y, int width, int height) {
    if (width <= 0 || height <= 0) return;
    x = std::clamp(x, 0, width);
    y = std::clamp(y, 0, height);
    show_mode_cursor();
    update_scale(width);
    m_readout_index = sample_under(static_cast<float>(x), m_pixels_per_sample, m_view_offset);
    char readout[64];
    std::snprintf(readout, sizeof readout, "%1.2f,%1.2f", static_cast<double>(m_readout_index / 1024.0f),
                  static_cast<double>(m_data[m_readout_index]));
    write_readout(readout);
    if (!mouse_captured()) return;

    m_previous_amplitude = m_amplitude;
    m_amplitude = amplitude_at(y, height);
    m_previous_x_position = m_x_position;
    m_x_position = static_cast<float>(x) / static_cast<float>(width);
    update_scale(width);
    switch (m_mode) {
    case kDraw: draw_step(x); break;
    case kMove: move_step(width); break;
    case kZoom: zoom_step(x, width); break;
    case kSelect: select_step(); break;
    default: break;
    }
}

void ViewCore::draw_step(int x) {
    m_previous_index = m_press_index;
    m_press_index = sample_under(static_cast<float>(x), m_pixels_per_sample, m_view_offset);
    draw_line(m_data, m_previous_index, m_previous_amplitude, m_press_index, m_amplitude);
    // The idle call repaints and commits; a stroke of many events stays cheap.
    m_dirty = 1;
}

void ViewCore::move_step(int width) {
    // A fixed step per event, whatever the distance, so the drag speed does not matter.
    if (m_x_position > m_previous_x_position)
        m_view_offset = std::max(0, m_view_offset - kMoveStep);
    else if (m_x_position < m_previous_x_position)
        m_view_offset = std::min(m_view_offset + kMoveStep, max_view_offset(width, m_pixels_per_sample));
    request_repaint();
}

void ViewCore::zoom_step(int x, int width) {
    if (m_amplitude < m_previous_amplitude) m_zoom = zoom_out(m_zoom);
    else if (m_amplitude > m_previous_amplitude) m_zoom = zoom_in(m_zoom);
    update_scale(width);
    // Keep the pressed sample under the mouse.
    const int offset = trunc_int(static_cast<float>(m_press_index) - static_cast<float>(x) / m_pixels_per_sample);
    m_view_offset = std::clamp(offset, 0, max_view_offset(width, m_pixels_per_sample));
    request_repaint();
}

void ViewCore::select_step() {
    if (m_amplitude < m_previous_amplitude) {
        send(tallisk::kViewStep, 0);
        send(tallisk::kViewRedraw);
    } else if (m_amplitude > m_previous_amplitude) {
        send(tallisk::kViewStep, 1);
        send(tallisk::kViewRedraw);
    }
}

void ViewCore::tick() {
    if (!m_initialised) {
        send(tallisk::kViewRequest);
        send(tallisk::kViewRedraw);
    }
    if (m_dirty) {
        if (m_idle_count == 0) {
            send(tallisk::kViewCommit);
            send(tallisk::kViewRedraw);
            m_dirty = 0;
        }
        request_repaint();
    }
    m_idle_count = (m_idle_count + 1) % kCommitCadence;
}

void ViewCore::link_made() { send(tallisk::kViewRequest); }

void ViewCore::link_lost() {
    m_data = m_own;
    m_initialised = 0;
    request_repaint();
}

}  // namespace tallisk_view
