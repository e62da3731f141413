// The level builder: one inverse FFT per level straight from the packed bins, then normalisation.
#include "level_builder.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "bank_layout.h"

namespace tallisk {

namespace {

// Largest |x[i]|. Eight running maxima keep the loop free of a serial dependency; max is exact, so
// the order does not change the result.
float peak_abs(const float* x, int n) {
    float m[8] = {};
    int i = 0;
    for (; i + 8 <= n; i += 8)
        for (int k = 0; k < 8; ++k) m[k] = std::max(m[k], std::fabs(x[i + k]));
    for (; i < n; ++i) m[0] = std::max(m[0], std::fabs(x[i]));
    float p = 0.0f;
    for (float v : m) p = std::max(p, v);
    return p;
}

}  // namespace

void build_level_block(RealFft& fft, const float* spectrum, float* block) {
    constexpr int kHalf = kWaveLength / 2;
    std::complex<float>* bins = fft.complex_work();
    for (const LevelInfo& level : kLevels) {
        const int half = level.fft_size / 2;
        bins[0] = {spectrum[0], 0.0f};
        for (int k = 1; k < level.bins; ++k) bins[k] = {spectrum[k], spectrum[kHalf + k]};
        for (int k = level.bins; k <= half; ++k) bins[k] = {0.0f, 0.0f};
        const float* raw = fft.inverse_packed(level.fft_size);

        const float peak = peak_abs(raw, level.length) * kInverseScale;  // exact: a power of two
        // Scaling by 2^-10 is exact, so one combined factor rounds exactly as scaling twice would.
        const float gain = peak < kSilencePeak ? kInverseScale : kInverseScale * (0.5f / peak);
        float* out = block + level.offset;
        for (int i = 0; i < level.length; ++i) out[i] = raw[i] * gain;
        out[level.length] = out[0];
        out[level.length + 1] = 0.0f;
    }
}

}  // namespace tallisk
