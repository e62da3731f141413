// Stepping between bounds: a step per rising pulse edge, a start value per rising reset edge.
#include "stepper_core.h"

#include <cmath>

namespace stepper {

namespace {

// One volt in pin scaling: the bounds count inclusively in whole volts, so the period of a span is
// the span plus one volt.
constexpr float kVolt = 0.1f;
// Steps up to this many periods are reduced by repeated subtraction, so ordinary patches get the
// exact float results of that rule; beyond it a remainder keeps huge steps from looping for ever.
constexpr float kMaxSubtractions = 64.0f;

}  // namespace

float reduce_step(float s, float t) {
    if (!std::isfinite(s)) return s;  // no remainder: the caller drops such a step
    if (s > t) {
        if (s / t > kMaxSubtractions) {
            const float r = std::fmod(s, t);
            return r > 0.0f ? r : t;
        }
        while (s > t) s -= t;
    } else if (s < 0.0f && -s > t) {
        if (-s / t > kMaxSubtractions) {
            const float r = std::fmod(s, t);
            return r < 0.0f ? r : -t;
        }
        while (-s > t) s += t;
    }
    return s;
}

void StepperCore::take_step(float step, float start, float end, BoundMode mode, float tol) {
    float s = mode == BoundMode::kReverse ? step * m_direction : step;
    const float range = end - start;
    float upper = start;
    float lower = end;
    if (range > 0.0f) {
        upper = end;
        lower = start;
        s = reduce_step(s, range + kVolt);
    }
    // An infinite or NaN step has no place between bounds and would turn the value into NaN until
    // the next reset; it is dropped like a step stopped at a bound.
    if (!std::isfinite(s)) {
        m_step = 0.0f;
        return;
    }
    const float u = m_value + s;
    const bool crossed = s > 0.0f ? u > upper + tol : u < lower - tol;
    m_step = s;
    if (!crossed) {
        m_value = u;
        return;
    }
    switch (mode) {
    case BoundMode::kContinuous: m_value = u; break;
    case BoundMode::kStop: m_step = 0.0f; break;
    case BoundMode::kWrap:
        if (range > 0.0f) {
            m_value += s > 0.0f ? s - range - kVolt : s + range + kVolt;
        } else {
            m_value += s > 0.0f ? s + range - kVolt : s - range + kVolt;
        }
        break;
    case BoundMode::kReverse:
        m_direction = -m_direction;
        m_value -= s;
        break;
    default: m_value = u; break;
    }
}

void StepperCore::run(const Inputs& in, float* out, int n, BoundMode mode, float tolerance) {
    float prev_pulse = m_prev_pulse;
    float prev_reset = m_prev_reset;
    for (int i = 0; i < n; ++i) {
        const float reset = in.reset[i];
        const float pulse = in.pulse[i];
        // Exact comparisons: an edge is a departure from exactly 0.0, and a reset wins.
        if (reset != 0.0f && prev_reset == 0.0f) {
            m_value = in.start[i];
            m_step = in.step[i];
        } else if (pulse != 0.0f && prev_pulse == 0.0f) {
            take_step(in.step[i], in.start[i], in.end[i], mode, tolerance);
        }
        out[i] = m_value;
        prev_reset = reset;
        prev_pulse = pulse;
    }
    m_prev_pulse = prev_pulse;
    m_prev_reset = prev_reset;
}

}  // namespace stepper
