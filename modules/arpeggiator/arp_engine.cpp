// Start-up of the arpeggiator engine and the step timing derived from tempo, ratio and gate.
#include "arp_engine.h"

#include <cstring>

namespace arp {

void ArpEngine::open(double sample_rate) {
    s_sample_rate = sample_rate;
    s_samples_per_minute = sample_rate * 60.0;

    std::memset(m_arp_notes, kNoNote, sizeof m_arp_notes);
    std::memset(m_key_down, kNoNote, sizeof m_key_down);

    m_step_length = 0.0;
    m_last_step = 0.0;
    m_off_time = 0;
    m_step_clock = 0;
    m_index = 0;
    m_keys_down = 0;
    m_note_count = 0;
    m_running = 0;

    m_oct_offset = 0;
    m_start_oct_offset = 0;
    m_direction = 1;
    m_start_direction = 1;
    m_mono_mode = 0;
    m_low = 0;
    m_high = 127;
    m_transpose = 0;
    m_off_message = 0;
    m_off_withheld = false;
    m_arp_status = 0;
}

void ArpEngine::update_timing(TimingInputs inputs) {
    m_gate_fraction = inputs.gate * 0.1f;

    double step = s_samples_per_minute / inputs.tempo * inputs.ratio;
    // The negated test also catches NaN, which would otherwise never end the step loop.
    if (!(step >= kMinStepLength)) step = kMinStepLength;
    if (step > kMaxStepLength) step = kMaxStepLength;
    if (m_step_length < kMinStepLength && m_running != 0) {
        // A key that came before the first timing started the grid with an unknown step; keep
        // its first step on the key's own sample.
        m_last_step -= step - m_step_length;
    }
    m_step_length = step;

    // Truncation of an out-of-range double is undefined, and a negative gate would put the
    // note-off before its note-on: keep the length within [0, kMaxStepLength].
    double gate = step * m_gate_fraction;
    if (!(gate >= 0.0)) gate = 0.0;
    if (gate > kMaxStepLength) gate = kMaxStepLength;
    m_gate_length = static_cast<int32_t>(gate);
}

void ArpEngine::send_all_notes_off(uint32_t now) {
    m_output.send_midi(now, 0x7BB0 + (m_channel & 0x0F));
}

// Sends the latest scheduled note-off again, or for the first time when it was kept back.
void ArpEngine::send_last_note_off(uint32_t now) {
    if (m_off_message == 0) return;  // no step has been played yet
    if (now <= m_off_time) {
        m_output.send_midi(m_off_time, m_off_message);
        m_off_withheld = false;
    } else if (m_off_withheld) {
        // Its time has passed without the note ever being released (the step grew longer than the
        // gate): release it now rather than leave it hanging.
        m_output.send_midi(now, m_off_message);
        m_off_withheld = false;
    }
}

}  // namespace arp
