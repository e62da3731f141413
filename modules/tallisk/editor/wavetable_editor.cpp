// The editor's GUI dispatch and its pin access through the host.
#include "wavetable_editor.h"

#include "mvp/gdi.h"
#include "platform_ui.h"

namespace tallisk {

WavetableEditor::WavetableEditor(MVHostCallback callback, intptr_t host_value)
    : MVGUI_base(callback, host_value), EditorCore(&platform_ui()) {
    mvp::GdiFlush();
    CallHost(GM_PANEL_SETUP_4, 1);
    CallHost(GM_SET_SIZE, 50, 50);
    CallHost(GM_PANEL_SETUP_11);
}

// The picture member is released after the question, as the last step.
WavetableEditor::~WavetableEditor() { confirm_save_on_close(); }

void WavetableEditor::guiOpen(bool flag) {
    initialise(flag);
    if (flag) apply_stored_settings();
    settings().host_mode = static_cast<int32_t>(CallHost(GM_HOST_MODE));
}

void WavetableEditor::guiMessage(int id, int length, void* data) { message(id, length, data); }

void WavetableEditor::pinChanged(MVPinChangedRecord* record) { pin_changed(record->pin_index); }

void WavetableEditor::connected(int pin) { EditorCore::connected(pin); }

void WavetableEditor::write_pin_text(int pin, const char* text) { setPinText(pin, text); }

std::string WavetableEditor::read_pin_text(int pin) {
    const char* text = getPinText(pin);
    return text ? std::string(text) : std::string();
}

int32_t WavetableEditor::read_pin_int(int pin) { return getPinInt(pin); }

void WavetableEditor::write_pin_int(int pin, int32_t value) { setPinInt(pin, value); }

void WavetableEditor::request_repaint() { CallHost(GM_REPAINT); }

void WavetableEditor::send_to_audio(int id, int length, const void* data) {
    CallHost(GM_SEND_TO_AUDIO, length, id, const_cast<void*>(data));
}

std::string WavetableEditor::host_folder() {
    char16_t wide[kPathSize + 1] = {};
    CallHost(GM_HOST_FOLDER, 0, kPathSize, wide);
    // This platform's local code page is UTF-8.
    std::string text;
    for (int i = 0; i < kPathSize && wide[i]; ++i) {
        uint32_t c = wide[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < kPathSize && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

}  // namespace tallisk
