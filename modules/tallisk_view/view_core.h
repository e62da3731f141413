// The wave view's logic, free of the SDK and the platform: what it shows, the view link, and the
// press, move, release and idle handling in its four mouse modes. The GUI object implements the
// host hooks at the bottom.
#pragma once

#include <cstdint>

#include "view_math.h"

namespace tallisk_view {

enum Mode : int32_t { kSelect = 0, kDraw = 1, kMove = 2, kZoom = 3 };

constexpr uint32_t kDefaultDrawColour = 0x00FF00;
// The editor's own default, so a view looks the same before and after it links.
constexpr uint32_t kDefaultBackColour = 0x000000;
constexpr int kWaveInTextSize = 300;

class ViewCore {
public:
    ViewCore();
    virtual ~ViewCore() = default;
    ViewCore(const ViewCore&) = delete;
    ViewCore& operator=(const ViewCore&) = delete;

    // GUI opcode 0: the last "Wave in" text and the stored mode.
    void initialise(const char* wave_in_text, int32_t mode);
    // A message arrived on "Wave in".
    void receive_message(const char* text);
    void set_mode(int32_t mode);
    void press(int x, int y, int width, int height);
    void release();
    void move(int x, int y, int width, int height);
    void tick();
    // A wire was made to or removed from one of the view's pins.
    void link_made();
    void link_lost();

    // Paint, press and move recompute the scale for the panel width they are given.
    void update_scale(int width);

    const float* data() const { return m_data; }
    float* data() { return m_data; }
    const float* own_buffer() const { return m_own; }
    bool initialised() const { return m_initialised != 0; }
    bool dirty() const { return m_dirty != 0; }
    int32_t mode() const { return m_mode; }
    uint32_t back_colour() const { return m_back_colour; }
    uint32_t draw_colour() const { return m_draw_colour; }
    int32_t transparent() const { return m_transparent; }
    float zoom() const { return m_zoom; }
    float scale() const { return m_pixels_per_sample; }
    int view_offset() const { return m_view_offset; }
    int press_index() const { return m_press_index; }
    int previous_index() const { return m_previous_index; }
    int readout_index() const { return m_readout_index; }
    int idle_count() const { return m_idle_count; }
    const char* wave_in_text() const { return m_wave_in_text; }

protected:
    virtual void send_message(const char* text) = 0;  // on "Wave out"
    virtual void write_readout(const char* text) = 0;
    virtual void capture_mouse() = 0;
    virtual void release_mouse() = 0;
    virtual bool mouse_captured() = 0;
    virtual void request_repaint() = 0;
    virtual void mode_changed() = 0;        // load the cursor of the new mode
    virtual void show_mode_cursor() = 0;    // the mouse is over the panel

private:
    void send(int code, intptr_t argument = 0);
    void draw_step(int x);
    void move_step(int width);
    void zoom_step(int x, int width);
    void select_step();

    float m_own[kWaveLength + 1] = {};
    float* m_data = m_own;
    uint8_t m_initialised = 0;
    uint8_t m_dirty = 1;
    int32_t m_idle_count = 0;
    int32_t m_mode = kSelect;
    uint32_t m_back_colour = kDefaultBackColour;
    uint32_t m_draw_colour = kDefaultDrawColour;
    int32_t m_transparent = 0;
    float m_zoom = kMinZoom;
    float m_pixels_per_sample = 0.0f;
    int32_t m_view_offset = 0;
    int32_t m_press_index = 0;
    int32_t m_previous_index = 0;
    int32_t m_readout_index = 0;
    float m_amplitude = 0.0f;
    float m_previous_amplitude = 0.0f;
    float m_x_position = 0.0f;
    float m_previous_x_position = 0.0f;
    char m_wave_in_text[kWaveInTextSize] = {};
};

}  // namespace tallisk_view
