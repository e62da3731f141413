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
    m_tempo_stopped = false;
    m_arp_status = 0;
    m_active_channel = m_channel;
}

void ArpEngine::update_timing(TimingInputs inputs) {
    m_gate_fraction = inputs.gate * 0.1f;

    double step = s_samples_per_minute / inputs.tempo * inputs.ratio;
    // No tempo (0, negative or NaN), or a step longer than the cap, halts the arpeggio instead of
    // playing one note that would last for hours.
    m_tempo_stopped = !(inputs.tempo > 0.0f) || !(step <= kMaxStepLength);
    if (m_tempo_stopped) step = kMaxStepLength;
    // The negated test also catches NaN, which would otherwise never end the step loop.
    if (!(step >= kMinStepLength)) step = kMinStepLength;
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

void ArpEngine::send_all_notes_off(uint32_t now, int channel) {
    m_output.send_midi(now, 0x7BB0 + (channel & 0x0F));
}

void ArpEngine::clear_keys() {
    std::memset(m_key_down, kNoNote, sizeof m_key_down);
    std::memset(m_arp_notes, kNoNote, sizeof m_arp_notes);
    m_keys_down = 0;
    m_note_count = 0;
    m_running = 0;
}

// The keys held on the old channel will be released there, where the arpeggiator no longer
// listens: stop the arpeggio and silence it on the channel it played on, as a mode change does.
void ArpEngine::channel_changed(uint32_t now) {
    const int old_channel = m_active_channel;
    m_active_channel = m_channel;
    if (old_channel == m_channel) return;
    if (m_keys_down == 0 && m_running == 0 && !m_off_withheld) return;
    if (m_off_withheld) send_last_note_off(now);
    clear_keys();
    send_all_notes_off(now, old_channel);
}

// Sends the latest scheduled note-off again, or for the first time when it was kept back.
void ArpEngine::send_last_note_off(uint32_t now) {
    if (m_off_message == 0) return;  // no step has been played yet
    if (m_tempo_stopped && (m_off_withheld || now < m_off_time)) {
        // With the tempo stopped the gate may have been stretched towards hours: end the note now.
        m_output.send_midi(now, m_off_message);
        m_off_withheld = false;
    } else if (now <= m_off_time) {
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
