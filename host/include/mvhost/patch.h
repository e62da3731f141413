// Patch files: a JSON description of instances, pin values, wires, timed events and outputs,
// turned into a running Host. See docs/patch-format.md.
#pragma once

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "mvhost/host.h"

namespace mvp {
class ScriptedUser;
}

namespace mvh {

// A patch that cannot be used; the message names the file, the place and the field.
struct PatchError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The JSON of a patch file, for every command that runs one. Throws PatchError naming the file
// ("cannot open", "invalid JSON: ..." with the parser's place).
nlohmann::json read_patch_file(const std::string& path);
// The same for a patch's text, `name` naming it in messages.
nlohmann::json parse_patch_text(const std::vector<unsigned char>& text, const std::string& name);

struct CheckedPatch;

struct TempoPoint {
    int clock;
    double bpm;
};

struct ScheduledEvent {
    enum Kind { PinValue, Midi, Pointer } kind = PinValue;
    int clock = 0;
    long order = 0;
    Instance* inst = nullptr;
    int pin = -1;  // GUI numbering
    mvh::PinValue value;
    int32_t midi = 0;
    int pointer_opcode = 0;
    int x = 0, y = 0;
    // A message of a MIDI file given with `loop_midi`: a live host plays it again each time the
    // file has played through.
    bool looped = false;
};

struct OutputChannel {
    Instance* inst;
    int pin;
    std::string label;
};

// What a command line changes in a patch before it runs. Errors name the option, not the file.
struct PatchOverrides {
    std::vector<std::string> set;   // "INSTANCE.PIN=VALUE", VALUE as a person types it
    std::vector<std::string> midi;  // "FILE" (to the first midi_source) or "INSTANCE=FILE"
    double sample_rate = 0;         // 0: the patch's
    int block_size = 0;             // 0: the patch's
    double seconds = -1;            // below 0: the patch's
    bool auto_duration = false;     // --seconds auto: to the last event, then the tail
    // Files the patch's user script saves may lie outside the patch's folder (a patch from
    // elsewhere is held to its folder by default).
    bool user_saves_anywhere = false;
    // The files of `midi` start again after their last message (their events are marked
    // ScheduledEvent::looped; the live engine repeats them, a render plays them once).
    bool loop_midi = false;
};

class PatchRun {
public:
    // One line for each message box no script answered and each problem of the patch's user
    // script, as it happens (opening and closing the instances included).
    using UserReport = std::function<void(const std::string& line)>;

    // Loads and checks the patch, creates and wires the instances. Throws PatchError.
    PatchRun(const std::string& path, const std::vector<std::string>& plugin_dirs,
             const PatchOverrides& overrides = {}, UserReport report = {});
    PatchRun(const nlohmann::json& doc, const std::string& name_for_errors, const std::string& base_dir,
             const std::vector<std::string>& plugin_dirs, const PatchOverrides& overrides = {}, UserReport report = {});
    ~PatchRun();

    Host& host() { return m_host; }
    int total_samples() const { return m_total; }
    // "duration": "auto": total_samples() reaches the last event, and the renderer goes on while
    // the sound's tail is above -90 dB.
    bool auto_duration() const { return m_auto_duration; }
    const std::vector<OutputChannel>& outputs() const { return m_outputs; }
    const nlohmann::json& doc() const { return m_doc; }
    const std::string& output_format() const { return m_format; }
    // The timed events and tempo changes, for a host that plays them on a clock of its own.
    const std::vector<ScheduledEvent>& schedule() const { return m_events; }
    const std::vector<TempoPoint>& tempo_changes() const { return m_tempo; }

