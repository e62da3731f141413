// The colour picker's panel, chooser and publishing.
#include "colour_panel.h"

#include <cstdio>

#include "mvp/common_dialogs.h"
#include "mvp/gdi.h"
#include "mvp/window.h"

namespace color_picker {

ColourPanel::ColourPanel(MVHostCallback callback, intptr_t host_value) : MVGUI_base(callback, host_value) {
    // The chooser's custom row starts as a grey ramp from black to white, so it offers something
    // useful before the user has stored any colours of their own.
    for (size_t i = 0; i < m_custom.size(); ++i) {
        const auto level = static_cast<mvp::BYTE>(i * 17);
        m_custom[i] = mvp::RGB(level, level, level);
    }
    CallHost(GM_SET_SIZE, kPanelWidth, kPanelHeight);
    CallHost(GM_PANEL_SETUP_4, 0);
}

void ColourPanel::guiOpen(bool flag) {
    if (!flag) setPinInt(kRgbStore, static_cast<int32_t>(kWhite));
    m_colour = static_cast<uint32_t>(getPinInt(kRgbStore)) & 0xFFFFFF;
}

void ColourPanel::paint(int dc, MVPanelRecord* panel) {
    if (!panel) return;
    const mvp::HBRUSH brush = mvp::CreateSolidBrush(m_colour);
    const mvp::RECT all{0, 0, panel->width + 1, panel->height + 1};
    mvp::FillRect(dc, &all, brush);
    mvp::DeleteObject(brush);
}

void ColourPanel::pinChanged(MVPinChangedRecord* record) {
    if (!record || record->pin_index != kOpen) return;
    const int32_t v = getPinInt(kOpen);
    if (v == 0 && m_previous_open != 0) {
        run_chooser();
        publish();
        CallHost(GM_REPAINT);
    }
    m_previous_open = static_cast<int16_t>(v);
}

void ColourPanel::run_chooser() {
    mvp::CHOOSECOLORA request;
    request.hwndOwner = mvp::GetForegroundWindow();
    request.rgbResult = m_colour;
    request.lpCustColors = m_custom.data();
    request.Flags = mvp::CC_RGBINIT | mvp::CC_FULLOPEN;
    if (mvp::ChooseColorA(&request) == 1) m_colour = request.rgbResult & 0xFFFFFF;
}

void ColourPanel::publish() {
    char text[8];
    std::snprintf(text, sizeof text, "%d", mvp::GetRValue(m_colour));
    setPinText(kRed, text);
    std::snprintf(text, sizeof text, "%d", mvp::GetGValue(m_colour));
    setPinText(kGreen, text);
    std::snprintf(text, sizeof text, "%d", mvp::GetBValue(m_colour));
    setPinText(kBlue, text);
    setPinInt(kRgb, static_cast<int32_t>(m_colour));
    setPinInt(kRgbStore, static_cast<int32_t>(m_colour));
}

}  // namespace color_picker
