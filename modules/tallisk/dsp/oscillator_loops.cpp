// The plain block loops and the run-time choice between them and the AVX2 ones.
#include "oscillator_loops.h"

#include <bit>
#include <cmath>

namespace tallisk {

#if defined(__x86_64__) || defined(__i386__)
extern const OscillatorLoops kAvx2Loops;  // oscillator_avx2.cpp
#define TALLISK_HAVE_AVX2_LOOPS 1
#endif

namespace {

uint32_t single_plain(const float* level, PhaseWalk w, float* out, int count) {
    uint32_t phase = w.phase;
    for (int i = 0; i < count; ++i) {
        const uint32_t j = phase >> w.shift;
        const float f = static_cast<float>(phase & w.mask) * w.scale;
        out[i] = level[j] + (level[j + 1] - level[j]) * f;
        phase += w.increment;
    }
    return phase;
}

uint32_t crossfade_plain(const float* wa, const float* wb, float fm, PhaseWalk w, float* out, int count) {
    uint32_t phase = w.phase;
    for (int i = 0; i < count; ++i) {
        const uint32_t j = phase >> w.shift;
        const float f = static_cast<float>(phase & w.mask) * w.scale;
        const float a = wa[j] + (wa[j + 1] - wa[j]) * f;
        const float b = wb[j] + (wb[j + 1] - wb[j]) * f;
        out[i] = a + fm * (b - a);
        phase += w.increment;
    }
    return phase;
}

// The table entry of a pitch whose scaled magnitude is below 2^23: round to nearest even (the sum
// with 2^23 has no fraction bits), modulo the table.
inline int entry_of(float scaled) {
    return static_cast<int>((scaled + 8388608.0f) - 8388608.0f) & (kStreamTableSize - 1);
}

bool entry_span_plain(const float* pitch, int count, int* lowest, int* highest) {
    int lo = kStreamTableSize, hi = -1;
    for (int i = 0; i < count; ++i) {
        const float scaled = std::fabs(pitch[i]) * 16384.0f;
        if (!(scaled < 8388608.0f)) return false;
        const int e = entry_of(scaled);
        lo = e < lo ? e : lo;
        hi = e > hi ? e : hi;
    }
    *lowest = lo;
    *highest = hi;
    return true;
}

uint32_t one_level_plain(const float* level, uint32_t shift, const int32_t* increment, const float* pitch,
                         uint32_t phase, float* out, int count) {
    const uint32_t mask = (1u << shift) - 1u;
    const float scale = std::bit_cast<float>((127u - shift) << 23);  // 2^-shift
    for (int i = 0; i < count; ++i) {
        const uint32_t j = phase >> shift;
        const float f = static_cast<float>(phase & mask) * scale;
        out[i] = level[j] + (level[j + 1] - level[j]) * f;
        phase += static_cast<uint32_t>(increment[entry_of(std::fabs(pitch[i]) * 16384.0f)]);
    }
    return phase;
}

uint64_t entry_codes_plain(const float* pitch, int count, const uint8_t* codes, uint8_t* code) {
    uint64_t starts = 0;
    for (int i = 0; i < count; ++i) {
        const float scaled = std::fabs(pitch[i]) * 16384.0f;
        code[i] = scaled < 8388608.0f ? codes[entry_of(scaled)] : kPerSampleCode;
        if (i == 0 || code[i] != code[i - 1]) starts |= uint64_t{1} << i;
    }
    return starts;
}

// Linear interpolation in a table of 2^(32 - shift) samples, as the static loop reads it.
inline float table_sample(const float* level, uint32_t shift, uint32_t phase) {
    const uint32_t j = phase >> shift;
    const float scale = std::bit_cast<float>((127u - shift) << 23);  // 2^-shift
    const float f = static_cast<float>(phase & ((1u << shift) - 1u)) * scale;
    return level[j] + (level[j + 1] - level[j]) * f;
}

uint32_t fade_run_plain(const float* wave, const FadePair& pair, const int32_t* increment, const float* pitch,
                        uint32_t phase, float* out, int count) {
    const float* a_level = wave + pair.offset_a;
    const float* b_level = wave + pair.offset_b;
    for (int i = 0; i < count; ++i) {
        const auto step = static_cast<uint32_t>(increment[entry_of(std::fabs(pitch[i]) * 16384.0f)]);
        const double x = double(pair.top) * step / 2147483648.0;
        const double t = (x - kFadeStart) / kFadeWidth;
        const float weight = static_cast<float>(t * t * (3.0 - 2.0 * t));
        const float a = table_sample(a_level, pair.shift_a, phase);
        out[i] = a + weight * (table_sample(b_level, pair.shift_b, phase) - a);
        phase += step;
    }
    return phase;
}

uint32_t glide_plain(const float* base, const int32_t* a_at, const int32_t* b_at, const float* fm, PhaseWalk w,
                     float* out, int count) {
    uint32_t phase = w.phase;
    for (int i = 0; i < count; ++i) {
        const float* wa = base + a_at[i];
        const float* wb = base + b_at[i];
        const uint32_t j = phase >> w.shift;
        const float f = static_cast<float>(phase & w.mask) * w.scale;
        const float a = wa[j] + (wa[j + 1] - wa[j]) * f;
        const float b = wb[j] + (wb[j + 1] - wb[j]) * f;
        out[i] = a + fm[i] * (b - a);
        phase += w.increment;
    }
    return phase;
}

int held_run_plain(const float* x, int count) {
    int n = 0;
    while (n < count && x[n] == x[0]) ++n;
    return n;
}

}  // namespace

const OscillatorLoops kPlainLoops{single_plain,    crossfade_plain,   held_run_plain, entry_span_plain, one_level_plain,
                                  entry_codes_plain, fade_run_plain, glide_plain};

const OscillatorLoops* avx2_loops() {
#ifdef TALLISK_HAVE_AVX2_LOOPS
    // GCC's check includes the OS saving the upper register halves, not only the CPUID bit. The
    // init call makes it safe from static constructors that may run before libgcc's own.
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return supported ? &kAvx2Loops : nullptr;
#else
    return nullptr;
#endif
}

const OscillatorLoops& best_loops() {
    static const OscillatorLoops& loops = avx2_loops() ? *avx2_loops() : kPlainLoops;
    return loops;
}

}  // namespace tallisk
