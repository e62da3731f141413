// The level builder: band limits, normalisation and guards of the nine levels.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "bank_layout.h"
#include "generators.h"
#include "level_builder.h"
#include "real_fft.h"

using namespace tallisk;

namespace {

std::vector<float> build_from(Shape shape) {
    RealFft fft;
    std::vector<float> wave(kWaveLength), spectrum(kWaveLength), block(kBlockSamples, 123.0f);
    generate(shape, wave.data());
    fft.forward(kWaveLength, wave.data(), spectrum.data());
    build_level_block(fft, spectrum.data(), block.data());
    return block;
}

// Magnitudes of the bins 0 .. L/2 of one level.
std::vector<float> level_spectrum(const float* level, int length) {
    RealFft fft;
    std::vector<float> s(length);
    fft.forward(length, level, s.data());
    std::vector<float> mag(length / 2 + 1);
    mag[0] = std::fabs(s[0]);
    for (int k = 1; k < length / 2; ++k) mag[k] = std::hypot(s[k], s[length / 2 + k]);
    mag[length / 2] = std::fabs(s[length / 2]);
    return mag;
}

float peak_of(const float* x, int n) {
    float p = 0.0f;
    for (int i = 0; i < n; ++i) p = std::fmax(p, std::fabs(x[i]));
    return p;
}

}  // namespace

TEST(RealFft, SpectrumLayoutPutsRealPartsFirstAndImaginaryPartsAfterHalf) {
    RealFft fft;
    std::vector<float> x(kWaveLength), s(kWaveLength), back(kWaveLength);
    // cos at bin 3 and sin at bin 5: real part at 3, imaginary part at 512 + 5.
    for (int i = 0; i < kWaveLength; ++i)
        x[i] = static_cast<float>(std::cos(2 * M_PI * 3 * i / 1024.0) + std::sin(2 * M_PI * 5 * i / 1024.0));
    fft.forward(kWaveLength, x.data(), s.data());
    EXPECT_NEAR(s[3], 512.0f, 1e-2);
    EXPECT_NEAR(s[512 + 5], -512.0f, 1e-2);
    EXPECT_NEAR(s[512 + 3], 0.0f, 1e-2);
    fft.inverse(kWaveLength, s.data(), back.data());
    for (int i = 0; i < kWaveLength; ++i) EXPECT_NEAR(back[i] * kInverseScale, x[i], 1e-5) << i;
}

TEST(LevelBuilder, ZeroSpectrumGivesZeroLevels) {
    const std::vector<float> block = build_from(Shape::Silence);
    for (int i = 0; i < kBlockSamples; ++i) ASSERT_EQ(block[i], 0.0f) << i;
}

TEST(LevelBuilder, SawtoothKeepsExactlyTheBinsOfEachLevel) {
    const std::vector<float> block = build_from(Shape::Sawtooth);
    for (int l = 0; l < kLevelCount; ++l) {
        const LevelInfo& info = kLevels[l];
        const std::vector<float> mag = level_spectrum(block.data() + info.offset, info.length);
        const float fundamental = mag[1];
        ASSERT_GT(fundamental, 0.0f);
        // The sawtooth's harmonics fall as 1/k: the last kept one is clearly there...
        EXPECT_GT(mag[info.bins - 1], fundamental / info.bins * 0.5f) << "level " << l;
        // ...and nothing is left above it, Nyquist included.
        for (int k = info.bins; k <= info.length / 2; ++k)
            ASSERT_LT(mag[k], fundamental * 1e-5f) << "level " << l << " bin " << k;
    }
}

TEST(LevelBuilder, Level0Keeps510HarmonicsAndLevel8Keeps2) {
    const std::vector<float> block = build_from(Shape::Sawtooth);
    auto count_harmonics = [&](int l) {
        const std::vector<float> mag = level_spectrum(block.data() + kLevels[l].offset, kLevels[l].length);
        int n = 0;
        for (size_t k = 1; k < mag.size(); ++k)
            if (mag[k] > mag[1] * 1e-4f) ++n;
        return n;
    };
    EXPECT_EQ(count_harmonics(0), 510);
    EXPECT_EQ(count_harmonics(8), 2);
}

TEST(LevelBuilder, EveryLevelPeaksAtHalfAndCarriesItsGuards) {
    for (Shape shape : {Shape::Sawtooth, Shape::Square, Shape::Sinus, Shape::Pulse}) {
        const std::vector<float> block = build_from(shape);
        for (const LevelInfo& info : kLevels) {
            const float* level = block.data() + info.offset;
            EXPECT_NEAR(peak_of(level, info.length), 0.5f, 1e-7f);
            EXPECT_EQ(level[info.length], level[0]);
            EXPECT_EQ(level[info.length + 1], 0.0f);
        }
    }
}

TEST(LevelBuilder, QuietWaveformIsLeftAtItsOwnScale) {
    RealFft fft;
    std::vector<float> wave(kWaveLength), spectrum(kWaveLength), block(kBlockSamples);
    generate(Shape::Sinus, wave.data());
    for (float& v : wave) v *= 0.01f;  // below 1/96
    fft.forward(kWaveLength, wave.data(), spectrum.data());
    build_level_block(fft, spectrum.data(), block.data());
    // Level 3 has the waveform's own length: it reproduces the samples unscaled.
    const float* level = block.data() + kLevels[3].offset;
    for (int i = 0; i < kWaveLength; ++i) ASSERT_NEAR(level[i], wave[i], 1e-6f) << i;
}

TEST(LevelBuilder, SquareOvershootIsLimitedByTheKeptHarmonics) {
    const std::vector<float> block = build_from(Shape::Square);
    // The sampled square's harmonics fall more slowly than 1/k near Nyquist, so with 510 of them
    // the overshoot is 2/sin(pi/2) / (4/pi) of the flat part at most; with 1 (level 8: bin 2 of a
    // square is empty) there is none.
    const LevelInfo& l0 = kLevels[0];
    const float flat0 = std::fabs(block[l0.offset + l0.length / 4]);
    EXPECT_GT(0.5f / flat0, 1.15f);
    EXPECT_LT(0.5f / flat0, 1.3f);
    const LevelInfo& l8 = kLevels[8];
    EXPECT_NEAR(std::fabs(block[l8.offset + l8.length / 4]), 0.5f, 1e-6f);
}
