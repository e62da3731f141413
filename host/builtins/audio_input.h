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
    }

    // On a state event for this pin. The value is taken at the event's clock, so a change that the
    // host announces in the middle of a block takes effect exactly there.
    void update() {
        if (!m_pin) return;
        // Without a buffer there is nothing to stream from; the input then reads as 0.
        m_streaming = m_pin->getStatus() == PIN_STREAMING && buffer() != nullptr;
        m_value = m_pin->getValue();
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
};

}  // namespace mvb
