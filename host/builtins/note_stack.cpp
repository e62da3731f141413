// The held notes of a mono voice.
#include "note_stack.h"

namespace mvb {

void NoteStack::remove_at(int i) {
    for (int j = i + 1; j < m_count; ++j) {
        m_notes[j - 1] = m_notes[j];
        m_velocities[j - 1] = m_velocities[j];
    }
    --m_count;
}

void NoteStack::press(int note, int velocity) {
    note &= 0x7F;
    release(note);
    m_notes[m_count] = static_cast<uint8_t>(note);
    m_velocities[m_count] = static_cast<uint8_t>(velocity & 0x7F);
    ++m_count;
}

void NoteStack::release(int note) {
    note &= 0x7F;
    for (int i = m_count - 1; i >= 0; --i)
        if (m_notes[i] == note) {
            remove_at(i);
            return;
        }
}

}  // namespace mvb
