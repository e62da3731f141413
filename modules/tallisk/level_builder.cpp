// The level builder: one inverse FFT per level straight from the packed bins, then normalisation.
#include "level_builder.h"

#include <cmath>
#include <complex>

#include "bank_layout.h"

namespace tallisk {

void build_level_block(RealFft& fft, const float* spectrum, float* block) {
    constexpr int kHalf = kWaveLength / 2;
    std::complex<float>* bins = fft.complex_work();
    for (const LevelInfo& level : kLevels) {
        const int half = level.fft_size / 2;
        bins[0] = {spectrum[0], 0.0f};
        for (int k = 1; k < level.bins; ++k) bins[k] = {spectrum[k], spectrum[kHalf + k]};
        for (int k = level.bins; k <= half; ++k) bins[k] = {0.0f, 0.0f};
        const float* raw = fft.inverse_packed(level.fft_size);

        float peak = 0.0f;
        for (int i = 0; i < level.length; ++i) peak = std::fmax(peak, std::fabs(raw[i]));
        peak *= kInverseScale;  // exact: a power of two
        // Scaling by 2^-10 is exact, so one combined factor rounds exactly as scaling twice would.
        const float gain = peak < kSilencePeak ? kInverseScale : kInverseScale * (0.5f / peak);
        float* out = block + level.offset;
        for (int i = 0; i < level.length; ++i) out[i] = raw[i] * gain;
        out[level.length] = out[0];
        out[level.length + 1] = 0.0f;
    }
}

}  // namespace tallisk
