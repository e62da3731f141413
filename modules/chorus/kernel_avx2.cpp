// The inner loops for processors with AVX2, written with its intrinsics: the exact loop's
// arithmetic for 8 samples per register, in the same order and with the same conversions, so the
// results are bit-identical. The build gives this file -mavx2 on x86 only; nothing in it runs
// before the processor check in kernel_portable.cpp, and everything but the table of loops has
// internal linkage (so no AVX2 copy of a shared inline function can replace the portable one).
#include <immintrin.h>

#include "kernel_exact.h"

namespace chorus::kernel {
namespace {

constexpr uint32_t kLanes = 8;

inline __m256 magnitude(__m256 v) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), v); }

// The selects of the scalar steps as masks: a failed ordered compare (NaN included) gives +0.
inline __m256 finite_or_zero8(__m256 x) {
    return _mm256_and_ps(x, _mm256_cmp_ps(magnitude(x), _mm256_set1_ps(kLargest), _CMP_LE_OQ));
}

// The whole and fractional parts of the offsets. An offset that is not finite or lies beyond
// kMaxOffset counts as none (both parts +0, as in offset_of); its mask is applied after the
// conversion rather than before, which shortens the path to the tap addresses.
inline void split_offset(__m256 modulation, __m256 depth, __m256i& k, __m256& f) {
    const __m256 m = _mm256_mul_ps(_mm256_add_ps(modulation, _mm256_set1_ps(0.5f)), depth);
    const __m256 valid = _mm256_cmp_ps(magnitude(m), _mm256_set1_ps(kMaxOffset), _CMP_LE_OQ);
    const __m256i whole = _mm256_cvttps_epi32(m);
    k = _mm256_and_si256(whole, _mm256_castps_si256(valid));
    f = _mm256_and_ps(_mm256_sub_ps(m, _mm256_cvtepi32_ps(whole)), valid);
}

inline __m256 clear_tiny8(__m256 v) {
    const __m256 bias = _mm256_set1_ps(kTinyBias);
    return _mm256_add_ps(_mm256_sub_ps(v, bias), bias);
}

// Sample j of a chunk writes the slot j places below its first: in memory the chunk's slots hold
// its samples in reverse.
inline __m256 reversed(__m256 v) { return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0)); }

inline __m256 pair_of(const float* line, uint64_t at) {
    return _mm256_castpd_ps(_mm256_broadcast_sd(reinterpret_cast<const double*>(line + at)));
}

// Both taps of each lane, older one second: one 8-byte load per lane (the pair never wraps, the
// safety check sees to that), broadcast so that blends rather than shuffles gather the pairs, and
// two shuffles to split them; cheaper here than gathers. The indices leave the register two at a
// time and are split with scalar shifts, which keeps that work off the shuffle units.
inline void load_scattered_taps(const float* line, __m256i tap, __m256& y0, __m256& y1) {
    alignas(32) uint64_t at[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), tap);
    const uint64_t i01 = at[0], i23 = at[1], i45 = at[2], i67 = at[3];
    const __m256 a = _mm256_blend_ps(_mm256_blend_ps(pair_of(line, i01 & 0xffffffffu), pair_of(line, i01 >> 32), 0x0c),
                                     _mm256_blend_ps(pair_of(line, i45 & 0xffffffffu), pair_of(line, i45 >> 32), 0xc0),
                                     0xf0);  // pairs 0 1 | 4 5
    const __m256 b = _mm256_blend_ps(_mm256_blend_ps(pair_of(line, i23 & 0xffffffffu), pair_of(line, i23 >> 32), 0x0c),
                                     _mm256_blend_ps(pair_of(line, i67 & 0xffffffffu), pair_of(line, i67 >> 32), 0xc0),
                                     0xf0);  // pairs 2 3 | 6 7
    y0 = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    y1 = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
}

// While the offset moves slowly (as a chorus's usually does) the chunk's taps are eight adjacent
// slots, newest last: two unaligned loads of that window and two permutes then fetch them.
inline void load_taps(const float* line, __m256i tap, uint32_t mask, __m256& y0, __m256& y1) {
    const __m256i last = _mm256_shuffle_epi32(_mm256_permute4x64_epi64(tap, 0xff), 0x55);
    const __m256i rel = _mm256_sub_epi32(tap, last);
    const uint32_t base = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(last)));
    if (_mm256_testz_si256(rel, _mm256_set1_epi32(~static_cast<int32_t>(kLanes - 1))) && base <= mask - kLanes) {
        y0 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(line + base), rel);
        y1 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(line + base + 1), rel);
    } else {
        load_scattered_taps(line, tap, y0, y1);
    }
}

