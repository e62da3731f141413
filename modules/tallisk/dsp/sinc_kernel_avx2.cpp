// The sinc reader's block loops for AVX2 with FMA: the eight taps of one read are one register,
// eight reads' products are summed across in one transpose. Only these functions carry the target
// attribute; they are reached after the processor check in sinc_kernel.cpp.
#include "sinc_kernel.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

namespace tallisk {

namespace {

#define TALLISK_SINC_AVX2 __attribute__((target("avx2,fma")))

struct Walk {
    uint32_t shift, sub, mask, sub_mask, last;  // last: the highest j whose taps need no wrap
    float sub_scale;
};

inline Walk walk_for(uint32_t shift) {
    const uint32_t sub = shift - kSincPhaseBits;
    return {shift, sub, (1u << shift) - 1u, (1u << sub) - 1u, (1u << (32 - shift)) - 5u,
            1.0f / static_cast<float>(1u << sub)};
}

// The eight table samples under the taps of a read at j: one unaligned load, or, for the few j
// whose taps cross the table's ends, the wrapped samples gathered one by one.
TALLISK_SINC_AVX2 inline __m256 taps_at(const float* level, uint32_t j, const Walk& w) {
    if (j - 3u <= w.last - 3u) return _mm256_loadu_ps(level + j - 3);
    alignas(32) float x[kSincTaps];
    const uint32_t wrap = w.last + 4u;  // length - 1
    for (int t = 0; t < kSincTaps; ++t) x[t] = level[(j + static_cast<uint32_t>(t) - 3u) & wrap];
    return _mm256_load_ps(x);
}

TALLISK_SINC_AVX2 inline __m256 weights_at(const SincKernel& k, uint32_t phase, const Walk& w) {
    const uint32_t frac = phase & w.mask;
    const uint32_t p = frac >> w.sub;
    const __m256 f = _mm256_set1_ps(static_cast<float>(frac & w.sub_mask) * w.sub_scale);
    return _mm256_fmadd_ps(f, _mm256_load_ps(k.step[p]), _mm256_load_ps(k.weight[p]));
}

// The eight sums of the eight registers, in order.
TALLISK_SINC_AVX2 inline __m256 sum_across(const __m256* v) {
    const __m256 s01 = _mm256_hadd_ps(v[0], v[1]), s23 = _mm256_hadd_ps(v[2], v[3]);
    const __m256 s45 = _mm256_hadd_ps(v[4], v[5]), s67 = _mm256_hadd_ps(v[6], v[7]);
    const __m256 lo = _mm256_hadd_ps(s01, s23), hi = _mm256_hadd_ps(s45, s67);
    return _mm256_add_ps(_mm256_permute2f128_ps(lo, hi, 0x20), _mm256_permute2f128_ps(lo, hi, 0x31));
}

TALLISK_SINC_AVX2 inline float sum_one(__m256 v) {
    const __m128 s = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    const __m128 t = _mm_add_ps(s, _mm_movehl_ps(s, s));
    return _mm_cvtss_f32(_mm_add_ss(t, _mm_shuffle_ps(t, t, 1)));
}

struct Rows {
    __m256i three, last, mask, sub_mask;
    __m256 sub_scale;
    __m128i shift, sub;
};

TALLISK_SINC_AVX2 inline Rows rows_for(const Walk& w) {
    return {_mm256_set1_epi32(3),
            _mm256_set1_epi32(static_cast<int>(w.last - 3u)),
            _mm256_set1_epi32(static_cast<int>(w.mask)),
            _mm256_set1_epi32(static_cast<int>(w.sub_mask)),
            _mm256_set1_ps(w.sub_scale),
            _mm_cvtsi32_si128(static_cast<int>(w.shift)),
            _mm_cvtsi32_si128(static_cast<int>(w.sub))};
}

// Eight reads at the phases ph (phase: the first's): their weight rows, interpolation fractions
// and first taps worked out in the vector and read back per read (the rows by address, the
// fraction by a broadcast load), which leaves each read its loads, one FMA and one product. A group
// whose taps cross the table's ends reads one by one, at phase + s x increment.
TALLISK_SINC_AVX2 inline __m256 group_at(const SincKernel& k, const float* level, const Walk& w, const Rows& r,
                                         __m256i ph, uint32_t phase, const uint32_t* steps) {
    const __m256i frac = _mm256_and_si256(ph, r.mask);
    const __m256i first = _mm256_sub_epi32(_mm256_srl_epi32(ph, r.shift), r.three);
    alignas(32) uint32_t row[8], at[8];
    alignas(32) float f[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(row), _mm256_srl_epi32(frac, r.sub));
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), first);
    _mm256_store_ps(f, _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(frac, r.sub_mask)), r.sub_scale));
    __m256 v[8];
    // Unsigned first - 3 <= last - 3 in every lane: no tap wraps.
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_max_epu32(first, r.last), r.last)) == -1) {
        for (int s = 0; s < 8; ++s) {
            const __m256 weights =
                _mm256_fmadd_ps(_mm256_broadcast_ss(f + s), _mm256_load_ps(k.step[row[s]]), _mm256_load_ps(k.weight[row[s]]));
            v[s] = _mm256_mul_ps(weights, _mm256_loadu_ps(level + at[s]));
        }
    } else {
        for (int s = 0; s < 8; ++s) {
            v[s] = _mm256_mul_ps(weights_at(k, phase, w), taps_at(level, phase >> w.shift, w));
            phase += steps[s];
        }
    }
    return sum_across(v);
}

