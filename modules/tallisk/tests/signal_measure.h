// Measurements of rendered signals: frequency from zero crossings, peak.
#pragma once

#include <cmath>
#include <vector>

namespace tallisk::test {

// Frequency from the rising zero crossings (interpolated between samples).
inline double measured_frequency(const std::vector<float>& x, double sample_rate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double t = (i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * sample_rate / (last - first);
}

inline float peak(const std::vector<float>& x) {
    float p = 0.0f;
    for (float v : x) p = std::fmax(p, std::fabs(v));
    return p;
}

}  // namespace tallisk::test
