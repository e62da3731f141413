// The importers' resampling to one waveform.
#include "resample.h"

#include <cmath>

#include "bank_layout.h"

namespace tallisk {

void resample_to_wave(const std::vector<float>& x, int count, float* out) {
    const float step = static_cast<float>(count) * (1.0f / 1024.0f);
    for (int i = 0; i < kWaveLength; ++i) {
        const float d = static_cast<float>(i) * step;
        const float r = std::nearbyint(d);
        const int j = static_cast<int>(r);
        out[i] = x[j] + (x[j + 1] - x[j]) * (d - r);
    }
}

}  // namespace tallisk
