// The held notes of a mono voice, newest on top: last-note priority with return to the notes
// still held.
#pragma once

#include <array>
#include <cstdint>

namespace mvb {

class NoteStack {
public:
    // Puts the note on top (moving it there if it was held already) with its velocity.
    void press(int note, int velocity);
    // Takes the note out wherever it is; nothing if it is not held.
    void release(int note);
    void clear() { m_count = 0; }

    bool empty() const { return m_count == 0; }
    int size() const { return m_count; }
    int top_note() const { return m_count ? m_notes[m_count - 1] : -1; }
    int top_velocity() const { return m_count ? m_velocities[m_count - 1] : 0; }

private:
    void remove_at(int i);

    // Each of the 128 notes is held at most once, so the stack never needs more.
    std::array<uint8_t, 128> m_notes{};
    std::array<uint8_t, 128> m_velocities{};
    int m_count = 0;
};

}  // namespace mvb
