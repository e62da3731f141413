// The arpeggiator's reaction to its input pins: streaming flags, modes, octave range and Hold.
#include "arp_engine.h"

namespace arp {

namespace {
// Up, Up+Down and Up+Down:2 are the odd modes: they start upwards at the bottom octave.
bool starts_upwards(int mode) { return mode % 2 != 0; }
}  // namespace

void ArpEngine::pin_status_changed(int pin, int state, uint32_t now, TimingInputs inputs) {
    const int32_t streaming = state == kStateStreaming ? 1 : 0;
    switch (pin) {
    case kPinTempo: m_tempo_streaming = streaming; break;
    case kPinRatio: m_ratio_streaming = streaming; break;
    case kPinGate: m_gate_streaming = streaming; break;
    case kPinChannel: channel_changed(now); break;
    case kPinPlayMode: send_all_notes_off(now, m_channel); break;
    case kPinArpMode: arp_mode_changed(now); break;
    case kPinOctRange:
        m_oct_span = m_oct_range;
        m_start_oct_offset = starts_upwards(m_arp_mode) ? 0 : m_oct_span;
        break;
    case kPinHold:
        if (m_hold == 0 && m_keys_down == 0) {
            m_running = 0;
            if (m_mono_mode == 1 || m_off_withheld) send_last_note_off(now);
        }
        break;
    default: break;
    }
    m_any_streaming = m_tempo_streaming + m_ratio_streaming + m_gate_streaming;
    update_timing(inputs);
}

void ArpEngine::arp_mode_changed(uint32_t now) {
    const int16_t old_status = m_arp_status;
    if (m_arp_mode == 0) {
        // The keys still held are forgotten, so that pressing them again after Arp Mode comes
        // back on starts a chord instead of being taken for repeats; a note-off that Mono Mode
        // kept back goes out now.
        if (m_off_withheld) send_last_note_off(now);
        clear_keys();
        m_arp_status = 0;
    } else {
        m_arp_status = 1;
    }
    m_output.send_arp_status(now);
    if (m_arp_status != old_status) send_all_notes_off(now, m_channel);

    if (starts_upwards(m_arp_mode)) {
        m_start_direction = m_direction = 1;
        m_start_oct_offset = 0;
    } else {
        m_start_direction = m_direction = -1;
        m_start_oct_offset = m_oct_span;
    }
}

}  // namespace arp
