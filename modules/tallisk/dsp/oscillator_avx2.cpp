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

// The table entries of eight pitches (round to nearest even, as the plain loops), and the lanes whose
// entry the per-sample path must work out instead (NaN compares false).
struct Entries {
    __m256i entry;
    __m256 fit_lanes;  // all ones where the entry fits
    int fits;  // one bit a lane
};

TALLISK_AVX2 inline Entries entries(__m256 pitch) {
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 scaled = _mm256_mul_ps(_mm256_and_ps(pitch, magnitude), _mm256_set1_ps(16384.0f));
    const __m256 fit = _mm256_cmp_ps(scaled, _mm256_set1_ps(8388608.0f), _CMP_LT_OQ);
    return {_mm256_and_si256(_mm256_cvtps_epi32(scaled), _mm256_set1_epi32(kStreamTableSize - 1)), fit,
            _mm256_movemask_ps(fit)};
}

TALLISK_AVX2 inline Entries entries(const float* pitch) { return entries(_mm256_loadu_ps(pitch)); }

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

// The phase before the first of eight samples in lane 0..7 (the tail's phase after its last).
TALLISK_AVX2 inline uint32_t lane_phase(__m256i ph, int lane) {
    alignas(32) uint32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), ph);
    return at[lane];
}

// A run's last samples (fewer than eight) as one more group: the pitches padded with the last (a
// masked load: nothing past the run is read), the outputs kept by a masked store, and the phase
// taken after the last kept sample. Cheaper than the plain loop for the short runs a block that
// crosses levels is split into. Out of line: inlined into the run loops, it slowed their main
// loop by a fifth (1.64 against 1.34 ns a sample in the sweep).
template <class Group>
TALLISK_AVX2 __attribute__((noinline)) uint32_t tail_of(const Group& group, const float* pitch, float* out, int left,
                                                        uint32_t phase) {
    const __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(left), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256 p = _mm256_blendv_ps(_mm256_set1_ps(pitch[left - 1]), _mm256_maskload_ps(pitch, keep),
                                      _mm256_castsi256_ps(keep));
    __m256i ph;
    _mm256_maskstore_ps(out, keep, group(p, phase, ph));
    return lane_phase(ph, left);
}

// Eight samples of one level, each at its own step: the steps by one gather, the phases as a prefix
// sum in the register. (Chaining the phases in scalar code beside the vector, as `single` does,
// measured slower: the increments come from memory either way and the phases then go back through
// it.)
struct OneLevel {
    const float* level;
    const int32_t* increment;
    __m128i shift;
    __m256i mask;
    __m256 scale;
    TALLISK_AVX2 __m256 operator()(__m256 pitch, uint32_t& phase, __m256i& ph) const {
        const __m256i step = _mm256_i32gather_epi32(increment, entries(pitch).entry, 4);
        ph = phases(phase, step);
        const __m256 f = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(ph, mask)), scale);
        alignas(32) uint32_t at[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(at), _mm256_srl_epi32(ph, shift));
        // Read back from memory: left to itself the compiler takes each index out of the register
        // with an extract, and those queue on the shuffle unit the prefix sum and the pair loads
        // need (1.35 against 1.20 ns a sample in the vibrato benchmark).
        asm volatile("" : "+m"(at));
        __m256 lo, hi;
        load_pairs(level, at, lo, hi);
        return _mm256_add_ps(lo, _mm256_mul_ps(_mm256_sub_ps(hi, lo), f));
    }
};

TALLISK_AVX2 uint32_t one_level_avx2(const float* level, uint32_t shift, const int32_t* increment, const float* pitch,
                                     uint32_t phase, float* out, int count) {
    const OneLevel group{level, increment, _mm_cvtsi32_si128(static_cast<int>(shift)),
                         _mm256_set1_epi32(static_cast<int>((1u << shift) - 1u)),
                         _mm256_set1_ps(1.0f / static_cast<float>(1u << shift))};
    int i = 0;
    __m256i ph;
    for (; i + 8 <= count; i += 8) _mm256_storeu_ps(out + i, group(_mm256_loadu_ps(pitch + i), phase, ph));
    return i == count ? phase : tail_of(group, pitch + i, out + i, count - i, phase);
}