// What a chunk reads: the fraction and the newer tap of each sample, how far its reads reach past
// the feedback written before them (the read distance with echo feedback, the whole offset with
// flange feedback), and whether the read distances allow the vector form at all.
struct Reads {
    __m256 f;
    __m256i tap;
    __m256i reach;
    bool safe;
};

// The vector form reorders the per-sample steps. Each chunk writes its inputs first (except with
// echo feedback, whose writes are final values), then reads every tap. With feedback, chunks form
// runs: all reads of a run come first, then all its feedback, chunk by chunk in order. With e = the
// read distance (pre-delay plus whole offset, wrapped), k = the whole offset and g = a sample's
// place in its run, that matches the per-sample order exactly when
// - no read reaches a slot that a later sample of the chunk writes: e <= size - 9;
// - with echo feedback, no read reaches a slot that the run wrote before it, its own included:
//   g + 1 <= e <= size - 2;
// - with flange feedback, no read reaches a slot that the run's feedback changed before it
//   (k mod size >= g + 1), and no feedback lands on a later input slot of the run (pre-delay mod
//   size <= size - the run's length);
// and neither the chunk's write positions, its feedback slots nor a pair of taps wrap around the
// end of the buffer. A chunk that cannot extend the run ends it; one that cannot start a run
// either runs through the exact loop.
template <Feedback kTarget, bool kDepthPerSample>
void run_avx2(Line& l, const Streams& s, int count) {
    constexpr bool kFeedback = kTarget != Feedback::kNone;
    float* const line = l.data;
    const uint32_t mask = l.mask;
    const uint32_t dm = l.delay & mask;
    const float* const in = s.in;
    const float* const mod = s.mod;
    const float* const depth_in = s.depth;
    const float* const fbk = s.fbk;
    float* const out = s.out;

    // Every index below lies in 0 .. mask < 2^31, so signed compares order them correctly.
    const __m256i vmask = _mm256_set1_epi32(static_cast<int32_t>(mask));
    const __m256i vdelay = _mm256_set1_epi32(static_cast<int32_t>(dm));
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i width = _mm256_set1_epi32(kLanes);
    // Largest safe read distance without echo feedback, size - 9 (with it, size - 2: all but mask).
    const __m256i far = _mm256_set1_epi32(static_cast<int32_t>(mask - kLanes));
    const __m256 block_depth = _mm256_set1_ps(s.block_depth);
    const __m256 depth_scale = _mm256_set1_ps(s.depth_scale);

    // Reads only the modulation and depth streams, so the next chunk's taps are found while the
    // current chunk runs: that overlaps the long path from modulation to tap address with the
    // current chunk's arithmetic.
    const auto reads_at = [&](int at, __m256i written) {
        const __m256 depth =
            kDepthPerSample ? _mm256_mul_ps(_mm256_loadu_ps(depth_in + at), depth_scale) : block_depth;
        Reads r;
        __m256i k;
        split_offset(_mm256_loadu_ps(mod + at), depth, k, r.f);
        const __m256i e = _mm256_and_si256(_mm256_add_epi32(vdelay, k), vmask);
        r.tap = _mm256_and_si256(_mm256_add_epi32(written, e), vmask);
        __m256i unsafe = _mm256_cmpeq_epi32(r.tap, vmask);
        if constexpr (kTarget == Feedback::kPreDelay) {
            unsafe = _mm256_or_si256(unsafe, _mm256_cmpeq_epi32(e, vmask));
            r.reach = e;
        } else {
            unsafe = _mm256_or_si256(unsafe, _mm256_cmpgt_epi32(e, far));
            r.reach = _mm256_and_si256(k, vmask);
        }
        r.safe = _mm256_testz_si256(unsafe, unsafe);
        return r;
    };

    // Whether a chunk `at` samples into a run may join it.
    const auto joins_run = [&](const Reads& r, int at) {
        if (kTarget == Feedback::kChorus && static_cast<uint32_t>(at) + kLanes > mask - dm + 1) return false;
        const __m256i needed = _mm256_add_epi32(_mm256_set1_epi32(at + 1), lanes);
        const __m256i short_reach = _mm256_cmpgt_epi32(needed, r.reach);
        return static_cast<bool>(_mm256_testz_si256(short_reach, short_reach));
    };

    // The feedback of the run of chunks from `begin` to `end`, whose first write position is
    // `first`, from the outputs stored for it.
    const auto add_feedback = [&](int begin, int end, uint32_t first) {
        for (int c = begin; c < end; c += kLanes) {
            const uint32_t p0 = (first - static_cast<uint32_t>(c - begin)) & mask;
            const __m256 back =
                clear_tiny8(_mm256_mul_ps(_mm256_loadu_ps(out + c), _mm256_loadu_ps(fbk + c)));
            if constexpr (kTarget == Feedback::kPreDelay) {
                const __m256 x = finite_or_zero8(_mm256_loadu_ps(in + c));
                _mm256_storeu_ps(line + (p0 - (kLanes - 1)), reversed(finite_or_zero8(_mm256_add_ps(x, back))));
            } else {
                float* const target = line + (((p0 + dm) & mask) - (kLanes - 1));
                _mm256_storeu_ps(target, finite_or_zero8(_mm256_add_ps(_mm256_loadu_ps(target), reversed(back))));
            }
        }
    };

    uint32_t pos = l.pos;
    // The slots the chunk's samples write, unmasked: the exact loop moves the position by the same
    // eight (modulo the size), so this stays right whichever form a chunk takes.
    __m256i written = _mm256_sub_epi32(_mm256_set1_epi32(static_cast<int32_t>(pos)), lanes);
    int run_begin = 0;
    uint32_t run_first = pos;
    int i = 0;
    Reads next{};
    if (count >= static_cast<int>(kLanes)) next = reads_at(0, written);
    for (; i + static_cast<int>(kLanes) <= count; i += kLanes) {
        const Reads now = next;
        written = _mm256_sub_epi32(written, width);
        if (i + static_cast<int>(2 * kLanes) <= count) next = reads_at(i + kLanes, written);

        const uint32_t p0 = pos & mask;
        bool fits = now.safe && p0 >= kLanes - 1;
        if constexpr (kTarget == Feedback::kChorus) fits = fits && ((p0 + dm) & mask) >= kLanes - 1;
        if constexpr (kFeedback) {
            if (fits && !joins_run(now, i - run_begin) && run_begin != i) {
                add_feedback(run_begin, i, run_first);
                run_begin = i;
                run_first = pos;
            }
            fits = fits && joins_run(now, i - run_begin);
        }
        if (!fits) {
            if constexpr (kFeedback) add_feedback(run_begin, i, run_first);
            l.pos = pos;
            run_exact<kTarget, kDepthPerSample>(l, s, i, i + kLanes);
            pos = l.pos;
            run_begin = i + kLanes;
            run_first = pos;
            continue;
        }

        if constexpr (kTarget != Feedback::kPreDelay)
            _mm256_storeu_ps(line + (p0 - (kLanes - 1)), reversed(finite_or_zero8(_mm256_loadu_ps(in + i))));
        __m256 y0, y1;
        load_taps(line, now.tap, mask, y0, y1);
        _mm256_storeu_ps(out + i, _mm256_add_ps(y0, _mm256_mul_ps(now.f, _mm256_sub_ps(y1, y0))));
        pos = p0 - kLanes;
    }
    if constexpr (kFeedback) add_feedback(run_begin, i, run_first);
    l.pos = pos;
    // Leaves the upper halves clean for SSE code that runs next (the host's, another plug-in's):
    // the compiler omits this before a tail call.
    _mm256_zeroupper();
    if (i < count) run_exact<kTarget, kDepthPerSample>(l, s, i, count);
}

}  // namespace

const Loops kAvx2Loops = {
    &run_avx2<Feedback::kNone, false>,     &run_avx2<Feedback::kPreDelay, false>,
    &run_avx2<Feedback::kChorus, false>,   &run_avx2<Feedback::kPreDelay, true>,
    &run_avx2<Feedback::kChorus, true>,
};

}  // namespace chorus::kernel
