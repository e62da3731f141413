// A minimal, strict host for one plug-in object: it answers the host opcodes without allocating
// or locking, guards every audio buffer with canaries, splits blocks at event times and checks
// every process and event call (real-time rules, outputs, buffers, protocol) as it goes.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "check_context.h"
#include "mvhost/host.h"

namespace mvh::validate {

struct HarnessConfig {
    float sample_rate = 44100.0f;
    int block_size = 1024;
    bool null_callback = false;
    bool time_info = true;
    double tempo = 120.0;
    int extra_duplicates = 0;
    bool with_gui = false;
    bool restored = false;  // GUI opcode 0 says the instance comes with stored values
};

// A pin as the host reads it, with what the harness keeps for it.
struct HarnessPin : PinInfo {
    PinValue value;                 // what the host holds
    std::vector<float> storage;     // audio pins: guard + block + guard
    std::vector<float> snapshot;    // copy taken before each process call
    std::vector<char> text;         // host-owned copy handed to text variables
    float* buffer();
};

struct PlannedEvent {
    int clock = 0;
    int type = EV_PIN_STATE;
    int state = PIN_STATIC;  // pin events
    int pin = -1;            // pin events: index into pins()
    PinValue value;          // pin events: written into the variable at delivery
    int32_t word1 = 0, word2 = 0;  // MIDI and other events
};

class Harness {
public:
    Harness(std::shared_ptr<Plugin> plugin, HarnessConfig config, CheckContext& ctx);
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    // makeModule kind 1 (and kind 2 when asked) or the older entry's main, then sample rate,
    // block size and the pin table. False (with a failure reported) when no object was made.
    bool create();
    // Buffer pointers and values into the variables, MD_OPEN, GUI opcode 0, and one pin-state
    // event per input at the first sample.
    void open();
    void close();

    // One block of n samples (n may be 0) with the given events (clocks inside the block).
    void run_block(int n, std::vector<PlannedEvent> events = {});
    int clock() const { return m_clock; }

    std::vector<HarnessPin>& pins() { return m_pins; }
    HarnessPin* find(const std::string& name);
    int audio_pin_count() const { return m_audio_count; }
    MVModStruct* audio() const { return m_audio; }
    MVModStructV1* audio_v1() const { return m_v1; }
    MVGuiStruct* gui() const { return m_gui; }
    Plugin& plugin() { return *m_plugin; }
    const HarnessConfig& config() const { return m_config; }
    bool is_open() const { return m_open; }
    CheckContext& ctx() { return m_ctx; }

    // Audio input contents for the next blocks.
    enum class InputSignal { Silence, Noise, Constant, Wild };
    void set_input_signal(InputSignal s) { m_signal = s; }
    void set_tempo(double bpm) { m_time.tempo = bpm; }
    void set_time_info(bool on) { m_config.time_info = on; }
    void set_connected(bool all) { m_all_connected = all; }

    // GUI side: dispatch with the checks of the GUI boundary (no exception escapes).
    intptr_t gui_dispatch(int opcode, int index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    intptr_t dispatch(int opcode, int index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    PinValue gui_value(int pin) const;
    void set_gui_value(int pin, const PinValue& v) { m_gui_values.at(pin) = v; }
    // Where GUI-side failures go when the GUI runs on its own thread with its own context.
    void set_gui_context(CheckContext* ctx) { m_gui_ctx = ctx; }

    // Counters the checks read.
    int process_calls = 0, event_calls = 0, status_calls = 0, midi_sent = 0, sleeps = 0;
    int panel_width = 0, panel_height = 0;
    bool idle_on = false;

    // Reads the variable of a non-audio pin as the module holds it.
    PinValue read_variable(const HarnessPin& pin) const;
    void write_variable(HarnessPin& pin, const PinValue& v);

private:
    friend intptr_t harness_callback(void*, int32_t, int32_t, intptr_t, void*, float);
    intptr_t audio_opcode(int32_t opcode, int32_t index, intptr_t value, void* ptr);
    intptr_t gui_opcode(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
    void describe();
    void fill_inputs(int n);
    void process(int offset, int n);
    void deliver(const PlannedEvent& e);
    void queue_v1(const PlannedEvent& e);
    void before_call();
    void after_process(int offset, int n);
    void report_rt(const std::string& violations, const char* where);
    // Reports a fault of a kind once per pin; repeats would bury the other faults.
    void report_once(const HarnessPin& pin, const char* kind, const std::string& message);
    HarnessPin* audio_pin(int audio_index);

    std::shared_ptr<Plugin> m_plugin;
    HarnessConfig m_config;
    CheckContext& m_ctx;
    CheckContext* m_gui_ctx = nullptr;
    CheckContext& gui_ctx() { return m_gui_ctx ? *m_gui_ctx : m_ctx; }
    MVModStruct* m_audio = nullptr;
    MVModStructV1* m_v1 = nullptr;
    MVGuiStruct* m_gui = nullptr;
    std::vector<HarnessPin> m_pins;
    std::vector<int> m_by_audio;  // audio index -> pins() index
    std::vector<PinValue> m_gui_values;
    std::vector<std::string> m_gui_texts;
    int m_audio_count = 0;
    bool m_open = false;
    bool m_sleeping = false;
    bool m_wake_pending = false;
    bool m_in_call = false;
    bool m_all_connected = true;
    int m_clock = 0;        // SampleClock() answer
    int m_block_start = 0;  // clock of element 0 of the buffers
    int m_call_end = 0;     // clock after the current process call
    InputSignal m_signal = InputSignal::Noise;
    MVTimeInfo m_time{};
    std::vector<PlannedEvent> m_initial;  // first pin states, delivered with the first block
};

}  // namespace mvh::validate
