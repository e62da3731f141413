// The editor's GUI dispatch and its pin access through the host.
#include "wavetable_editor.h"

#include "platform_ui.h"

namespace tallisk {

WavetableEditor::WavetableEditor(MVHostCallback callback, intptr_t host_value)
    : MVGUI_base(callback, host_value), EditorCore(&platform_ui()) {
    CallHost(GM_PANEL_SETUP_4, 1);
    CallHost(GM_SET_SIZE, 50, 50);
    CallHost(GM_PANEL_SETUP_11);
}

WavetableEditor::~WavetableEditor() = default;

void WavetableEditor::guiOpen(bool flag) { initialise(flag); }

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
    std::string text;
    for (int i = 0; i < kPathSize && wide[i]; ++i) text += wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?';
    return text;
}

}  // namespace tallisk
