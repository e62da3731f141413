// The pulse-driven stepper: edge detection, bounds and the four bound modes, without host code.
#pragma once

#include <cstdint>

namespace stepper {

enum class BoundMode : int16_t { kContinuous = 0, kStop = 1, kWrap = 2, kReverse = 3 };

// One block of the audio-rate inputs, all in pin scaling (0.1 = one volt).
struct Inputs {
    const float* pulse;
    const float* step;
    const float* start;
    const float* end;
    const float* reset;
};

class StepperCore {
public:
    // Runs the stepping loop over n samples, writing the value after each sample to out.
    void run(const Inputs& in, float* out, int n, BoundMode mode, float tolerance);

    // One rising pulse edge with step amount step between start and end.
    void take_step(float step, float start, float end, BoundMode mode, float tolerance);

    float value() const { return m_value; }
    float step() const { return m_step; }
    float direction() const { return m_direction; }
    void set_value(float v) { m_value = v; }
    void set_step(float s) { m_step = s; }
    void set_direction(float d) { m_direction = d; }

private:
    float m_value = 0.0f;
    float m_step = 0.0f;
    float m_direction = 1.0f;
    float m_prev_pulse = 0.0f;
    float m_prev_reset = 0.0f;
};

// Brings a step larger than the period t (> 0) back into (0, t], or [-t, 0) for negative steps.
float reduce_step(float s, float t);

}  // namespace stepper
