// The editor's bank operations, edits and view link.
#include "editor_core.h"

#include <algorithm>
#include <cstring>

#include "clipboard.h"
#include "level_builder.h"
#include "view_link.h"

namespace tallisk {

namespace {

// Answers every box with its default button and cancels every chooser: the editor's behaviour when
// no one is there to ask.
class DefaultUi : public EditorUi {
public:
    MessageAnswer message_box(const std::string&, const std::string&, MessageButtons buttons,
                              MessageIcon) override {
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    std::optional<std::string> open_file(const FileRequest&) override { return std::nullopt; }
    std::optional<std::string> save_file(const FileRequest&) override { return std::nullopt; }
};

EditorUi* default_ui() {
    static DefaultUi ui;
    return &ui;
}

}  // namespace

EditorCore::EditorCore(EditorUi* ui) : m_bank(std::make_unique<WaveformBank>()), m_ui(ui ? ui : default_ui()) {
    copy_text(m_table_text, sizeof m_table_text, format_address(&m_bank->levels).c_str());
    shared_clipboard().paste_grayed = true;
}

EditorCore::~EditorCore() = default;

// ---- bank operations ---------------------------------------------------------------------------

void EditorCore::store_current() {
    std::memcpy(m_bank->waveform(m_bank->current), m_bank->edit, sizeof(float) * kWaveLength);
}

void EditorCore::build_levels(int w, int s) {
    if (w < 0 || w >= kWaveCount || s < 0 || s >= kSpectrumSlots) return;
    LevelStore& levels = m_bank->levels;
    build_level_block(m_fft, m_bank->spectrum(s), levels.begin_replace(w));
    levels.commit_replace(w);
}

void EditorCore::forward_edit() { m_fft.forward(kWaveLength, m_bank->edit, m_bank->spectrum(0)); }

void EditorCore::load_edit_from(int n) {
    m_bank->current = n;
    std::memcpy(m_bank->edit, m_bank->waveform(n), sizeof(float) * kWaveLength);
    forward_edit();
    // A spectrum view learns that slot 0 now belongs to another waveform.
    send(kPinFftOut, kViewCommit, nullptr);
    build_levels(n, 0);
    m_settings.menu_marks[m_settings.previous] = 0;
    m_settings.menu_marks[n] = 8;
    m_settings.previous = n;
    send(kPinFftOut, kViewRefresh, nullptr);
    send(kPinFftOut, kViewRedraw, nullptr);
    send(kPinWaveOut, kViewRefresh, nullptr);
    send(kPinWaveOut, kViewRedraw, nullptr);
    write_name_out();
}

void EditorCore::select_waveform(int n) {
    if (n < 0 || n >= kWaveCount) return;
    store_current();
    load_edit_from(n);
}

void EditorCore::refresh() {
    forward_edit();
    build_levels(m_bank->current, 0);
    send_level_refresh();
    request_repaint();
}

void EditorCore::rebuild_all() {
    // The current waveform is being edited: its stored copy is stale, so it is built from the edit
    // buffer's spectrum in slot 0 and its stored copy is left alone (Mix Paste reads it).
    for (int w = 0; w < kWaveCount; ++w) {
        if (w == m_bank->current) {
            build_levels(w, 0);
            continue;
        }
        m_fft.forward(kWaveLength, m_bank->waveform(w), m_bank->spectrum(1));
        build_levels(w, 1);
    }
}

void EditorCore::resynthesise() {
    // The peer wrote the spectrum directly: no NaN or infinity from it may reach the tables.
    zero_non_finite(m_bank->spectrum(0), kWaveLength);
    m_fft.inverse(kWaveLength, m_bank->spectrum(0), m_bank->edit);
    for (int i = 0; i < kWaveLength; ++i) m_bank->edit[i] *= kInverseScale;
    zero_non_finite(m_bank->edit, kWaveLength);
    normalise(m_bank->edit, kWaveLength, 1.0f);
    forward_edit();
    build_levels(m_bank->current, 0);
    send(kPinWaveOut, kViewRefresh, nullptr);
    send(kPinWaveOut, kViewRedraw, nullptr);
}

// ---- generators and edits ----------------------------------------------------------------------

void EditorCore::apply_shape(Shape shape) {
    generate(shape, m_bank->edit);
    refresh();
    m_bank->modified = true;
}

void EditorCore::normalize() {
    normalise(m_bank->edit, kWaveLength, 1.0f);
    send_level_refresh();
}

void EditorCore::mirror() {
    tallisk::mirror(m_bank->edit);
    refresh();
    m_bank->modified = true;
}

void EditorCore::copy() {
    SharedClipboard& clip = shared_clipboard();
    std::memcpy(clip.samples, m_bank->edit, sizeof clip.samples);
    clip.paste_grayed = false;
}

void EditorCore::paste() { mix_paste(1.0f); }

void EditorCore::mix_paste(float mix) {
    tallisk::mix_paste(m_bank->edit, m_bank->waveform(m_bank->current), shared_clipboard().samples, mix);
    m_bank->modified = true;
    refresh();
}

void EditorCore::begin_mix_paste() {
    std::memcpy(m_mix_base, m_bank->edit, sizeof m_mix_base);
    m_mix_base_modified = m_bank->modified;
}

void EditorCore::preview_mix_paste(float mix) {
    tallisk::mix_paste(m_bank->edit, m_mix_base, shared_clipboard().samples, mix);
    m_bank->modified = true;
    refresh();
}

void EditorCore::cancel_mix_paste() {
    std::memcpy(m_bank->edit, m_mix_base, sizeof m_mix_base);
    m_bank->modified = m_mix_base_modified;
    refresh();
}

void EditorCore::undo() {
    // The undo buffer holds nothing of the user's until a "Process" has filled it.
    if (!m_undo_ready) return;
    std::memcpy(m_bank->edit, m_bank->undo, sizeof m_bank->undo);
    refresh();
}

void EditorCore::rename(const char* text) {
    m_bank->set_name(m_bank->current, text);
    m_bank->modified = true;
}

// ---- view link ---------------------------------------------------------------------------------

void EditorCore::send(int pin, int code, const void* address) {
    write_pin_text(pin, format_view_message(code, address).c_str());
}

void EditorCore::send_level_refresh() {
    send(kPinFftOut, kViewRefresh, nullptr);
    send(kPinFftOut, kViewRedraw, nullptr);
    send(kPinWaveOut, kViewRefresh, nullptr);
    send(kPinWaveOut, kViewRedraw, nullptr);
}

void EditorCore::send_fft_answer() {
    send(kPinFftOut, kViewSpectrum, m_bank->spectrum(0));
    send(kPinFftOut, kViewTransparent, &m_settings.transparent);
    send(kPinFftOut, kViewBackColour, &m_settings.back_colour);
    send(kPinFftOut, kViewDrawColour, &m_settings.draw_colour);
    send(kPinFftOut, kViewTimestamp, nullptr);
    send(kPinFftOut, kViewCommit, nullptr);
}

void EditorCore::send_wave_answer() {
    send(kPinWaveOut, kViewEditBuffer, m_bank->edit);
    send(kPinWaveOut, kViewTransparent, &m_settings.transparent);
    send(kPinWaveOut, kViewBackColour, &m_settings.back_colour);
    send(kPinWaveOut, kViewDrawColour, &m_settings.draw_colour);
    send(kPinWaveOut, kViewTimestamp, nullptr);
}

void EditorCore::write_name_out() { write_pin_text(kPinTextOut, m_bank->name(m_bank->current)); }

void EditorCore::handle_wave_in() {
    const std::string text = read_pin_text(kPinWaveIn);
    const ViewMessage m = parse_view_message(text.c_str());
    if (!m.has_code) return;
    switch (m.code) {
    case kViewCommit:
        // The peer wrote the edit buffer directly; whatever it wrote must be a sound.
        zero_non_finite(m_bank->edit, kWaveLength);
        forward_edit();
        build_levels(m_bank->current, 0);
        send_level_refresh();
        break;
    case kViewRequest: send_wave_answer(); break;
    case kViewStep:
        if (!m.has_argument) break;
        if (m.argument == 0) write_pin_int(kPinWaveform, (m_bank->current + kWaveCount - 1) % kWaveCount);
        else if (m.argument == 1) write_pin_int(kPinWaveform, (m_bank->current + 1) % kWaveCount);
        break;
    case kViewModified: m_bank->modified = true; break;
    default: break;
    }
}

void EditorCore::handle_fft_in() {
    const std::string text = read_pin_text(kPinFftIn);
    const ViewMessage m = parse_view_message(text.c_str());
    if (!m.has_code) return;
    switch (m.code) {
    case kViewSpectrumChanged: resynthesise(); break;
    case kViewRequest: send_fft_answer(); break;
    case kViewModified: m_bank->modified = true; break;
    default: break;
    }
}

void EditorCore::handle_text_in() {
    const std::string text = read_pin_text(kPinTextIn);
    m_bank->set_name(m_bank->current, text.c_str());
}

void EditorCore::handle_waveform_pin() {
    const int32_t n = read_pin_int(kPinWaveform);
    // Values outside the bank select nothing; the oscillator stays silent for them.
    if (n < 0 || n >= kWaveCount) return;
    select_waveform(n);
}

void EditorCore::handle_morph_switch_pin() {
    const int32_t value = read_pin_int(kPinMorphSwitch);
    const bool becomes_on = value == 1 && m_morph_switch != 1;
    m_morph_switch = value;
    if (becomes_on) rebuild_all();
}

void EditorCore::write_table_pointer() {
    if (read_pin_text(kPinTablePtr) != m_table_text) write_pin_text(kPinTablePtr, m_table_text);
}

void EditorCore::pin_changed(int pin) {
    switch (pin) {
    case kPinWaveIn: handle_wave_in(); break;
    case kPinFftIn: handle_fft_in(); break;
    case kPinTextIn: handle_text_in(); break;
    case kPinWaveform: handle_waveform_pin(); break;
    case kPinMorphSwitch: handle_morph_switch_pin(); break;
    case kPinTablePtr: write_table_pointer(); break;
    case kPinWbfPath: handle_wbf_path_pin(); break;
    case kPinMenuCaption: {
        const std::string caption = read_pin_text(kPinMenuCaption);
        copy_text(m_settings.caption, sizeof m_settings.caption, caption.c_str());
        request_repaint();
        break;
    }
    default: break;
    }
}

void EditorCore::message(int id, int, const void*) {
    if (id != kTableRequestId) return;
    char answer[kTableAnswerLength + 2] = {};
    std::memcpy(answer, m_table_text, std::min(std::strlen(m_table_text), size_t{kTableAnswerLength}));
    send_to_audio(kTableRequestId, kTableAnswerLength, answer);
}

void EditorCore::connected(int pin) {
    if (pin == kPinTextOut) write_name_out();
}

void EditorCore::initialise(bool flag) {
    // A path too long for the bank path is refused whole: a cut path would name another file.
    const std::string path = read_pin_text(kPinWbfPath);
    if (path.size() <= kPathSize - 1) {
        if (!path.empty()) load_bank(path.c_str());
        write_pin_text(kPinWbfPath, path.c_str());
    } else {
        refuse_long_bank_path();
    }
    int32_t n = read_pin_int(kPinWaveform);
    if (n < 0 || n >= kWaveCount) n = 0;
    m_morph_switch = read_pin_int(kPinMorphSwitch);
    load_edit_from(n);
    write_table_pointer();
    const std::string caption = read_pin_text(kPinMenuCaption);
    copy_text(m_settings.caption, sizeof m_settings.caption, caption.c_str());
    request_repaint();
    if (!flag) {
        std::strcpy(m_settings.caption, "Options");
        write_pin_text(kPinMenuCaption, "Options");
    }
}

}  // namespace tallisk
