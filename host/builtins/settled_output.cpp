// State announcements and settling of a built-in module's audio output.
#include "settled_output.h"

#include <algorithm>
#include <cstring>

namespace mvb {

void SettledOutput::bind(MVPin* pin, int block_size) {
    m_pin = pin;
    m_block_size = block_size;
    m_state = State::Unknown;
    m_value = 0.0f;
    m_written = 0;
}

void SettledOutput::hold(int clock, float v) {
    // Compared bit for bit: a NaN is announced every time rather than never, and -0 is not 0.
    if (m_state == State::Holding && std::memcmp(&m_value, &v, sizeof v) == 0) return;
    m_state = State::Holding;
    m_value = v;
    m_written = 0;
    if (m_pin) m_pin->sendStatus(clock, PIN_CHANGED_ONCE);
}

void SettledOutput::stream(int clock) {
    if (m_state == State::Streaming) return;
    m_state = State::Streaming;
    m_written = 0;
    if (m_pin) m_pin->sendStatus(clock, PIN_STREAMING);
}

float* SettledOutput::data() const {
    return m_pin && m_pin->getVariable() ? *static_cast<float**>(m_pin->getVariable()) : nullptr;
}

void SettledOutput::fill(int offset, int count) {
    if (float* out = data()) std::fill(out + offset, out + offset + count, m_value);
    wrote_held(count);
}

void SettledOutput::wrote_held(int count) {
    // Capped so that a module holding for hours cannot overflow the count.
    m_written = std::min(m_written + count, m_block_size);
}

}  // namespace mvb
