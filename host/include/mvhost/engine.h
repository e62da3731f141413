// The host library as a driver sees it: a patch built into a running host, driven frame by frame.
// Every driver uses only this: the render loop, the JACK client of `mvhost play`, the LV2 wrapper.
//
// Threads. With Threads::One (render) every call comes from one thread and the GUI calls of the
// patch run between blocks, in a fixed order: the result is deterministic. With Threads::Two
// (live drivers) one thread, the audio thread, calls run() and nothing else while the engine is
// active; a second, the GUI thread, makes every other call. Each entry says its thread:
//   [audio]  the audio thread, while active: allocates nothing, takes no lock, never waits;
//   [gui]    the GUI thread (with Threads::One: the one thread);
//   [any]    either, at any time.
// Lifetime: build (gui) -> activate (gui) -> run ... (audio) beside pump ... (gui) -> deactivate
// (gui) -> close (gui). A driver may leave out activate/deactivate with Threads::One.
#pragma once

#include <atomic>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mvhost/host.h"
#include "mvhost/patch.h"

namespace mvh {

class EngineQueues;

// Something that happens at an exact frame of a run() call. Numeric only: a text travels through
// set_control on the GUI thread, since copying it would allocate on the audio thread.
struct EngineEvent {
    enum Kind : int32_t { Midi, Value } kind = Midi;
    int32_t frame = 0;  // from the start of the run() call that carries it
    Instance* inst = nullptr;
    int pin = -1;  // GUI numbering: a MIDI input for Midi, an input or parameter for Value
    int32_t midi = 0;  // Midi: status | data1 << 8 | data2 << 16
    int32_t i = 0;     // Value: the integer form (lists, bools, integers)
    float f = 0.0f;    // Value: the float form (audio inputs in float units: 0.5 is 5 V)
};

// One channel that the engine takes from the driver: an `audio_in` output it fills.
struct EngineInput {
    Instance* inst;
    int pin;  // GUI numbering
    std::string label;  // "INSTANCE.Left"
};

// A MIDI message a module sent on one of the outputs the driver named (set_midi_outputs).
struct EngineMidiOut {
    int32_t frame;   // from the start of the run() call that made it
    int32_t output;  // index into the list given to set_midi_outputs
    int32_t midi;    // status | data1 << 8 | data2 << 16
};

class Engine {
public:
    enum class Threads { One, Two };

    struct Options {
        Threads threads = Threads::One;
        std::vector<std::string> plugin_dirs;
        // Replaces the patch's rate and block length (0: the patch's), as a server or plug-in
        // host dictates them; the driver's block may still be shorter than block_size.
        double sample_rate = 0;
        int block_size = 0;
        PatchOverrides overrides;
        PatchRun::UserReport report;
    };

    // [gui] Loads, checks and builds the patch (instances created, wired, not yet open). Throws
    // PatchError naming the file and the place.
    static std::unique_ptr<Engine> from_file(const std::string& path, Options options);
    static std::unique_ptr<Engine> from_document(const nlohmann::json& doc, const std::string& name_for_errors,
                                                 const std::string& base_dir, Options options);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // [any] What the patch runs at, and what it takes and gives.
    float sample_rate() const;
    int block_size() const;
    const std::vector<OutputChannel>& outputs() const;
    const std::vector<EngineInput>& inputs() const { return m_inputs; }
    // Every `midi_source` instance, in patch order: the MIDI inputs a driver may feed.
    std::vector<Instance*> midi_sources() const;
    // The patch's length in frames (its "duration" or --seconds).
    int64_t total_frames() const;

    // [gui, inactive] The MIDI output pins (GUI numbering) whose messages run() collects.
    void set_midi_outputs(std::vector<std::pair<Instance*, int>> pins);
    // [audio] What the last run() sent on those outputs, in the order sent (frames ascending). At
    // most kMidiOutPerRun a call; what does not fit is counted in dropped_messages().
    static constexpr size_t kMidiOutPerRun = 4096;
    const std::vector<EngineMidiOut>& midi_out() const { return m_midi_out; }
    // [audio] Threads::Two: the driver's tempo (a plug-in host's transport) replaces the patch's
    // own tempo from the next block on; 0 gives the patch's back.
    void set_tempo(double bpm) { m_host_tempo = bpm; }

    // [gui] The host, for panels, controls and pin descriptions. While active with
    // Threads::Two, only the GUI-side calls of an Instance (paint, pointer, gui_dispatch, values)
    // belong to this thread.
    Host& host();
    PatchRun& patch() { return *m_run; }

    // [gui] Frames after which run() gives silence and finished() turns true (0: no end).
    void set_limit(int64_t frames) { m_limit = frames; }
    // [any] Threads::Two: how long the looped MIDI files play before they start again (the
    // clock of their last message; 0 when nothing loops).
    int64_t midi_loop_frames() const { return m_loop_length; }

    // [gui] Prepares the audio side (queues reserved, record lookups frozen, instances opened).
    // The audio thread may call run() from the moment it returns until deactivate().
    void activate();
    // [gui] The audio thread has stopped calling run(): every object belongs to this thread.
    void deactivate();
    bool active() const { return m_active; }

    // [audio] Runs `frames` frames (any count), in blocks of at most block_size(). `inputs` has
    // inputs().size() channels (null, or a null channel, is silence), `outputs` outputs().size()
    // (a null channel is skipped). `events` are sorted by frame, each frame below `frames`, and
    // reach their instance at that exact frame. Returns the frames run: fewer than asked once the
    // limit is reached (the rest of each output is then silence).
    int run(int frames, const float* const* inputs, float* const* outputs, const EngineEvent* events = nullptr,
            size_t event_count = 0);

