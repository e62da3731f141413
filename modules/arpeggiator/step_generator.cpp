// The step generator: every grid point that falls due in a stretch becomes a timed note-on and its
// note-off on MIDI Out.
#include "arp_engine.h"

namespace arp {

namespace {
constexpr double kClockRange = 4294967296.0;  // the host's sample clock is 32 bits wide
}

void ArpEngine::process(uint32_t now, int sample_count, TimingInputs inputs) {
    if (m_running == 0) {
        m_output.request_sleep();
        return;
    }
    // Without the initial pin states the step length would still be 0.0 and the loop below would
    // never end: work it out from the inputs as they stand.
    if (m_any_streaming != 0 || m_step_length < kMinStepLength) update_timing(inputs);
    if (m_tempo_stopped) {
        // Nothing to step until the tempo moves again; a static input can only change by an event,
        // which wakes the module.
        if (m_any_streaming == 0) m_output.request_sleep();
        return;
    }

    const double start = static_cast<double>(now);
    // After the clock wraps around the grid lies far ahead of it; move the grid along with it.
    if (m_last_step - start > kClockRange / 2) m_last_step -= kClockRange;
    // A grid point already behind this stretch (the step has just become shorter) plays once, now;
    // catching up every missed point would pile them all onto this one sample.
    if (m_last_step + m_step_length < start) m_last_step = start - m_step_length;

    // Steps fall due up to and including the first sample after the stretch.
    const double end = start + static_cast<double>(sample_count);
    while (end - m_last_step >= m_step_length) {
        const int note = next_note();
        if (note < 0) {
            m_running = 0;
            return;
        }
        m_index += m_direction;
        m_last_step += m_step_length;
        if (m_last_step < start) {
            m_step_clock = now;
        } else {
            m_step_clock = static_cast<uint32_t>(static_cast<uint64_t>(m_last_step));
        }
        emit_step(note);
    }
}

void ArpEngine::emit_step(int note) {
    const int32_t velocity = m_velocity_mode == 0 ? m_note_velocity[note] : m_first_velocity;
    const int32_t channel = m_channel & 0x0F;
    const int32_t played = (note + m_oct_offset + m_transpose) & 127;  // transposition wraps
    const int32_t note_on = 144 + channel + played * 256 + velocity * 65536;
    const int32_t note_off = note_on - 16;  // the same note and velocity with status 128 + channel

    // A note-off that Mono Mode kept back ends at this step. After the new note-on, so that a
    // mono receiver glides from one note to the next and one that stacks notes lets the old one
    // go; before it when the note repeats, since there the later note-off would end the new note.
    const bool release_previous = m_off_withheld;
    const bool repeated = (m_off_message & 0xFFFF) == (note_off & 0xFFFF);
    if (release_previous && repeated) m_output.send_midi(m_step_clock, m_off_message);
    m_output.send_midi(m_step_clock, note_on);
    if (release_previous && !repeated) m_output.send_midi(m_step_clock, m_off_message);
    m_off_withheld = false;

    m_off_time = m_step_clock + static_cast<uint32_t>(m_gate_length);
    m_off_message = note_off;
    if (m_mono_mode == 0 || m_gate_fraction < 1.0f) {
        m_output.send_midi(m_off_time, m_off_message);
        m_off_withheld = false;
    } else {
        // The next step overlaps this note and sends its note-off (or the arpeggio's end does).
        m_off_withheld = true;
    }
}

}  // namespace arp
