// The command menu, built anew for every click from the editor's state, and the commands it runs.
#include <string>

#include "clipboard.h"
#include "mvp/menu.h"
#include "wavetable_editor.h"

namespace tallisk {

namespace {

constexpr int kReloadTextSize = 32;  // the entry text holds at most 31 characters

enum Section { kSectionWaveform, kSectionFile, kSectionNew, kSectionEdit, kSectionCopyPaste };

const char* const kShapeNames[] = {"Silence", "Sinus", "Sawtooth", "Ramp", "Triangle", "Square", "Pulse"};

void add(mvp::HMENU menu, mvp::UINT id, const char* text, mvp::UINT flags = 0) {
    mvp::AppendMenuA(menu, mvp::MF_STRING | flags, id, text);
}

void add_popup(mvp::HMENU menu, mvp::HMENU sub, const char* text) {
    mvp::AppendMenuA(menu, mvp::MF_POPUP, static_cast<uintptr_t>(sub), text);
}

void separator(mvp::HMENU menu) { mvp::AppendMenuA(menu, mvp::MF_SEPARATOR, 0, nullptr); }

// "Reload NAME" with the bank's file name (after the last separator; the whole path when it has
// none), cut to the entry's size.
std::string reload_text(const char* bank_path) {
    const std::string path = bank_path;
    const size_t cut = path.find_last_of("/\\");
    std::string text = "Reload " + (cut == std::string::npos ? path : path.substr(cut + 1));
    if (text.size() > kReloadTextSize - 1) text.resize(kReloadTextSize - 1);
    return text;
}

}  // namespace

mvp::HMENU WavetableEditor::build_menu() {
    const EditorSettings& s = settings();
    const WaveformBank& b = bank();
    const mvp::UINT paste_flags = shared_clipboard().paste_grayed ? mvp::UINT{mvp::MF_GRAYED} : 0u;
    const mvp::HMENU menu = mvp::CreatePopupMenu();

    if (s.menu_sections[kSectionWaveform]) {
        const mvp::HMENU waves = mvp::CreatePopupMenu();
        for (int i = 0; i < kWaveCount; ++i) {
            mvp::UINT flags = s.menu_marks[i] == 8 ? mvp::UINT{mvp::MF_CHECKED} : 0u;
            if (i % 16 == 0) flags |= mvp::MF_MENUBREAK;
            add(waves, kCmdFirstWaveform + i, b.text.names[i], flags);
        }
        add_popup(menu, waves, "Waveform");
    }
    if (s.menu_sections[kSectionFile]) {
        const mvp::HMENU file = mvp::CreatePopupMenu();
        add(file, kCmdLoadBank, "Load bank");
        add(file, kCmdSaveBank, "Save bank");
        if (b.text.bank_path[0] != '\0') add(file, kCmdReload, reload_text(b.text.bank_path).c_str());
        add(file, kCmdImportWav, "Import .wav");
        add(file, kCmdImportBmp, "Import .bmp");
        add_popup(menu, file, "File");
    }
    if (s.menu_sections[kSectionNew]) {
        const mvp::HMENU fresh = mvp::CreatePopupMenu();
        add(fresh, kCmdNewBank, "New Bank");
        separator(fresh);
        for (int i = 0; i < 7; ++i) add(fresh, kCmdFirstShape + i, kShapeNames[i]);
        add_popup(menu, fresh, "New");
    }
    if (s.menu_sections[kSectionEdit]) {
        const mvp::HMENU edit = mvp::CreatePopupMenu();
        add(edit, kCmdEvaluate, "Evaluate");
        add(edit, kCmdNormalize, "Normalize");
        add(edit, kCmdMirror, "Mirror");
        add(edit, kCmdMixPaste, "Mix Paste", paste_flags);
        separator(edit);
        add(edit, kCmdRename, "Rename");
        add_popup(menu, edit, "Edit");
    }
    // Host mode 2 leaves the look to the host; the stored settings still apply.
    if (s.host_mode != 2) {
        const mvp::HMENU options = mvp::CreatePopupMenu();
        add(options, kCmdBackColour, "Back color");
        add(options, kCmdDrawColour, "Draw color");
        add(options, kCmdTransparent, "Transparent", s.transparent == 8 ? mvp::UINT{mvp::MF_CHECKED} : 0u);
        add(options, kCmdUseImage, "Use image", s.picture_mode == 8 ? mvp::UINT{mvp::MF_CHECKED} : 0u);
        add(options, kCmdLoadImage, "Load image");
        add_popup(menu, options, "Options");
    }
    if (s.menu_sections[kSectionCopyPaste]) {
        separator(menu);
        add(menu, kCmdCopy, "Copy");
        add(menu, kCmdPaste, "Paste", paste_flags);
    }
    return menu;
}

void WavetableEditor::run_command(int id) {
    EditorSettings& s = settings();
    if (id >= kCmdFirstWaveform && id < kCmdFirstWaveform + kWaveCount) {
        // The switch itself follows the host's report of the pin change.
        write_pin_int(kPinWaveform, id - kCmdFirstWaveform);
        return;
    }
    if (id >= kCmdFirstShape && id < kCmdFirstShape + 7) {
        apply_shape(static_cast<Shape>(id - kCmdFirstShape));
        return;
    }
    switch (id) {
    case kCmdCopy: copy(); break;
    case kCmdPaste: paste(); break;
    case kCmdMixPaste: mix_paste_dialog(); break;
    case kCmdSaveBank: save_bank(nullptr); break;
    case kCmdLoadBank: menu_load_bank(); break;
    case kCmdImportWav: import_wav(); break;
    case kCmdImportBmp: import_bmp(); break;
    case kCmdMirror: mirror(); break;
    case kCmdNewBank: new_bank(); break;
    case kCmdRename:
        rename_dialog();
        bank().modified = true;
        break;
    case kCmdEvaluate:
        expression_dialog();
        bank().modified = true;
        break;
    case kCmdNormalize: normalize(); break;
    case kCmdBackColour:
        choose_colour(&s.back_colour);
        settings_broadcast();
        break;
    case kCmdDrawColour:
        choose_colour(&s.draw_colour);
        settings_broadcast();
        break;
    case kCmdTransparent:
        s.transparent = s.transparent == 0 ? 8 : 0;
        settings_broadcast();
        break;
    case kCmdUseImage:
        if (s.picture_mode != 0) {
            s.picture_mode = 0;
            store_settings();
            break;
        }
        [[fallthrough]];
    case kCmdLoadImage:
        s.picture_mode = 8;
        picture_dialog();
        store_settings();
        break;
    case kCmdReload: reload_bank(); break;
    default: break;
    }
}

}  // namespace tallisk
