// The arpeggiator's engine: held-chord tables, MIDI handling, the walk and the step timing. It has
// no host includes, so tests drive it directly; the plug-in's Module only forwards to it.
#pragma once

#include <cstdint>

namespace arp {

// Pin indices of the module, in description order.
enum Pin : int {
    kPinMidiIn = 0,
    kPinChannel,
    kPinTempo,
    kPinRatio,
    kPinPlayMode,
    kPinArpMode,
    kPinOctRange,
    kPinVelocityMode,
    kPinHold,
    kPinGate,
    kPinMidiOut,
    kPinTransposeChannel,
    kPinTransposeMode,
    kPinMonoMode,
    kPinArpStatus,
    kPinCount
};

constexpr uint8_t kNoNote = 255;
constexpr int kStateStreaming = 2;
constexpr double kMinStepLength = 100.0;
// A tempo of 0 (or a wired input far out of range) would give an infinite step; this cap
// (about 6.8 hours at 44.1 kHz) keeps the arithmetic finite and simply halts the arpeggio.
constexpr double kMaxStepLength = 1073741824.0;

// Where the engine's output goes: MIDI Out, the Arp_Status output and the host's sleep request.
class ArpOutput {
public:
    virtual ~ArpOutput() = default;
    virtual void send_midi(uint32_t clock, int32_t word) = 0;
    virtual void send_arp_status(uint32_t clock) = 0;
    virtual void request_sleep() = 0;
};

// The three float inputs as delivered: a tenth of the numbers the user sets (120 BPM is 12.0).
struct TimingInputs {
    float tempo = 0.0f;
    float ratio = 0.0f;
    float gate = 0.0f;
};

class ArpEngine {
public:
    explicit ArpEngine(ArpOutput& output) : m_output(output) {}

    // Start-up of an open: shared rate, empty tables, walk and note-off state cleared.
    void open(double sample_rate);
    void midi_received(uint32_t now, int32_t message);
    void pin_status_changed(int pin, int state, uint32_t now, TimingInputs inputs);
    // One stretch of samples starting at clock `now`; `inputs` are the float inputs at its start.
    void process(uint32_t now, int sample_count, TimingInputs inputs);
    void update_timing(TimingInputs inputs);
    // The next note number of the walk, or -1 when the tables hold none to play.
    int next_note();

    // Pin variables: the host writes them before it announces a change.
    int16_t m_channel = 0;
    int16_t m_play_mode = 0;
    int16_t m_arp_mode = 0;
    int16_t m_oct_range = 0;
    int16_t m_velocity_mode = 0;
    int16_t m_hold = 0;
    int16_t m_transpose_channel = 15;
    int16_t m_transpose_mode = 0;
    int16_t m_mono_mode = 0;
    int16_t m_arp_status = 0;

    uint8_t m_key_down[128];
    uint8_t m_arp_notes[128];
    uint8_t m_note_velocity[128] = {};
    int32_t m_keys_down = 0;
    int32_t m_note_count = 0;
    int32_t m_first_velocity = 0;
    int32_t m_low = 0;
    int32_t m_high = 127;
    int32_t m_index = 0;
    int32_t m_direction = 1;
    int32_t m_start_direction = 1;
    int32_t m_oct_span = 0;
    int32_t m_oct_offset = 0;
    int32_t m_start_oct_offset = 0;
    int32_t m_transpose = 0;
    int32_t m_running = 0;
    double m_step_length = 0.0;
    double m_last_step = 0.0;
    uint32_t m_step_clock = 0;
    int32_t m_gate_length = 0;
    uint32_t m_off_time = 0;
    int32_t m_off_message = 0;
    // The latest note-off was kept back (Mono Mode with a gate of a whole step or more).
    bool m_off_withheld = false;
    // A tempo of 0, a negative or a non-finite one (or one so slow that a step would last hours)
    // halts the stepping: no note starts until the tempo is playable again.
    bool m_tempo_stopped = false;
    // The channel the held keys were collected on; a Channel change releases them there.
    int16_t m_active_channel = 0;
    float m_gate_fraction = 0.0f;
    int32_t m_tempo_streaming = 0;
    int32_t m_ratio_streaming = 0;
    int32_t m_gate_streaming = 0;
    int32_t m_any_streaming = 0;

    // Shared by every arpeggiator of the library, rewritten by each open.
    static inline double s_sample_rate = 44100.0;
    static inline double s_samples_per_minute = 44100.0 * 60.0;

private:
    void take_transpose(uint32_t word);
    void note_on(uint32_t now, int note, int velocity);
    void note_off(uint32_t now, int note);
    void arp_mode_changed(uint32_t now);
    void send_all_notes_off(uint32_t now, int channel);
    void send_last_note_off(uint32_t now);
    void channel_changed(uint32_t now);
    void clear_keys();
    void emit_step(int note);

    ArpOutput& m_output;
};

}  // namespace arp
