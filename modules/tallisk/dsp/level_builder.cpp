// The level builder: one inverse FFT per level straight from the packed bins, then normalisation.
#include "level_builder.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

#include "bank_layout.h"

namespace tallisk {

namespace {

// Four lanes at a time in the compiler's generic vectors (SSE on x86, plain code elsewhere), since
// the build's -O2 leaves these loops scalar. Both passes are exact whatever the grouping.
using Vec4 = float __attribute__((vector_size(16)));
using Mask4 = int __attribute__((vector_size(16)));

inline Vec4 load4(const float* p) {
    Vec4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store4(float* p, Vec4 v) { std::memcpy(p, &v, sizeof v); }

// Largest |x[i]|; n is a multiple of 8 (every level length is). Lane-wise (m < v ? v : m) is
// std::max(m, v) element by element, so the result is that of the plain running maximum.
float peak_abs(const float* x, int n) {
    const Mask4 magnitude = {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};
    Vec4 m0 = {}, m1 = {};
    for (int i = 0; i < n; i += 8) {
        const Vec4 v0 = reinterpret_cast<Vec4>(reinterpret_cast<Mask4>(load4(x + i)) & magnitude);
        const Vec4 v1 = reinterpret_cast<Vec4>(reinterpret_cast<Mask4>(load4(x + i + 4)) & magnitude);
        m0 = m0 < v0 ? v0 : m0;
        m1 = m1 < v1 ? v1 : m1;
    }
    float p = 0.0f;
    for (int k = 0; k < 4; ++k) p = std::max(p, std::max(m0[k], m1[k]));
    return p;
}

void scale_into(const float* x, float gain, float* out, int n) {
    const Vec4 g = {gain, gain, gain, gain};
    for (int i = 0; i < n; i += 4) store4(out + i, load4(x + i) * g);
}

}  // namespace

constexpr bool lengths_fill_vectors() {
    for (const LevelInfo& level : kLevels)
        if (level.length % 8 != 0) return false;
    return true;
}
static_assert(lengths_fill_vectors());

// Beyond this a level's inverse transform (a sum of up to 512 bins) could overflow.
constexpr float kLargestPlainBin = 1.2676506e30f;  // 2^100

void build_level_block(RealFft& fft, const float* spectrum, float* block) {
    constexpr int kHalf = kWaveLength / 2;
    // Each level is normalised below, so only the spectrum's shape counts: one with bins near the
    // float limit is brought down by a power of two (exact) instead of overflowing into NaN.
    float largest = 0.0f;
    for (int k = 0; k < kWaveLength; ++k) largest = std::max(largest, std::fabs(spectrum[k]));
    const bool huge = largest > kLargestPlainBin && std::isfinite(largest);
    const float pre = huge ? std::ldexp(1.0f, -std::ilogb(largest)) : 1.0f;
    std::complex<float>* bins = fft.complex_work();
    for (const LevelInfo& level : kLevels) {
        const int half = level.fft_size / 2;
        bins[0] = {spectrum[0] * pre, 0.0f};
        for (int k = 1; k < level.bins; ++k) bins[k] = {spectrum[k] * pre, spectrum[kHalf + k] * pre};
        for (int k = level.bins; k <= half; ++k) bins[k] = {0.0f, 0.0f};
        const float* raw = fft.inverse_packed(level.fft_size);

        const float peak = peak_abs(raw, level.length) * kInverseScale;  // exact: a power of two
        // Scaling by 2^-10 is exact, so one combined factor rounds exactly as scaling twice would.
        const float gain = peak < kSilencePeak ? kInverseScale : kInverseScale * (0.5f / peak);
        float* out = block + level.offset;
        scale_into(raw, gain, out, level.length);
        out[level.length] = out[0];
        out[level.length + 1] = 0.0f;
    }
}

}  // namespace tallisk
