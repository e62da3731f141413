// WaveView, the GUI object of tallisk_view (kind 2): the SDK adapter around ViewCore that reaches
// the host through GUI host opcodes and draws and sets cursors through the platform stand-in.
#pragma once

#include "mv_sdk2/mv_gui.h"
#include "mvp/win_types.h"
#include "view_core.h"

namespace tallisk_view {

// Pin indices, in description order.
enum Pin { kWaveIn = 0, kModePin = 1, kWaveOut = 2, kReadout = 3, kPinCount = 4 };

constexpr int kPanelWidth = 180;
constexpr int kPanelHeight = 100;

class WaveView : public MVGUI_base, public ViewCore {
public:
    WaveView(MVHostCallback callback, intptr_t host_value);
    ~WaveView() override;

    void guiOpen(bool flag) override;
    void paint(int dc, MVPanelRecord* panel) override;
    void pointerDown(MVPanelRecord* panel, float opt, int x, int y) override;
    void pointerUp(MVPanelRecord* panel, float opt, int x, int y) override;
    void pointerMove(MVPanelRecord* panel, float opt, int x, int y) override;
    void gui9(void* ptr) override;
    bool idle() override;
    void connected(int pin) override;
    void disconnected(int pin) override;
    void pinChanged(MVPinChangedRecord* record) override;

protected:
    void send_message(const char* text) override;
    void write_readout(const char* text) override;
    void capture_mouse() override;
    void release_mouse() override;
    bool mouse_captured() override;
    void request_repaint() override;
    void mode_changed() override;
    void show_mode_cursor() override;

private:
    mvp::HCURSOR m_mode_cursor = 0;
    mvp::HCURSOR m_previous_cursor = 0;
};

}  // namespace tallisk_view
