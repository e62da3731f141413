// The level builder's vector passes against the plain per-level arithmetic, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "bank_layout.h"
#include "level_builder.h"
#include "real_fft.h"

using namespace tallisk;

namespace {

// One level at a time: pack the kept bins, inverse transform, running maximum of |x|, scale.
std::vector<float> plain_levels(RealFft& fft, const std::vector<float>& spectrum) {
    std::vector<float> block(kBlockSamples);
    for (const LevelInfo& level : kLevels) {
        std::complex<float>* bins = fft.complex_work();
        bins[0] = {spectrum[0], 0.0f};
        for (int k = 1; k < level.bins; ++k) bins[k] = {spectrum[k], spectrum[kWaveLength / 2 + k]};
        for (int k = level.bins; k <= level.fft_size / 2; ++k) bins[k] = {0.0f, 0.0f};
        const float* raw = fft.inverse_packed(level.fft_size);
        float peak = 0.0f;
        for (int i = 0; i < level.length; ++i) peak = std::max(peak, std::fabs(raw[i]));
        peak *= kInverseScale;
        const float gain = peak < kSilencePeak ? kInverseScale : kInverseScale * (0.5f / peak);
        for (int i = 0; i < level.length; ++i) block[level.offset + i] = raw[i] * gain;
        block[level.offset + level.length] = block[level.offset];
        block[level.offset + level.length + 1] = 0.0f;
    }
    return block;
}

}  // namespace

TEST(LevelBuilder, MatchesThePlainArithmeticBitForBit) {
    RealFft fft;
    std::mt19937 rng(21);
    for (int trial = 0; trial < 12; ++trial) {
        // Loud, quiet (below the silence threshold) and sparse spectra.
        const float scale = trial % 3 == 0 ? 1e-4f : trial % 3 == 1 ? 1.0f : 40.0f;
        std::uniform_real_distribution<float> d(-scale, scale);
        std::vector<float> spectrum(kWaveLength);
        for (float& v : spectrum) v = trial % 4 == 3 && rng() % 8 ? 0.0f : d(rng);
        std::vector<float> block(kBlockSamples, 99.0f);
        build_level_block(fft, spectrum.data(), block.data());
        const std::vector<float> expected = plain_levels(fft, spectrum);
        ASSERT_EQ(std::memcmp(block.data(), expected.data(), sizeof(float) * kBlockSamples), 0) << "trial " << trial;
    }
}
