// Step choice by index voltage and its sample-and-hold.
#include "step_selector.h"

#include <cmath>

namespace chain {

int step_for_index(float index, int range) {
    // Single precision throughout, each operation rounded (the build turns off fused
    // multiply-add), so that chained modules agree on every boundary between their ranges.
    const float k = index * 10.0f - static_cast<float>(range) + 0.5f;
    // Truncation toward zero leaves 1 to 16 exactly for k in [1, 17); testing the float first
    // also keeps huge or NaN indices away from an undefined conversion.
    if (!(k >= 1.0f && k < 17.0f)) return 0;
    return static_cast<int>(k);
}

void StepSelector::run(const float* index, const float* const* steps, int offset, float* out, int n, int range) {
    float value = m_out_value;
    float last = m_last_index;
    for (int i = offset; i < offset + n; ++i) {
        const float x = index[i];
        // A NaN index counts as no change.
        if (x != last && !std::isnan(x)) {
            const int k = step_for_index(x, range);
            const float* step = k > 0 ? steps[k - 1] : nullptr;
            value = step ? step[i] : 0.0f;
            last = x;
        }
        out[i] = value;
    }
    m_out_value = value;
    m_last_index = last;
}

}  // namespace chain
