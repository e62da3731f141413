// The sinc reader's kernel rows, the one-sample read, the plain block loops and the choice of loops.
#include "sinc_kernel.h"

#include <cmath>

namespace tallisk {

#if defined(__x86_64__) || defined(__i386__)
extern const SincLoops kSincAvx2Loops;  // sinc_kernel_avx2.cpp
#define TALLISK_HAVE_SINC_AVX2 1
#endif

namespace {

// A table level keeps at most an eighth of its rate (level 0: 510 harmonics in 4096 samples), so
// the images the reader must stop lie within an eighth of every multiple of the table rate, and
// everything between 1/8 and 7/8 is free transition. Over that band these values hold the images
// of a band of equal harmonics near -100 dB in 8 taps: the cut-off a little below half the table
// rate, the Kaiser window's beta where its side lobes and its main lobe's width balance.
constexpr double kCutoff = 0.46;  // of the table rate
constexpr double kBeta = 10.0;
constexpr double kHalfSpan = kSincTaps / 2;

double bessel_i0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 64; ++k) {
        const double r = x / (2.0 * k);
        term *= r * r;
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

double raw_kernel(double t) {
    if (!(std::fabs(t) < kHalfSpan)) return 0.0;
    const double x = 2.0 * M_PI * kCutoff * t;
    const double sinc = x == 0.0 ? 1.0 : std::sin(x) / x;
    const double r = t / kHalfSpan;
    return 2.0 * kCutoff * sinc * bessel_i0(kBeta * std::sqrt(1.0 - r * r)) / bessel_i0(kBeta);
}

// The kernel's gain at DC, measured on the rows' own grid, so a constant table reads as itself.
double dc_gain() {
    static const double gain = [] {
        double sum = 0.0;
        for (int i = 0; i < kSincTaps * kSincPhases; ++i) sum += raw_kernel(double(i) / kSincPhases - kHalfSpan);
        return sum / kSincPhases;
    }();
    return gain;
}

SincKernel make_kernel() {
    SincKernel k{};
    const auto at = [](int i) { return sinc_kernel_at(double(i) / kSincPhases - kHalfSpan); };
    for (int p = 0; p < kSincPhases; ++p) {
        for (int tap = 0; tap < kSincTaps; ++tap) {
            // Tap level[j - 3 + tap] sits at t = fraction + 3 - tap from the read.
            const int i = p + (kSincTaps - 1 - tap) * kSincPhases;
            const double w0 = at(i), w1 = at(i + 1);
            k.weight[p][tap] = static_cast<float>(w0);
            k.step[p][tap] = static_cast<float>(w1 - w0);
        }
    }
    return k;
}

inline float tap_sum(const SincKernel& k, const float* level, uint32_t phase, uint32_t shift, float fm_or_zero,
                     const float* other) {
    const uint32_t length = 1u << (32 - shift);
    const uint32_t j = phase >> shift;
    const uint32_t sub = shift - kSincPhaseBits;
    const uint32_t frac = phase & ((1u << shift) - 1u);
    const uint32_t p = frac >> sub;
    const float f = static_cast<float>(frac & ((1u << sub) - 1u)) * (1.0f / static_cast<float>(1u << sub));
    float acc = 0.0f;
    for (int tap = 0; tap < kSincTaps; ++tap) {
        const uint32_t at = (j + static_cast<uint32_t>(tap) - 3u) & (length - 1u);
        float x = level[at];
        if (other) x += fm_or_zero * (other[at] - x);
        acc += (k.weight[p][tap] + f * k.step[p][tap]) * x;
    }
    return acc;
}

uint32_t single_plain(const SincKernel& k, const float* level, uint32_t shift, uint32_t phase, uint32_t increment,
                      float* out, int count) {
    for (int i = 0; i < count; ++i) {
        out[i] = tap_sum(k, level, phase, shift, 0.0f, nullptr);
        phase += increment;
    }
    return phase;
}

uint32_t crossfade_plain(const SincKernel& k, const float* wa, const float* wb, float fm, uint32_t shift,
                         uint32_t phase, uint32_t increment, float* out, int count) {
    for (int i = 0; i < count; ++i) {
        out[i] = tap_sum(k, wa, phase, shift, fm, wb);
        phase += increment;
    }
    return phase;
}

uint32_t one_level_plain(const SincKernel& k, const float* level, uint32_t shift, const int32_t* increment,
                         const float* pitch, uint32_t phase, float* out, int count) {
    for (int i = 0; i < count; ++i) {
        out[i] = tap_sum(k, level, phase, shift, 0.0f, nullptr);
        phase += static_cast<uint32_t>(increment[sinc_entry_of(pitch[i])]);
    }
    return phase;
}

}  // namespace

double sinc_kernel_at(double t) { return raw_kernel(t) / dc_gain(); }

const SincKernel& sinc_kernel() {
    static const SincKernel kernel = make_kernel();
    return kernel;
}

float sinc_read(const SincKernel& k, const float* level, uint32_t phase, uint32_t shift) {
    return tap_sum(k, level, phase, shift, 0.0f, nullptr);
}

const SincLoops kSincPlainLoops{single_plain, crossfade_plain, one_level_plain};

const SincLoops* sinc_avx2_loops() {
#ifdef TALLISK_HAVE_SINC_AVX2
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return supported ? &kSincAvx2Loops : nullptr;
#else
    return nullptr;
#endif
}

const SincLoops& best_sinc_loops() {
    static const SincLoops& loops = sinc_avx2_loops() ? *sinc_avx2_loops() : kSincPlainLoops;
    return loops;
}

}  // namespace tallisk
