// The chainable step choice: which of 16 steps an index voltage selects within a range, and the
// sample-and-hold of that step whenever the index moves. No host code.
#pragma once

#include <cstdint>
#include <limits>

namespace chain {

constexpr int kStepCount = 16;

// The step (1 to 16) that index selects for a module answering range + 1 to range + 16, or 0 when
// the index lies outside that range. The index is read in volts, rounded to the nearest volt.
int step_for_index(float index, int range);

class StepSelector {
public:
    // Runs the step loop over n samples starting at element offset of every buffer. A null step
    // buffer reads as 0.
    void run(const float* index, const float* const* steps, int offset, float* out, int n, int range);

    void reset_output() { m_out_value = 0.0f; }
    float out_value() const { return m_out_value; }

private:
    float m_out_value = 0.0f;
    // NaN never equals a sample, so the first index sample always picks a step.
    float m_last_index = std::numeric_limits<float>::quiet_NaN();
};

}  // namespace chain
