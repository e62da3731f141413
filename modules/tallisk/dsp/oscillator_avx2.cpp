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

// Eleven values per played level (0..10) from two registers: the low eight and those of 8 to 10.
TALLISK_AVX2 inline __m256i by_level(__m256i low, __m256i high, __m256i level, __m256i above_seven) {
    return _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(low, level), _mm256_permutevar8x32_epi32(high, level), above_seven);
}

TALLISK_AVX2 inline bool all_lanes(__m256i m) { return _mm256_movemask_ps(_mm256_castsi256_ps(m)) == 0xFF; }

// from <= step < to in every lane.
TALLISK_AVX2 inline bool within(__m256i step, __m256i from, __m256i to) {
    return all_lanes(_mm256_andnot_si256(_mm256_cmpgt_epi32(from, step), _mm256_cmpgt_epi32(to, step)));
}

// The phases of eight samples from the phase before them and their steps (an exclusive prefix sum
// in the register); phase moves past the eighth.
TALLISK_AVX2 inline __m256i phases(uint32_t& phase, __m256i step) {
    __m256i sum = _mm256_add_epi32(step, _mm256_slli_si256(step, 4));
    sum = _mm256_add_epi32(sum, _mm256_slli_si256(sum, 8));
    const __m256i low_total = _mm256_permutevar8x32_epi32(sum, _mm256_set1_epi32(3));
    sum = _mm256_add_epi32(sum, _mm256_blend_epi32(_mm256_setzero_si256(), low_total, 0xF0));
    const __m256i ph = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(phase)), _mm256_sub_epi32(sum, step));
    phase += static_cast<uint32_t>(_mm256_cvtsi256_si32(_mm256_permutevar8x32_epi32(sum, _mm256_set1_epi32(7))));
    return ph;
}