    // [gui] A person or the driver changed an input or parameter: stored, told to the GUI object
    // (when it handles that pin), and an event for the audio object at the next block.
    void set_control(Instance* inst, int gui_pin, const PinValue& value);
    // [gui] A MIDI message (status | data1 << 8 | data2 << 16) into a MIDI input, from the GUI side
    // (an on-screen keyboard): at the start of the next run() call with Threads::Two, at once
    // with Threads::One.
    void send_midi(Instance* inst, int gui_pin, int32_t word);
    // [any] Panic: at the start of the next run() call, a note-off for every note each
    // `midi_source` holds, then the sustain pedal up and all-notes-off on every channel of each.
    // Threads::Two only (render has nobody to panic).
    void all_notes_off();

    // [gui] Takes in what the audio side sent and frees what it consumed. With `call_modules`,
    // applies it (values into GUI pins, opcode 7) and the patch's timed GUI events that are due;
    // without (a module's menu or dialog is open), keeps it for later. With Threads::One, run()
    // does all of this itself, between blocks.
    void pump(bool call_modules = true);
    // [gui] The same while some modules are inside a call of their own (a dialog's loop): what is
    // for an instance `busy` names waits for a later pump, in its order; the others get theirs now,
    // so that their panels keep following the sound.
    void pump_except(const std::function<bool(const Instance*)>& busy);
    // [gui] The GUI idle calls (GD_IDLE to the objects that asked for them), at the driver's
    // pace: about 30 a second is what a person sees as smooth. Threads::One: run() makes them.
    void idle() { host().idle(); }

    // [any]
    int64_t frames_played() const { return m_frames.load(std::memory_order_acquire); }
    bool finished() const { return m_finished.load(std::memory_order_acquire); }
    uint64_t dropped_messages() const;

    // [any] The largest absolute sample of output `channel` since the last call (Threads::Two
    // only; 0 with Threads::One), for level meters.
    float take_peak(size_t channel);

    // [gui] The patch with every stored pin value as it stands now (see PatchRun::stored_patch),
    // and every value set through set_control since the build: what a person changed is saved
    // even on pins the module does not store. With Threads::Two the values are the GUI side's
    // copies, so that this may run while the audio side plays. `saved_dir` rebases the patch's
    // relative paths for a patch written there.
    nlohmann::json stored_patch(const std::string& saved_dir = "") const;
    // [gui] Whether set_control was called since the build.
    bool controls_changed() const { return !m_set_by_person.empty(); }

    // [gui, inactive] Closes the GUI objects (newest first), then the audio objects, with the
    // patch's scripted user still there for what modules ask as they close. `before_each` runs
    // before each GUI object closes, so that a host can show whose question follows. The engine
    // runs no more after it.
    void close_gui_objects(const std::function<void(Instance*)>& before_each = {});
    void close();

private:
    Engine(std::unique_ptr<PatchRun> run, Threads threads);
    void find_inputs();
    // Channel frames [from, from + n) into elements [offset, offset + n) of the audio_in buffers.
    void feed_inputs(const float* const* inputs, int from, int offset, int n);
    void queue_event(const EngineEvent& e, int clock);
    void apply_due_audio(int block_start, int block_end);  // [audio] Threads::Two
    void apply_due_gui(const std::function<bool(const Instance*)>& busy);                                  // [gui] Threads::Two
    void note_peaks(float* const* outputs, int from, int n);  // [audio] Threads::Two
    void note_midi(Instance* inst, int32_t word);              // [audio] Threads::Two
    void release_all(int clock);                               // [audio] Threads::Two
    friend class EngineQueues;

    std::unique_ptr<PatchRun> m_run;
    Threads m_threads;
    std::vector<EngineInput> m_inputs;
    std::vector<char> m_input_mono;  // per inputs() entry: the second channel repeats the first
    int64_t m_limit = 0;
    bool m_active = false;
    bool m_closed = false;

    // Threads::Two: the patch's schedule, one copy per thread; the audio thread delivers the audio
    // side of each event, the GUI thread the GUI side once the audio clock has passed it.
    std::vector<ScheduledEvent> m_audio_schedule;
    size_t m_audio_next = 0;
    std::vector<ScheduledEvent> m_gui_schedule;
    size_t m_gui_next = 0;
    // The looped MIDI files' messages, taken out of the audio schedule and played again every
    // m_loop_length frames ([audio] the next one and the current pass's start).
    std::vector<ScheduledEvent> m_loop_schedule;
    int64_t m_loop_length = 0;
    size_t m_loop_next = 0;
    int64_t m_loop_offset = 0;
    std::unique_ptr<EngineQueues> m_queues;

    std::set<std::pair<const Instance*, int>> m_set_by_person;  // [gui]
    std::vector<Instance*> m_sources;  // midi_sources(), with their "MIDI In" pins
    std::vector<int> m_source_pins;
    std::vector<std::bitset<128>> m_held;  // [audio] 16 channels per source: the notes held
    std::atomic<bool> m_panic{false};
    std::unique_ptr<std::atomic<float>[]> m_peaks;  // per output: written [audio], taken [any]
    size_t m_peak_count = 0;
    static void tap_midi(void* self, Instance* from, int gui_pin, int32_t word, int clock);
    std::vector<std::pair<Instance*, int>> m_midi_out_pins;
    std::vector<EngineMidiOut> m_midi_out;  // reserved to kMidiOutPerRun: never grows on the audio thread
    int m_run_start = 0;                    // [audio] the sample clock at the start of run()
    std::atomic<uint64_t> m_midi_dropped{0};
    double m_host_tempo = 0;

    std::atomic<int64_t> m_frames{0};
    std::atomic<bool> m_finished{false};
};

}  // namespace mvh
