// Incoming MIDI of the arpeggiator: the transpose channel, the held-chord tables and pass-through.
#include <cstring>

#include "arp_engine.h"

namespace arp {

void ArpEngine::midi_received(uint32_t now, int32_t message) {
    const uint32_t word = static_cast<uint32_t>(message);
    const int status = static_cast<int>(word & 0xFF);
    const int channel = status & 0x0F;
    const int kind = status >> 4;

    // Every status byte is tested, system messages included: the transpose channel is never
    // passed on.
    if (channel == m_transpose_channel) {
        take_transpose(word);
        return;
    }
    if (m_arp_mode != 0 && kind <= 9 && channel == m_channel) {
        // Data bytes above 127 are not MIDI; masking keeps them inside the 128-entry tables.
        const int note = static_cast<int>((word >> 8) & 0x7F);
        const int velocity = static_cast<int>((word >> 16) & 0x7F);
        if (kind == 9 && velocity != 0) {
            note_on(now, note, velocity);
        } else if (kind == 8 || kind == 9) {
            note_off(now, note);
        }
        return;
    }
    m_output.send_midi(now, message);
}

void ArpEngine::take_transpose(uint32_t word) {
    const int kind = static_cast<int>((word & 0xFF) >> 4);
    const int velocity = static_cast<int>((word >> 16) & 0x7F);
    if (kind != 9 || velocity == 0) return;
    m_transpose = static_cast<int32_t>((word >> 8) & 0x7F) - 60;  // middle C plays untransposed
    if (m_transpose_mode == 1) {
        m_oct_offset = m_start_oct_offset;
        m_direction = m_start_direction;
        m_index = m_direction > 0 ? m_low : m_high;
    }
}

void ArpEngine::note_on(uint32_t now, int note, int velocity) {
    if (m_key_down[note] != kNoNote) return;
    m_key_down[note] = static_cast<uint8_t>(note);
    ++m_note_count;
    ++m_keys_down;

    if (m_keys_down == 1) {
        // The first key starts a new chord: a held one is dropped, the walk starts on this key.
        m_index = m_high = m_low = note;
        m_first_velocity = velocity;
        m_oct_offset = m_start_oct_offset;
        if (m_running == 0) m_last_step = -1.0;
        m_direction = m_start_direction;
        m_note_count = 1;
        m_running = 1;
        std::memset(m_arp_notes, kNoNote, sizeof m_arp_notes);
    }

    m_arp_notes[note] = static_cast<uint8_t>(note);
    m_note_velocity[note] = static_cast<uint8_t>(velocity);
    if (note > m_high) m_high = note;
    if (note < m_low) m_low = note;

    // The first step falls on this key's own sample.
    if (m_last_step == -1.0) m_last_step = static_cast<double>(now) - m_step_length;
}

void ArpEngine::note_off(uint32_t now, int note) {
    if (m_key_down[note] == kNoNote) return;
    m_key_down[note] = kNoNote;
    if (--m_keys_down < 0) m_keys_down = 0;

    if (m_hold != 0) return;  // the note stays in the arpeggio until the next first key

    m_arp_notes[note] = kNoNote;
    m_note_count = m_keys_down;
    if (m_keys_down == 0) {
        m_running = 0;
        send_last_note_off(now);
    }
    if (note == m_high) {
        m_high = 0;
        for (int i = note - 1; i >= 1; --i) {
            if (m_arp_notes[i] != kNoNote) {
                m_high = i;
                break;
            }
        }
    } else if (note == m_low) {
        m_low = 127;
        for (int i = note + 1; i <= 126; ++i) {
            if (m_arp_notes[i] != kNoNote) {
                m_low = i;
                break;
            }
        }
    }
}

}  // namespace arp