// Eight samples at a time: the entries by scalar loads (cheaper than a gather on the processor
// measured), the phases as a prefix sum of the increments in the register. A group whose
// increments all lie within the range of the level in use (the common case: a level spans an
// octave) plays with that level's shift; other groups work out each lane's level. A group with a
// sample for the per-sample path, and the tail, go to the plain loop, which stops at that sample.
TALLISK_AVX2 int streaming_avx2(const float* wave, const int32_t* increment, const StreamLevels& levels,
                                const float* pitch, uint32_t* phase_io, float* out, int count) {
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 index_scale = _mm256_set1_ps(16384.0f), limit = _mm256_set1_ps(8388608.0f);
    const __m256i wrap = _mm256_set1_epi32(kStreamTableSize - 1);
    uint32_t phase = *phase_io;
    // The level in use: increments from `from` (at or above) to below `to` play it.
    int level = -1;
    __m256i from = _mm256_setzero_si256(), to = _mm256_setzero_si256();
    __m128i shift = _mm_setzero_si128();
    __m256i mask = _mm256_setzero_si256(), offset = _mm256_setzero_si256();
    __m256 scale = _mm256_setzero_ps();
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 scaled = _mm256_mul_ps(_mm256_and_ps(_mm256_loadu_ps(pitch + i), magnitude), index_scale);
        // NaN compares false, so it takes the per-sample path too.
        if (_mm256_movemask_ps(_mm256_cmp_ps(scaled, limit, _CMP_LT_OQ)) != 0xFF) break;
        // Below 2^23 the conversion in the default mode rounds to nearest even, as the plain loop.
        alignas(32) int32_t ix[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(ix), _mm256_and_si256(_mm256_cvtps_epi32(scaled), wrap));
        const __m256i step = _mm256_setr_epi32(increment[ix[0]], increment[ix[1]], increment[ix[2]], increment[ix[3]],
                                               increment[ix[4]], increment[ix[5]], increment[ix[6]], increment[ix[7]]);
        // Half the rate (a negative entry) is the fundamental alone.
        if (_mm256_movemask_ps(_mm256_castsi256_ps(step)) != 0) break;
        // A group with a fade plays in the plain loop, which stops at a sample it leaves to the
        // oscillator.
        const auto plain_group = [&] { return kPlainLoops.streaming(wave, increment, levels, pitch + i, &phase, out + i, 8); };
        bool uniform = within(step, from, to);
        if (!uniform) {
            // Take the first lane's level, unless it fades (the per-sample path).
            const int32_t first = _mm256_cvtsi256_si32(step);
            int l = 0;
            while (l < kPlayCount - 1 && first >= levels.switch_at[l]) ++l;
            if (first >= levels.fade_from[l]) {
                const int done = plain_group();
                if (done == 8) continue;
                *phase_io = phase;
                return i + done;
            }
            if (l != level) {
                level = l;
                const int32_t read = levels.read[l];
                const int sh = (read >> 16) & 0xFF;
                from = _mm256_set1_epi32(l == 0 ? 0 : levels.switch_at[l - 1]);
                to = _mm256_set1_epi32(levels.fade_from[l]);
                shift = _mm_cvtsi32_si128(sh);
                mask = _mm256_set1_epi32(static_cast<int>((1u << sh) - 1u));
                offset = _mm256_set1_epi32(read & 0xFFFF);
                scale = _mm256_set1_ps(1.0f / static_cast<float>(1u << sh));
            }
            uniform = within(step, from, to);
        }
        __m256i at_v;
        __m256 f;
        if (uniform) {
            const __m256i ph = phases(phase, step);
            f = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(ph, mask)), scale);
            at_v = _mm256_add_epi32(_mm256_srl_epi32(ph, shift), offset);
        } else {
            // Lanes of different levels: each lane's level from the thresholds it reaches.
            __m256i lane_level = _mm256_setzero_si256();
            for (int l = 0; l < kPlayCount - 1; ++l)
                lane_level = _mm256_sub_epi32(lane_level, _mm256_cmpgt_epi32(step, _mm256_set1_epi32(levels.switch_at[l] - 1)));
            const __m256i above_seven = _mm256_cmpgt_epi32(lane_level, _mm256_set1_epi32(7));
            const __m256i fade = by_level(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(levels.fade_from)),
                                          _mm256_setr_epi32(levels.fade_from[8], levels.fade_from[9], levels.fade_from[10], 0,
                                                            0, 0, 0, 0),
                                          lane_level, above_seven);
            if (!all_lanes(_mm256_cmpgt_epi32(fade, step))) {
                const int done = plain_group();
                if (done == 8) continue;
                *phase_io = phase;
                return i + done;
            }
            const __m256i read = by_level(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(levels.read)),
                                          _mm256_setr_epi32(levels.read[8], levels.read[9], levels.read[10], 0, 0, 0, 0, 0),
                                          lane_level, above_seven);
            const __m256i ph = phases(phase, step);
            const __m256i one = _mm256_set1_epi32(1);
            const __m256i lane_shift = _mm256_and_si256(_mm256_srli_epi32(read, 16), _mm256_set1_epi32(0xFF));
            const __m256i lane_mask = _mm256_sub_epi32(_mm256_sllv_epi32(one, lane_shift), one);
            const __m256 lane_scale =
                _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_sub_epi32(_mm256_set1_epi32(127), lane_shift), 23));
            f = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(ph, lane_mask)), lane_scale);
            at_v = _mm256_add_epi32(_mm256_srlv_epi32(ph, lane_shift), _mm256_and_si256(read, _mm256_set1_epi32(0xFFFF)));
        }
        alignas(32) uint32_t at[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(at), at_v);
        __m256 lo, hi;
        load_pairs(wave, at, lo, hi);
        _mm256_storeu_ps(out + i, _mm256_add_ps(lo, _mm256_mul_ps(_mm256_sub_ps(hi, lo), f)));
    }
    *phase_io = phase;
    return i + kPlainLoops.streaming(wave, increment, levels, pitch + i, phase_io, out + i, count - i);
}

// The table entries of eight pitches (round to nearest even, as the plain loops), and the lanes whose
// entry the per-sample path must work out instead (NaN compares false).
struct Entries {
    __m256i entry;
    int fits;  // one bit a lane
};

TALLISK_AVX2 inline Entries entries(const float* pitch) {
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 scaled = _mm256_mul_ps(_mm256_and_ps(_mm256_loadu_ps(pitch), magnitude), _mm256_set1_ps(16384.0f));
    const int fits = _mm256_movemask_ps(_mm256_cmp_ps(scaled, _mm256_set1_ps(8388608.0f), _CMP_LT_OQ));
    return {_mm256_and_si256(_mm256_cvtps_epi32(scaled), _mm256_set1_epi32(kStreamTableSize - 1)), fits};
}