TALLISK_SINC_AVX2 uint32_t single_avx2(const SincKernel& k, const float* level, uint32_t shift, uint32_t phase,
                                       uint32_t increment, float* out, int count) {
    const Walk w = walk_for(shift);
    const Rows r = rows_for(w);
    const uint32_t steps[8] = {increment, increment, increment, increment, increment, increment, increment, increment};
    __m256i ph = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(phase)),
                                  _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                                     _mm256_set1_epi32(static_cast<int>(increment))));
    const __m256i step8 = _mm256_set1_epi32(static_cast<int>(increment * 8u));
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        _mm256_storeu_ps(out + i, group_at(k, level, w, r, ph, phase, steps));
        ph = _mm256_add_epi32(ph, step8);
        phase += increment * 8u;
    }
    for (; i < count; ++i) {
        out[i] = sum_one(_mm256_mul_ps(weights_at(k, phase, w), taps_at(level, phase >> shift, w)));
        phase += increment;
    }
    return phase;
}

// The taps are shared, so the cross-fade of the two tables' samples is weighted once.
TALLISK_SINC_AVX2 inline __m256 faded_products(const SincKernel& k, const float* wa, const float* wb, __m256 m,
                                               uint32_t phase, const Walk& w) {
    const uint32_t j = phase >> w.shift;
    const __m256 a = taps_at(wa, j, w);
    const __m256 x = _mm256_fmadd_ps(m, _mm256_sub_ps(taps_at(wb, j, w), a), a);
    return _mm256_mul_ps(weights_at(k, phase, w), x);
}

TALLISK_SINC_AVX2 uint32_t crossfade_avx2(const SincKernel& k, const float* wa, const float* wb, float fm,
                                          uint32_t shift, uint32_t phase, uint32_t increment, float* out, int count) {
    const Walk w = walk_for(shift);
    const __m256 m = _mm256_set1_ps(fm);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256 v[8];
        for (int s = 0; s < 8; ++s) {
            v[s] = faded_products(k, wa, wb, m, phase, w);
            phase += increment;
        }
        _mm256_storeu_ps(out + i, sum_across(v));
    }
    for (; i < count; ++i) {
        out[i] = sum_one(faded_products(k, wa, wb, m, phase, w));
        phase += increment;
    }
    return phase;
}

// As single_avx2, each sample's step from its own pitch's entry: eight entries converted at once,
// their steps gathered, the phases summed up in the register.
TALLISK_SINC_AVX2 uint32_t one_level_avx2(const SincKernel& k, const float* level, uint32_t shift,
                                          const int32_t* increment, const float* pitch, uint32_t phase, float* out,
                                          int count) {
    const Walk w = walk_for(shift);
    const Rows r = rows_for(w);
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        // Below 2^23 the conversion rounds to nearest even, as the scalar entry does.
        const __m256 scaled = _mm256_mul_ps(_mm256_and_ps(_mm256_loadu_ps(pitch + i), magnitude), _mm256_set1_ps(16384.0f));
        const __m256i e = _mm256_and_si256(_mm256_cvtps_epi32(scaled), _mm256_set1_epi32(16383));
        const __m256i step = _mm256_i32gather_epi32(increment, e, 4);
        alignas(32) uint32_t steps[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(steps), step);
        // The phases: an exclusive prefix sum of the steps in the register.
        __m256i sum = _mm256_add_epi32(step, _mm256_slli_si256(step, 4));
        sum = _mm256_add_epi32(sum, _mm256_slli_si256(sum, 8));
        sum = _mm256_add_epi32(sum, _mm256_blend_epi32(_mm256_setzero_si256(),
                                                       _mm256_permutevar8x32_epi32(sum, _mm256_set1_epi32(3)), 0xF0));
        const __m256i ph = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(phase)), _mm256_sub_epi32(sum, step));
        _mm256_storeu_ps(out + i, group_at(k, level, w, r, ph, phase, steps));
        phase += static_cast<uint32_t>(_mm256_extract_epi32(sum, 7));
    }
    for (; i < count; ++i) {
        out[i] = sum_one(_mm256_mul_ps(weights_at(k, phase, w), taps_at(level, phase >> shift, w)));
        phase += static_cast<uint32_t>(increment[sinc_entry_of(pitch[i])]);
    }
    return phase;
}

}  // namespace

extern const SincLoops kSincAvx2Loops;
const SincLoops kSincAvx2Loops{single_avx2, crossfade_avx2, one_level_avx2};

}  // namespace tallisk

#endif
