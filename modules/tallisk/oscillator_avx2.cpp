// The oscillator's block loops for AVX2, eight samples at a time. Only the functions carry the
// target attribute, so the rest of the library stays runnable on any x86 processor; they are
// reached only after the processor check in oscillator_loops.cpp. Every lane does the scalar
// loop's operations in its order (no fused multiply-add exists without FMA enabled), so the
// results are bit-identical to the plain loops.
#include "oscillator_loops.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

namespace tallisk {

namespace {

#define TALLISK_AVX2 __attribute__((target("avx2")))

// The eight interpolation endpoint pairs level[j], level[j + 1], one 64-bit load each. Plain loads
// beat the gather instructions on the processor measured (AMD Zen 4).
TALLISK_AVX2 inline void load_pairs(const float* level, const uint32_t* at, __m256& lo, __m256& hi) {
    // Pairs k0 and k1 in one register: a(k0) b(k0) a(k1) b(k1).
    const auto pairs = [&](int k0, int k1) {
        const __m128 low = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(level + at[k0])));
        return _mm_loadh_pi(low, reinterpret_cast<const __m64*>(level + at[k1]));
    };
    const __m256 p0 = _mm256_insertf128_ps(_mm256_castps128_ps256(pairs(0, 1)), pairs(4, 5), 1);
    const __m256 p1 = _mm256_insertf128_ps(_mm256_castps128_ps256(pairs(2, 3)), pairs(6, 7), 1);
    // p0 = a0 b0 a1 b1 | a4 b4 a5 b5, p1 = a2 b2 a3 b3 | a6 b6 a7 b7
    lo = _mm256_shuffle_ps(p0, p1, _MM_SHUFFLE(2, 0, 2, 0));  // a0 a1 a2 a3 | a4 a5 a6 a7
    hi = _mm256_shuffle_ps(p0, p1, _MM_SHUFFLE(3, 1, 3, 1));
}

struct Lanes {
    __m256i phase;
    __m256i step;
    __m256i mask;
    __m256 scale;
};

TALLISK_AVX2 inline Lanes start_lanes(const PhaseWalk& w) {
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i inc = _mm256_set1_epi32(static_cast<int>(w.increment));
    return {_mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(w.phase)), _mm256_mullo_epi32(lane, inc)),
            _mm256_set1_epi32(static_cast<int>(w.increment * 8u)), _mm256_set1_epi32(static_cast<int>(w.mask)), _mm256_set1_ps(w.scale)};
}

// The masked phase is below 2^25, so the signed conversion sees the value the unsigned one does
// and rounds it the same way (to nearest even in the default mode).
TALLISK_AVX2 inline __m256 fraction(const Lanes& l) {
    return _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(l.phase, l.mask)), l.scale);
}

// The eight table indices, from a scalar copy of the phase: cheaper here than shifting the vector
// phase and reading the lanes back through memory. p moves on by eight increments.
struct Indices {
    uint32_t at[8];
};

// Written out: -O2 would keep a loop here, and the array in memory with it.
inline Indices indices(uint32_t& p, uint32_t increment, uint32_t shift) {
    const uint32_t p1 = p + increment, p2 = p1 + increment, p3 = p2 + increment, p4 = p3 + increment;
    const uint32_t p5 = p4 + increment, p6 = p5 + increment, p7 = p6 + increment;
    const Indices i{{p >> shift, p1 >> shift, p2 >> shift, p3 >> shift, p4 >> shift, p5 >> shift, p6 >> shift,
                     p7 >> shift}};
    p = p7 + increment;
    return i;
}

TALLISK_AVX2 inline __m256 interpolate(const float* level, const Indices& j, __m256 f) {
    __m256 lo, hi;
    load_pairs(level, j.at, lo, hi);
    return _mm256_add_ps(lo, _mm256_mul_ps(_mm256_sub_ps(hi, lo), f));
}

TALLISK_AVX2 uint32_t single_avx2(const float* level, PhaseWalk w, float* out, int count) {
    Lanes l = start_lanes(w);
    uint32_t p = w.phase;
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const Indices j = indices(p, w.increment, w.shift);
        _mm256_storeu_ps(out + i, interpolate(level, j, fraction(l)));
        l.phase = _mm256_add_epi32(l.phase, l.step);
    }
    w.phase = p;
    return i == count ? p : kPlainLoops.single(level, w, out + i, count - i);
}