TALLISK_AVX2 bool entry_span_avx2(const float* pitch, int count, int* lowest, int* highest) {
    __m256i lo = _mm256_set1_epi32(kStreamTableSize), hi = _mm256_set1_epi32(-1);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const Entries e = entries(pitch + i);
        if (e.fits != 0xFF) return false;
        lo = _mm256_min_epi32(lo, e.entry);
        hi = _mm256_max_epi32(hi, e.entry);
    }
    alignas(32) int32_t l[8], h[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(l), lo);
    _mm256_store_si256(reinterpret_cast<__m256i*>(h), hi);
    int tail_lo = kStreamTableSize, tail_hi = -1;
    if (i < count && !kPlainLoops.entry_span(pitch + i, count - i, &tail_lo, &tail_hi)) return false;
    for (int k = 0; k < 8; ++k) {
        tail_lo = l[k] < tail_lo ? l[k] : tail_lo;
        tail_hi = h[k] > tail_hi ? h[k] : tail_hi;
    }
    *lowest = tail_lo;
    *highest = tail_hi;
    return true;
}

// The uniform groups of streaming_avx2 without its checks: the caller knows every entry plays
// this level. (Chaining the phases in scalar code beside the vector, as `single` does, measured
// slower: the increments come from memory either way and the phases then go back through it.)
TALLISK_AVX2 uint32_t one_level_avx2(const float* level, uint32_t shift, const int32_t* increment, const float* pitch,
                                     uint32_t phase, float* out, int count) {
    const __m128i vshift = _mm_cvtsi32_si128(static_cast<int>(shift));
    const __m256i mask = _mm256_set1_epi32(static_cast<int>((1u << shift) - 1u));
    const __m256 scale = _mm256_set1_ps(1.0f / static_cast<float>(1u << shift));
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i step = _mm256_i32gather_epi32(increment, entries(pitch + i).entry, 4);
        const __m256i ph = phases(phase, step);
        const __m256 f = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(ph, mask)), scale);
        alignas(32) uint32_t at[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(at), _mm256_srl_epi32(ph, vshift));
        // Read back from memory: left to itself the compiler takes each index out of the register
        // with an extract, and those queue on the shuffle unit the prefix sum and the pair loads
        // need (1.35 against 1.20 ns a sample in the vibrato benchmark).
        asm volatile("" : : "m"(at) : "memory");
        __m256 lo, hi;
        load_pairs(level, at, lo, hi);
        _mm256_storeu_ps(out + i, _mm256_add_ps(lo, _mm256_mul_ps(_mm256_sub_ps(hi, lo), f)));
    }
    return i == count ? phase : kPlainLoops.one_level(level, shift, increment, pitch + i, phase, out + i, count - i);
}

// The cross-fade of a glide: each lane's two tables from the offsets worked out with the
// positions, read at the lane's phase, then faded by the lane's own weight.
TALLISK_AVX2 uint32_t glide_avx2(const float* base, const int32_t* a_at, const int32_t* b_at, const float* fm,
                                 PhaseWalk w, float* out, int count) {
    Lanes l = start_lanes(w);
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(w.shift));
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i j = _mm256_srl_epi32(l.phase, shift);
        const __m256 f = fraction(l);
        alignas(32) uint32_t at_a[8], at_b[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(at_a),
                           _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a_at + i)), j));
        _mm256_store_si256(reinterpret_cast<__m256i*>(at_b),
                           _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b_at + i)), j));
        asm volatile("" : : "m"(at_a), "m"(at_b) : "memory");  // read back from memory (see one_level_avx2)
        __m256 lo, hi;
        load_pairs(base, at_a, lo, hi);
        const __m256 a = _mm256_add_ps(lo, _mm256_mul_ps(_mm256_sub_ps(hi, lo), f));
        load_pairs(base, at_b, lo, hi);
        const __m256 b = _mm256_add_ps(lo, _mm256_mul_ps(_mm256_sub_ps(hi, lo), f));
        _mm256_storeu_ps(out + i, _mm256_add_ps(a, _mm256_mul_ps(_mm256_loadu_ps(fm + i), _mm256_sub_ps(b, a))));
        l.phase = _mm256_add_epi32(l.phase, l.step);
    }
    w.phase += static_cast<uint32_t>(i) * w.increment;
    return i == count ? w.phase : kPlainLoops.glide(base, a_at + i, b_at + i, fm + i, w, out + i, count - i);
}

}  // namespace

extern const OscillatorLoops kAvx2Loops;
const OscillatorLoops kAvx2Loops{single_avx2,     crossfade_avx2, held_run_avx2, streaming_avx2,
                                 entry_span_avx2, one_level_avx2, glide_avx2};

}  // namespace tallisk

#endif
