// An audio output that announces its state honestly and knows when its whole buffer holds one value.
#pragma once

#include "mv_sdk2/mv_module.h"

namespace mvb {

class SettledOutput {
public:
    void bind(MVPin* pin, int block_size);

    // From `clock` on the output holds v. Announced as PIN_CHANGED_ONCE unless it already held v.
    void hold(int clock, float v);
    // From `clock` on the output changes every sample. Announced as PIN_STREAMING once.
    void stream(int clock);

    // Writes the held value to [offset, offset + count) of the buffer.
    void fill(int offset, int count);
    // A loop that wrote the held value itself reports how many samples it wrote since hold().
    void wrote_held(int count);

    // Every element of the buffer holds the value: the module may sleep, since the host keeps a
    // sleeping module's buffers as they are.
    bool settled() const { return m_state == State::Holding && m_written >= m_block_size; }
    bool holding() const { return m_state == State::Holding; }
    float value() const { return m_value; }
    float* data() const;

private:
    enum class State { Unknown, Holding, Streaming };
    MVPin* m_pin = nullptr;
    int m_block_size = 0;
    State m_state = State::Unknown;
    float m_value = 0.0f;
    int m_written = 0;
};

}  // namespace mvb
