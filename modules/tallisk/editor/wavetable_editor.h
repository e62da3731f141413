// WavetableEditor, the GUI object of tallisk (kind 2): the SDK adapter that owns the bank through
// EditorCore, reaches the host's pins through GUI host opcodes, and draws the panel whose click
// opens the command menu.
#pragma once

#include <string>

#include "editor_core.h"
#include "mv_sdk2/mv_gui.h"
#include "mvp/win_types.h"
#include "picture.h"

namespace tallisk {

// Menu command identifiers.
enum MenuCommand {
    kCmdCopy = 1,
    kCmdPaste = 2,
    kCmdMixPaste = 3,
    kCmdSaveBank = 4,
    kCmdLoadBank = 5,
    kCmdImportWav = 7,
    kCmdImportBmp = 8,
    kCmdMirror = 9,
    kCmdNewBank = 10,
    kCmdFirstShape = 11,  // 11..17: Silence .. Pulse
    kCmdFirstWaveform = 18,  // 18..81
    kCmdRename = 82,
    kCmdEvaluate = 83,
    kCmdNormalize = 84,
    kCmdBackColour = 87,
    kCmdDrawColour = 88,
    kCmdTransparent = 89,
    kCmdLoadImage = 91,
    kCmdUseImage = 92,
    kCmdReload = 93,
};

class WavetableEditor : public MVGUI_base, public EditorCore {
public:
    WavetableEditor(MVHostCallback callback, intptr_t host_value);
    ~WavetableEditor() override;

    void guiOpen(bool flag) override;
    void paint(int dc, MVPanelRecord* panel) override;
    void pointerDown(MVPanelRecord* panel, float opt, int x, int y) override;
    void guiMessage(int id, int length, void* data) override;
    void pinChanged(MVPinChangedRecord* record) override;
    void connected(int pin) override;
    bool idle() override { return true; }

    // The menu for the editor's present state (the caller destroys it).
    mvp::HMENU build_menu();
    void run_command(int id);
    const BackgroundPicture& picture() const { return m_picture; }

protected:
    void write_pin_text(int pin, const char* text) override;
    std::string read_pin_text(int pin) override;
    int32_t read_pin_int(int pin) override;
    void write_pin_int(int pin, int32_t value) override;
    void request_repaint() override;
    void send_to_audio(int id, int length, const void* data) override;
    std::string host_folder() override;

private:
    // The first context up the host's chain that has a window, and the click in screen pixels.
    mvp::HWND find_owner(intptr_t context, int x, int y, mvp::POINT* screen);
    void apply_stored_settings();
    void store_settings();
    void settings_broadcast();
    void choose_colour(uint32_t* colour);
    void picture_dialog();
    bool load_picture(const std::string& path);
    void rename_dialog();
    void mix_paste_dialog();
    void expression_dialog();

    BackgroundPicture m_picture;
    mvp::HWND m_owner = 0;
};

}  // namespace tallisk
