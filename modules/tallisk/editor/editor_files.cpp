// The editor's bank file operations: save, load with its host-folder fallback, new, reload.
#include <cstring>

#include "bank_file.h"
#include "editor_core.h"
#include "file_bytes.h"

namespace tallisk {

namespace {

// Both separators count: the paths come from this platform and from patches made on Windows.
size_t last_separator(const std::string& path) { return path.find_last_of("/\\"); }

std::string file_name_of(const std::string& path) {
    const size_t s = last_separator(path);
    return s == std::string::npos ? path : path.substr(s + 1);
}

}  // namespace

void EditorCore::set_bank_path(const std::string& path) {
    copy_text(m_bank->text.bank_path, kPathSize, path.c_str());
}

bool EditorCore::ask_save(const char* text, const char* caption) {
    return m_ui->message_box(text, caption, MessageButtons::YesNo, MessageIcon::Question) == MessageAnswer::Yes;
}

bool EditorCore::save_bank(const char* path) {
    if (!path) {
        // The dialog writes into the bank path itself; cancelling leaves it empty.
        set_bank_path("");
        FileRequest request{{{"Waveform bank files (.wb1)", "*.wb1"}}, "wb1", m_bank->text.bank_folder, kPathSize};
        const auto chosen = m_ui->save_file(request);
        if (!chosen) return false;
        set_bank_path(*chosen);
        copy_text(m_bank->text.bank_folder, kPathSize, m_bank->text.bank_path);
    } else if (path != m_bank->text.bank_path) {
        set_bank_path(path);
    }
    store_current();
    const std::string target = m_bank->text.bank_path;
    switch (write_file_atomically(target, encode_wb1(*m_bank))) {
    case SaveError::CannotOpen:
        m_ui->message_box("Cannot open file !", "Error", MessageButtons::Ok, MessageIcon::Warning);
        return false;
    case SaveError::WriteFailed:
        m_ui->message_box("Cannot write to file !\nThe bank was not saved; the old file is unchanged.", "Error",
                          MessageButtons::Ok, MessageIcon::Warning);
        return false;
    case SaveError::None: break;
    }
    m_bank->modified = false;
    write_pin_text(kPinWbfPath, m_bank->text.bank_path);
    return true;
}

void EditorCore::load_bank(const char* path) {
    if (!path) {
        set_bank_path("");
        FileRequest request{{{"Tallisk bank files (.wb1)", "*.wb1"}, {"Tallisk bank files [16 waveforms](.wbf)", "*.wbf"}},
                            "wbf",
                            m_bank->text.bank_folder,
                            kPathSize};
        const auto chosen = m_ui->open_file(request);
        if (!chosen) return;
        set_bank_path(*chosen);
        copy_text(m_bank->text.bank_folder, kPathSize, m_bank->text.bank_path);
    } else if (path != m_bank->text.bank_path) {
        set_bank_path(path);
    }

    const std::string wanted = m_bank->text.bank_path;
    auto bytes = read_file_bytes(wanted, kWb1Bytes, {"WB1 ", "WBF "});
    if (!bytes) {
        // The patch may have moved: look for the file in the host's folder.
        std::string folder = host_folder();
        const size_t cut = last_separator(folder);
        folder = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
        const std::string moved = folder + file_name_of(wanted);
        bytes = read_file_bytes(moved, kWb1Bytes, {"WB1 ", "WBF "});
        if (!bytes) {
            const std::string text = "Could not find file " + wanted + ".\nWould you like to search manually ?";
            if (m_ui->message_box(text, "Error", MessageButtons::YesNo, MessageIcon::Question) == MessageAnswer::Yes)
                load_bank(nullptr);
            return;
        }
        // From now on the bank lives where it was found: saving and reloading go there.
        set_bank_path(moved);
    }

    BankImage image;
    switch (decode_bank(bytes->data(), bytes->size(), &image)) {
    case BankReadError::TooShortForMagic: return;
    case BankReadError::BadMagic:
        m_ui->message_box("Invalid file format !", "Tallisk", MessageButtons::Ok, MessageIcon::Warning);
        return;
    case BankReadError::ShortData:
        // Nothing was stored: the bank stays exactly as it was.
        m_ui->message_box("Cannot read from file !", "Tallisk", MessageButtons::Ok, MessageIcon::Warning);
        return;
    case BankReadError::None: break;
    }
    store_bank_image(image, m_bank->current, *m_bank);
    // Reload the edit buffer from the freshly loaded bank (storing it first would overwrite the
    // loaded current waveform with the old edit buffer).
    load_edit_from(m_bank->current);
    write_pin_text(kPinWbfPath, m_bank->text.bank_path);
    m_morph_switch = read_pin_int(kPinMorphSwitch);
    if (m_morph_switch == 1) rebuild_all();
}

void EditorCore::menu_load_bank() {
    if (m_bank->modified && ask_save("Save current bank ?", "Save")) save_bank(nullptr);
    load_bank(nullptr);
}

void EditorCore::new_bank() {
    if (m_bank->modified && ask_save("Save current bank ?", "Save")) save_bank(nullptr);
    std::memset(m_bank->spectra, 0, sizeof m_bank->spectra);
    std::memset(m_bank->edit, 0, sizeof m_bank->edit);
    std::memset(m_bank->waves, 0, sizeof m_bank->waves);
    std::memset(m_bank->text.names, 0, sizeof m_bank->text.names);
    set_bank_path("");
    write_pin_text(kPinWbfPath, "");
    m_bank->reset_names();
    // The current waveform's levels follow at once, whether or not the pin moves.
    load_edit_from(m_bank->current);
    write_pin_int(kPinWaveform, 0);
    m_morph_switch = read_pin_int(kPinMorphSwitch);
    if (m_morph_switch == 1) rebuild_all();
}

void EditorCore::reload_bank() {
    if (m_bank->text.bank_path[0] == '\0') return;
    const std::string path = m_bank->text.bank_path;
    load_bank(path.c_str());
}

void EditorCore::confirm_save_on_close() {
    if (!m_bank->modified) return;
    if (ask_save("You have made changes on your waveforms. Would you like to save changes ?", "TK_MAIN"))
        save_bank(nullptr);
}

void EditorCore::refuse_long_bank_path() {
    m_ui->message_box("The bank path is longer than 299 characters; the bank was not loaded.", "Error",
                      MessageButtons::Ok, MessageIcon::Warning);
}

void EditorCore::handle_wbf_path_pin() {
    // A path too long for the bank path is refused whole: a cut path would name another file.
    const std::string path = read_pin_text(kPinWbfPath);
    if (path.size() > kPathSize - 1) {
        refuse_long_bank_path();
        return;
    }
    if (path == m_bank->text.bank_path) return;
    if (path.empty()) return;
    load_bank(path.c_str());
}

}  // namespace tallisk
