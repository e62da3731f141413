// The colour picker's GUI object: paints its colour, opens the colour chooser when "Open" is
// released and publishes the chosen colour on its outputs and its patch-stored pin.
#pragma once

#include <array>
#include <cstdint>

#include "mv_sdk2/mv_gui.h"

namespace color_picker {

// Pin indices, in description order.
enum Pin { kRgbStore = 0, kOpen = 1, kRed = 2, kGreen = 3, kBlue = 4, kRgb = 5 };

constexpr int kPanelWidth = 50;
constexpr int kPanelHeight = 25;
constexpr uint32_t kWhite = 0xFFFFFF;

class ColourPanel : public MVGUI_base {
public:
    ColourPanel(MVHostCallback callback, intptr_t host_value);

    void guiOpen(bool flag) override;
    void paint(int dc, MVPanelRecord* panel) override;
    void pinChanged(MVPinChangedRecord* record) override;

private:
    void run_chooser();
    void publish();

    int16_t m_previous_open = 0;
    uint32_t m_colour = kWhite;  // 0x00BBGGRR
    std::array<uint32_t, 16> m_custom;
};

}  // namespace color_picker
