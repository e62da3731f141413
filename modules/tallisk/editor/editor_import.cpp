// The editor's WAV and BMP imports and the expression dialog's actions.
#include <cstring>

#include "bmp_reader.h"
#include "editor_core.h"
#include "expression.h"
#include "generators.h"
#include "wav_reader.h"

namespace tallisk {

void EditorCore::after_import(bool) {
    zero_non_finite(m_bank->edit, kWaveLength);
    refresh();
    m_bank->modified = true;
}

void EditorCore::import_wav_file(const std::string& path) {
    copy_text(m_bank->text.wave_folder, kPathSize, path.c_str());
    const ImportResult r = read_wav_file(path, m_bank->edit);
    if (!r.ok && !r.message.empty())
        m_ui->message_box(r.message, r.caption, MessageButtons::Ok, MessageIcon::Warning);
    after_import(r.ok);
}

void EditorCore::import_bmp_file(const std::string& path) {
    copy_text(m_bank->text.picture_folder, kPathSize, path.c_str());
    const ImportResult r = read_bmp_file(path, m_bank->edit);
    if (!r.ok && !r.message.empty())
        m_ui->message_box(r.message, r.caption, MessageButtons::Ok, MessageIcon::Warning);
    after_import(r.ok);
}

void EditorCore::import_wav() {
    FileRequest request{{{"Windows PCM (*.wav)", "*.WAV"}}, "", m_bank->text.wave_folder, 260};
    if (const auto chosen = m_ui->open_file(request)) import_wav_file(*chosen);
}

void EditorCore::import_bmp() {
    FileRequest request{{{"8-Bit BMP Files (*.BMP)", "*.BMP"}}, "", m_bank->text.picture_folder, 260};
    if (const auto chosen = m_ui->open_file(request)) import_bmp_file(*chosen);
}

void EditorCore::process_expressions(const std::array<std::string, 7>& texts) {
    std::array<std::string, kExpressionSlots> stored;
    for (int l = 0; l < kExpressionSlots; ++l) {
        copy_text(m_bank->text.expressions[l], kExpressionLength, texts[l].c_str());
        stored[l] = m_bank->text.expressions[l];
    }
    std::memcpy(m_bank->undo, m_bank->edit, sizeof m_bank->undo);
    m_undo_ready = true;
    const EvaluationResult r = evaluate_expressions(stored, m_settings.normalised_output != 0, m_bank->edit);
    if (!r.ok) {
        m_ui->message_box(r.message, "QB_TKMAIN", MessageButtons::Ok, MessageIcon::None);
        return;
    }
    refresh();
}

void EditorCore::show_expression_help() {
    m_ui->message_box(kExpressionHelp, "Help", MessageButtons::Ok, MessageIcon::Information);
}

}  // namespace tallisk