// The codes by one gather (the table is readable three bytes past its end), and the run starts
// from each lane's code against the lane before it.
TALLISK_AVX2 uint64_t entry_codes_avx2(const float* pitch, int count, const uint8_t* codes, uint8_t* code) {
    const __m256i low_byte = _mm256_set1_epi32(0xFF), per_sample = _mm256_set1_epi32(kPerSampleCode);
    const __m256i before = _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6);
    __m256i previous = _mm256_set1_epi32(-1);  // no code: sample 0 starts a run
    uint64_t starts = 0;
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const Entries e = entries(pitch + i);
        // A pitch that does not fit reads entry 0's code, replaced.
        __m256i c = _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int*>(codes), e.entry, 1), low_byte);
        c = _mm256_blendv_epi8(per_sample, c, _mm256_castps_si256(e.fit_lanes));
        // Each lane's predecessor: the lane before it, the last lane of the group before for lane 0.
        const __m256i prev = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c, before),
                                                _mm256_permutevar8x32_epi32(previous, _mm256_set1_epi32(7)), 1);
        const unsigned same = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(c, prev))));
        starts |= static_cast<uint64_t>(~same & 0xFFu) << i;
        const __m128i packed16 = _mm_packus_epi32(_mm256_castsi256_si128(c), _mm256_extracti128_si256(c, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(code + i), _mm_packus_epi16(packed16, packed16));
        previous = c;
    }
    if (i < count) {
        const uint64_t tail = kPlainLoops.entry_codes(pitch + i, count - i, codes, code + i);
        // The tail's first sample starts a run only where its code differs from the one before.
        starts |= (i > 0 && code[i] == code[i - 1] ? tail & ~uint64_t{1} : tail) << i;
    }
    return starts;
}

// Four fade weights from their steps (positive: a fade lies below half the rate), as
// fade_for_increment works them out (its division by 2^31 is exact, so a multiplication by 2^-31
// gives the same value).
TALLISK_AVX2 inline __m128 fade_weights(__m256d top, __m128i step) {
    const __m256d x = _mm256_mul_pd(_mm256_mul_pd(top, _mm256_cvtepi32_pd(step)), _mm256_set1_pd(1.0 / 2147483648.0));
    const __m256d t = _mm256_div_pd(_mm256_sub_pd(x, _mm256_set1_pd(kFadeStart)), _mm256_set1_pd(kFadeWidth));
    return _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_mul_pd(t, t), _mm256_sub_pd(_mm256_set1_pd(3.0), _mm256_mul_pd(_mm256_set1_pd(2.0), t))));
}

// Eight samples of a fade: both levels' reads as the plain loop makes them, the weight in double,
// four lanes at a time, in the per-sample rule's order of operations.
struct Fade {
    const float* a_level;
    const float* b_level;
    const int32_t* increment;
    __m128i shift_a, shift_b;
    __m256i mask_a, mask_b;
    __m256 scale_a, scale_b;
    __m256d top;
    TALLISK_AVX2 __m256 operator()(__m256 pitch, uint32_t& phase, __m256i& ph) const {
        const __m256i step = _mm256_i32gather_epi32(increment, entries(pitch).entry, 4);
        ph = phases(phase, step);
        const __m256 weight = _mm256_set_m128(fade_weights(top, _mm256_extracti128_si256(step, 1)),
                                              fade_weights(top, _mm256_castsi256_si128(step)));
        alignas(32) uint32_t at_a[8], at_b[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(at_a), _mm256_srl_epi32(ph, shift_a));
        _mm256_store_si256(reinterpret_cast<__m256i*>(at_b), _mm256_srl_epi32(ph, shift_b));
        asm volatile("" : "+m"(at_a), "+m"(at_b));  // read back from memory (see OneLevel)
        __m256 lo, hi;
        load_pairs(a_level, at_a, lo, hi);
        const __m256 fa = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(ph, mask_a)), scale_a);
        const __m256 a = _mm256_add_ps(lo, _mm256_mul_ps(_mm256_sub_ps(hi, lo), fa));
        load_pairs(b_level, at_b, lo, hi);
        const __m256 fb = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(ph, mask_b)), scale_b);
        const __m256 b = _mm256_add_ps(lo, _mm256_mul_ps(_mm256_sub_ps(hi, lo), fb));
        return _mm256_add_ps(a, _mm256_mul_ps(weight, _mm256_sub_ps(b, a)));
    }
};

TALLISK_AVX2 uint32_t fade_run_avx2(const float* wave, const FadePair& pair, const int32_t* increment, const float* pitch,
                                    uint32_t phase, float* out, int count) {
    const Fade group{wave + pair.offset_a,
                     wave + pair.offset_b,
                     increment,
                     _mm_cvtsi32_si128(static_cast<int>(pair.shift_a)),
                     _mm_cvtsi32_si128(static_cast<int>(pair.shift_b)),
                     _mm256_set1_epi32(static_cast<int>((1u << pair.shift_a) - 1u)),
                     _mm256_set1_epi32(static_cast<int>((1u << pair.shift_b) - 1u)),
                     _mm256_set1_ps(1.0f / static_cast<float>(1u << pair.shift_a)),
                     _mm256_set1_ps(1.0f / static_cast<float>(1u << pair.shift_b)),
                     _mm256_set1_pd(double(pair.top))};
    int i = 0;
    __m256i ph;
    for (; i + 8 <= count; i += 8) _mm256_storeu_ps(out + i, group(_mm256_loadu_ps(pitch + i), phase, ph));
    return i == count ? phase : tail_of(group, pitch + i, out + i, count - i, phase);
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
const OscillatorLoops kAvx2Loops{single_avx2,      crossfade_avx2,  held_run_avx2, entry_span_avx2, one_level_avx2,
                                 entry_codes_avx2, fade_run_avx2, glide_avx2};

}  // namespace tallisk

#endif
