// WavetableEditor, the GUI object of tallisk (kind 2): the SDK adapter that owns the bank through
// EditorCore and reaches the host's pins through GUI host opcodes.
#pragma once

#include "editor_core.h"
#include "mv_sdk2/mv_gui.h"

namespace tallisk {

class WavetableEditor : public MVGUI_base, public EditorCore {
public:
    WavetableEditor(MVHostCallback callback, intptr_t host_value);
    ~WavetableEditor() override;

    void guiOpen(bool flag) override;
    void guiMessage(int id, int length, void* data) override;
    void pinChanged(MVPinChangedRecord* record) override;
    void connected(int pin) override;
    bool idle() override { return true; }

protected:
    void write_pin_text(int pin, const char* text) override;
    std::string read_pin_text(int pin) override;
    int32_t read_pin_int(int pin) override;
    void write_pin_int(int pin, int32_t value) override;
    void request_repaint() override;
    void send_to_audio(int id, int length, const void* data) override;
    std::string host_folder() override;
};

}  // namespace tallisk
