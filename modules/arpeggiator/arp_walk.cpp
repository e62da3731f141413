// The walk: which note of the held chord plays next, over the octaves of the range, with the
// reversals of the Up+Down modes.
#include "arp_engine.h"

namespace arp {

namespace {
// A consistent chord finds its next note within a couple of passes over the 128 notes. The bound
// only matters if the tables ever held no note between m_low and m_high: the walk would then spin
// forever on the audio thread.
constexpr int kMaxWalkSteps = 1024;
}  // namespace

int ArpEngine::next_note() {
    for (int guard = 0; guard < kMaxWalkSteps; ++guard) {
        bool examine = true;
        if (m_index > m_high) {
            m_oct_offset += 12;
            if (m_oct_offset <= m_oct_span) {
                m_index = m_low;
            } else if (m_arp_mode >= 3 && (m_oct_span != 0 || m_note_count > 1)) {
                m_index = m_high;
                m_oct_offset = m_oct_span;
                m_direction = -1;
                examine = m_arp_mode >= 5;  // the :2 modes play the turning note twice
            } else {
                m_oct_offset = 0;
                m_index = m_low;
            }
        } else if (m_index < m_low) {
            m_oct_offset -= 12;
            if (m_oct_offset >= 0) {
                m_index = m_high;
            } else if (m_arp_mode >= 3 && (m_oct_span != 0 || m_note_count > 1)) {
                m_index = m_low;
                m_oct_offset = 0;
                m_direction = 1;
                examine = m_arp_mode >= 5;
            } else {
                m_oct_offset = m_oct_span;
                m_index = m_high;
            }
        }
        if (examine && m_index >= 0 && m_index <= 127 && m_arp_notes[m_index] != kNoNote) {
            return m_arp_notes[m_index];
        }
        m_index += m_direction;
    }
    return -1;
}

}  // namespace arp