TALLISK_AVX2 uint32_t crossfade_avx2(const float* wa, const float* wb, float fm, PhaseWalk w, float* out,
                                     int count) {
    Lanes l = start_lanes(w);
    const __m256 vfm = _mm256_set1_ps(fm);
    uint32_t p = w.phase;
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const Indices j = indices(p, w.increment, w.shift);
        const __m256 f = fraction(l);
        const __m256 a = interpolate(wa, j, f);
        const __m256 b = interpolate(wb, j, f);
        _mm256_storeu_ps(out + i, _mm256_add_ps(a, _mm256_mul_ps(vfm, _mm256_sub_ps(b, a))));
        l.phase = _mm256_add_epi32(l.phase, l.step);
    }
    w.phase = p;
    return i == count ? p : kPlainLoops.crossfade(wa, wb, fm, w, out + i, count - i);
}

TALLISK_AVX2 int held_run_avx2(const float* x, int count) {
    if (count <= 0) return 0;
    const __m256 first = _mm256_set1_ps(x[0]);
    int n = 0;
    for (; n + 8 <= count; n += 8) {
        const unsigned equal = static_cast<unsigned>(
            _mm256_movemask_ps(_mm256_cmp_ps(_mm256_loadu_ps(x + n), first, _CMP_EQ_OQ)));
        if (equal != 0xFFu) return n + __builtin_ctz(~equal);
    }
    while (n < count && x[n] == x[0]) ++n;
    return n;
}

// Eight samples at a time: the entries by gather, the phases as a prefix sum of the increments in
// the register, each lane's shift, mask and scale from its entry. A group with a sample for the
// per-sample path, and the tail, go to the plain loop, which stops at that sample.
TALLISK_AVX2 int streaming_avx2(const float* wave, StreamTables t, const float* pitch, uint32_t* phase_io, float* out,
                                int count) {
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 index_scale = _mm256_set1_ps(16384.0f), limit = _mm256_set1_ps(8388608.0f);
    const __m256i wrap = _mm256_set1_epi32(kStreamTableSize - 1), one = _mm256_set1_epi32(1);
    const __m256i offset_bits = _mm256_set1_epi32(0xFFFF), shift_bits = _mm256_set1_epi32(0xFF);
    const __m256i exponent_bias = _mm256_set1_epi32(127), last = _mm256_set1_epi32(7);
    uint32_t phase = *phase_io;
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 scaled = _mm256_mul_ps(_mm256_and_ps(_mm256_loadu_ps(pitch + i), magnitude), index_scale);
        // NaN compares false, so it takes the per-sample path too.
        if (_mm256_movemask_ps(_mm256_cmp_ps(scaled, limit, _CMP_LT_OQ)) != 0xFF) break;
        // Below 2^23 the conversion in the default mode rounds to nearest even, as the plain loop.
        const __m256i e = _mm256_and_si256(_mm256_cvtps_epi32(scaled), wrap);
        const __m256i entry = _mm256_i32gather_epi32(reinterpret_cast<const int*>(t.entry), e, 4);
        if (_mm256_movemask_ps(_mm256_castsi256_ps(entry)) != 0) break;
        const __m256i step = _mm256_i32gather_epi32(t.increment, e, 4);
        // Inclusive prefix sum of the steps: within each half, then the low half's total onwards.
        __m256i sum = _mm256_add_epi32(step, _mm256_slli_si256(step, 4));
        sum = _mm256_add_epi32(sum, _mm256_slli_si256(sum, 8));
        const __m256i low_total = _mm256_permutevar8x32_epi32(sum, _mm256_set1_epi32(3));
        sum = _mm256_add_epi32(sum, _mm256_blend_epi32(_mm256_setzero_si256(), low_total, 0xF0));
        const __m256i ph = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(phase)), _mm256_sub_epi32(sum, step));
        phase += static_cast<uint32_t>(_mm256_cvtsi256_si32(_mm256_permutevar8x32_epi32(sum, last)));

        const __m256i shift = _mm256_and_si256(_mm256_srli_epi32(entry, 16), shift_bits);
        const __m256i mask = _mm256_sub_epi32(_mm256_sllv_epi32(one, shift), one);
        const __m256 scale = _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_sub_epi32(exponent_bias, shift), 23));
        const __m256 f = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(ph, mask)), scale);
        alignas(32) uint32_t at[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(at),
                           _mm256_add_epi32(_mm256_srlv_epi32(ph, shift), _mm256_and_si256(entry, offset_bits)));
        __m256 lo, hi;
        load_pairs(wave, at, lo, hi);
        _mm256_storeu_ps(out + i, _mm256_add_ps(lo, _mm256_mul_ps(_mm256_sub_ps(hi, lo), f)));
    }
    *phase_io = phase;
    return i + kPlainLoops.streaming(wave, t, pitch + i, phase_io, out + i, count - i);
}

}  // namespace

extern const OscillatorLoops kAvx2Loops;
const OscillatorLoops kAvx2Loops{single_avx2, crossfade_avx2, held_run_avx2, streaming_avx2};

}  // namespace tallisk

#endif
