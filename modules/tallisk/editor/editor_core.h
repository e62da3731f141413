// The wavetable editor's logic, free of the SDK: the bank operations, the view link, the edits and
// (with bank_file, wav_import, bmp_import, expression) the file and expression operations. The
// plug-in's WavetableEditor derives from it and from MVGUI_base and supplies the pin access below;
// tests derive from it with a scripted host.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "editor_ui.h"
#include "generators.h"
#include "real_fft.h"
#include "waveform_bank.h"

namespace tallisk {

// Pin numbers on the editor side (the full description list of the deliverable).
enum GuiPin {
    kPinWbfPath = 0,
    kPinPitch = 1,
    kPinMorph = 2,
    kPinWaveIn = 3,
    kPinFftIn = 4,
    kPinTextIn = 5,
    kPinFreqScale = 6,
    kPinWaveform = 7,
    kPinMorphSwitch = 8,
    kPinOutput = 9,
    kPinTablePtr = 10,
    kPinWaveOut = 11,
    kPinFftOut = 12,
    kPinTextOut = 13,
    kPinSettings = 14,
    kPinMenuCaption = 15,
};

// The identifier of the audio object's request for the table address: "ptr" packed little-endian.
constexpr int kTableRequestId = 0x00727470;
constexpr int kTableAnswerLength = 30;

// Panel and view settings whose addresses travel over the view link (codes 0, 1, 3) and the rest of
// the panel's state; the panel and its menus read and write them.
struct EditorSettings {
    uint32_t back_colour = 0x000000;
    uint32_t draw_colour = 0x507FFF;
    int32_t transparent = 0;   // 0 or 8
    int32_t picture_mode = 0;  // 0 or 8
    int32_t normalised_output = 1;
    int32_t host_mode = 0;
    int32_t menu_sections[5] = {1, 1, 1, 1, 1};
    int32_t menu_marks[kWaveCount] = {};  // 8 on the current waveform
    int32_t previous = 0;
    char caption[33] = "Options";
};

class EditorCore {
public:
    explicit EditorCore(EditorUi* ui);
    virtual ~EditorCore();
    EditorCore(const EditorCore&) = delete;
    EditorCore& operator=(const EditorCore&) = delete;

    // ---- bank operations
    void select_waveform(int n);
    void refresh();
    void store_current();
    void build_levels(int w, int s);
    void rebuild_all();
    void resynthesise();

    // ---- generators and edits (each ends as its menu entry does)
    void apply_shape(Shape shape);
    void normalize();
    void mirror();
    void copy();
    void paste();
    void mix_paste(float mix);
    // The "MixPaste" dialog mixes from the edit buffer as the user sees it when the dialog opens,
    // not from the stored copy (which lacks drawings not yet stored): `begin` keeps that buffer,
    // `preview` mixes it with the clipboard, `cancel` gives it back exactly.
    void begin_mix_paste();
    void preview_mix_paste(float mix);
    void cancel_mix_paste();
    // Gives back the buffer as it was before the last "Process"; nothing before the first one.
    void undo();
    void rename(const char* text);

    // ---- bank files (the path, or the file dialog when none)
    bool save_bank(const char* path = nullptr);
    void load_bank(const char* path = nullptr);
    void new_bank();
    void menu_load_bank();  // "Load bank": the save question first
    void reload_bank();
    void confirm_save_on_close();

    // ---- imports into the edit buffer (file dialog, read, refresh, modified)
    void import_wav();
    void import_bmp();
    // The same without the dialog, for a chosen path.
    void import_wav_file(const std::string& path);
    void import_bmp_file(const std::string& path);

    // ---- expressions: "Process" of the evaluator dialog with its seven texts (v1..v6, output)
    void process_expressions(const std::array<std::string, 7>& texts);
    void show_expression_help();
    std::string expression_text(int slot) const { return m_bank->text.expressions[slot]; }

    // ---- host events
    void initialise(bool flag);
    void pin_changed(int pin);
    void message(int id, int length, const void* data);
    void connected(int pin);

    // ---- view link senders
    void send_fft_answer();
    void send_wave_answer();
    void send_level_refresh();

    WaveformBank& bank() { return *m_bank; }
    const WaveformBank& bank() const { return *m_bank; }
    EditorSettings& settings() { return m_settings; }
    // The address handed to the oscillator on "table_ptr" as decimal text.
    const char* table_text() const { return m_table_text; }
    const LevelStore* level_store() const { return &m_bank->levels; }
    int morph_switch() const { return m_morph_switch; }
    EditorUi& ui() { return *m_ui; }

protected:
    // Pin and host access the deriving class supplies.
    virtual void write_pin_text(int pin, const char* text) = 0;
    virtual std::string read_pin_text(int pin) = 0;
    virtual int32_t read_pin_int(int pin) = 0;
    virtual void write_pin_int(int pin, int32_t value) = 0;
    virtual void request_repaint() = 0;
    virtual void send_to_audio(int id, int length, const void* data) = 0;
    // The host's folder as local text (at most 300 characters), empty when it reports none.
    virtual std::string host_folder() = 0;

private:
    void load_edit_from(int n);
    void forward_edit();
    void send(int pin, int code, const void* address);
    void write_name_out();
    void handle_wave_in();
    void handle_fft_in();
    void handle_text_in();
    void handle_waveform_pin();
    void handle_morph_switch_pin();
    void write_table_pointer();
    void handle_wbf_path_pin();
    void refuse_long_bank_path();
    void set_bank_path(const std::string& path);
    void after_import(bool ok);
    bool ask_save(const char* text, const char* caption);

    std::unique_ptr<WaveformBank> m_bank;
    RealFft m_fft;
    EditorUi* m_ui;
    EditorSettings m_settings;
    int m_morph_switch = 0;
    char m_table_text[32] = {};
    float m_mix_base[kWaveLength] = {};
    bool m_mix_base_modified = false;
    bool m_undo_ready = false;
};

}  // namespace tallisk
