// An audio input as the built-ins read it: the buffer while it streams, one value while it is static.
#pragma once

#include "mv_sdk2/mv_module.h"

namespace mvb {

class AudioInput {
public:
    void bind(MVPin* pin) {
        m_pin = pin;
        m_streaming = false;
        m_value = 0.0f;
        m_streaming_since = -1;
    }

    // On a state event for this pin. The value is taken at the event's clock, so a change that the
    // host announces in the middle of a block takes effect exactly there.
    void update() {
        if (!m_pin) return;
        const int clock = m_pin->m_module->SampleClock();
        const int state = m_pin->getStatus();
        m_value = m_pin->getValue();
        // "Streaming" and then "static" at one clock contradict each other; it happens when a
        // source announces from its open and the host then sends every input its initial state.
        // Reading the buffer is right either way, so streaming wins until a later clock.
        if (state == PIN_STATIC && m_streaming && clock == m_streaming_since) return;
        // Without a buffer there is nothing to stream from; the input then reads as 0.
        m_streaming = state == PIN_STREAMING && buffer() != nullptr;
        if (m_streaming) m_streaming_since = clock;
    }

    bool streaming() const { return m_streaming; }
    float value() const { return m_value; }
    const float* buffer() const {
        return m_pin && m_pin->getVariable() ? *static_cast<float* const*>(m_pin->getVariable()) : nullptr;
    }
    MVPin* pin() const { return m_pin; }

private:
    MVPin* m_pin = nullptr;
    bool m_streaming = false;
    float m_value = 0.0f;
    int m_streaming_since = -1;
};

}  // namespace mvb