    // Runs up to the given clock (whole blocks), applying scheduled events; `sink` receives each
    // block's output channels.
    void run_until(int clock, const std::function<void(const std::vector<const float*>&, int n)>& sink = {});
    // One block of n samples (at most the block length) from the current clock: the scheduled
    // events due in it, the block itself and the GUI calls after it.
    void run_scheduled_block(int n);
    // The patch with every instance's IO_PATCH_STORE values as they stand now. With `saved_dir`,
    // the patch's relative paths are rewritten relative to that folder (absolute where they
    // cannot be), so that the written patch works from there.
    // `also` adds pins stored whatever their flags (what a person set live); `gui_copy` takes every
    // value from the host's GUI-side copies, never from an audio object's variables (which belong to
    // a running audio thread).
    nlohmann::json stored_patch(const std::string& saved_dir = "",
                                const std::set<std::pair<const Instance*, int>>& also = {}, bool gui_copy = false) const;
    // One line per instance that gave nothing but silence and says why: a wavetable oscillator
    // without a bank ("wbf_path" empty).
    std::vector<std::string> silence_notes() const;
    // One line per wavetable oscillator whose bank file exists but gave it nothing, which the
    // module does not say itself (a file of fewer than 4 bytes, a folder).
    std::vector<std::string> bank_problems() const;
    // Every file the run reads, each with what it is ("the patch", "the MIDI file of events[2]"),
    // for a command to refuse outputs that would destroy one (mvp::OutputSet). Paths as opened;
    // some may not exist.
    std::vector<std::pair<std::string, std::string>> files_read() const;
    // The user-visible form of a pin value (volts for audio pins, choice labels for lists).
    nlohmann::json user_value(const Instance* inst, int pin, bool gui_copy = false) const;
    // What the scripted user was asked and answered (the platform stand-in's log), and the script
    // entries that did not fit.
    nlohmann::json user_log() const;
    std::vector<std::string> user_problems() const;
    // One line for each file the user script chose in a save chooser, saying whether the module
    // wrote it during the run ("user script: saved PATH (\"Save bank\")").
    std::vector<std::string> user_saves() const;
    // Closes every instance while the user script is still installed, so that what modules ask
    // when they close reaches the script, the report and user_log(). The run is over after it.
    void close();
    // The patch's scripted user, installed while the patch lives (null without the platform).
    mvp::ScriptedUser* scripted_user();

private:
    // Reads and checks the document (patch_reader.cpp), then builds the host from what it read,
    // one step for each part of the patch.
    void build();
    void install_user(const CheckedPatch& patch);
    void add_instances(const CheckedPatch& patch);
    void connect_wires(const CheckedPatch& patch);
    void set_pin_values(const CheckedPatch& patch);
    void queue_events(const CheckedPatch& patch);
    void find_outputs(const CheckedPatch& patch);
    void apply_overrides(const PatchOverrides& o);
    void apply_set(const std::string& arg);
    std::string where(const std::string& place) const;
    std::pair<Instance*, int> resolve_pin(const std::string& ref, const std::string& place) const;
    mvh::PinValue parse_value(const Instance* inst, int pin, const nlohmann::json& v, const std::string& place) const;
    void apply_due(int block_start, int block_end);
    void note_sound(int offset, int n);

    std::string m_name;
    UserReport m_report;
    std::string m_base_dir;
    std::vector<std::string> m_plugin_dirs;
    nlohmann::json m_doc;
    Host m_host;
    int m_total = 0;
    bool m_auto_duration = false;
    std::vector<TempoPoint> m_tempo;
    std::vector<ScheduledEvent> m_events;  // sorted by clock, then order
    size_t m_next_event = 0;
    std::vector<OutputChannel> m_outputs;
    std::vector<std::pair<std::string, std::string>> m_midi_files;  // path, the event that plays it
    bool m_user_saves_anywhere = false;
    std::vector<std::string> m_looped_files;  // --midi files, as the events name them, with loop_midi
    std::vector<std::string> m_set;         // --set arguments, applied after the patch's values
    std::vector<char> m_sounded;            // per instance (creation order): an output was not 0
    std::filesystem::file_time_type m_started;  // when the patch was built, for user_saves()
    std::string m_format = "float";
    struct UserScript;
    std::unique_ptr<UserScript> m_user;
};

// A value typed on a command line as the JSON a patch would hold for that pin: numbers for
// numeric pins, a choice's label (or its value), the text itself for text pins.
nlohmann::json value_from_text(const PinInfo& pin, const std::string& text);

// Choice lists: "label=value,label,..." with values counting on from the last explicit one.
struct Choice {
    std::string label;
    int value;
};
std::vector<Choice> parse_choices(const std::string& list);

// Standard MIDI files: every channel message as (seconds, word), in time order.
struct MidiFileEvent {
    double seconds;
    int32_t word;
};
std::vector<MidiFileEvent> read_midi_file(const std::string& path);  // throws PatchError
// Writes channel messages (clock in samples) as a format-0 file of 960 ticks per beat, with the
// tempo map's changes as tempo events (120 BPM when the map is empty).
std::vector<unsigned char> encode_midi_file(const std::vector<MidiRecord>& events, double sample_rate,
                                            const std::vector<TempoPoint>& tempo_map = {});
bool write_midi_file(const std::string& path, const std::vector<MidiRecord>& events, double sample_rate,
                     std::string* error);
bool write_midi_file(const std::string& path, const std::vector<MidiRecord>& events, double sample_rate,
                     const std::vector<TempoPoint>& tempo_map, std::string* error);

}  // namespace mvh
