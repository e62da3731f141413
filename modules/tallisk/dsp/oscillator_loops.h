// The oscillator's two block loops over a fixed table (static pitch) and a fixed waveform pair
// (settled morph), in a plain form and an AVX2 form that rounds identically, chosen at run time.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

#include "bank_layout.h"

namespace tallisk {

// The phase walk of one block: the table sample is phase >> shift, the interpolation fraction
// (phase & mask) * scale, and the phase advances by increment (modulo 2^32) after each sample.
struct PhaseWalk {
    uint32_t phase;
    uint32_t increment;
    uint32_t shift;
    uint32_t mask;
    float scale;
};

// A streaming pitch plays, at each sample, the increment-table entry e = round(|pitch| x 16384)
// mod 16384 and the level that its increment chooses.
constexpr int kStreamTableSize = 16384;

// Over the last 1 % below half the rate, a played level's top harmonics fade out (smoothstep)
// towards the next duller level, so that a moving pitch never switches a band of harmonics off
// from one sample to the next. The weight of the next level for an increment at `level`.
constexpr double kFadeStart = 0.99;
constexpr double kFadeWidth = 1.0 - kFadeStart;

inline float fade_for_increment(uint32_t increment, int level) {
    if (level >= kFundamentalOnly) return 0.0f;
    const double x = double(kPlayLevels[level].top) * increment / 2147483648.0;
    if (x <= kFadeStart) return 0.0f;
    const double t = (x - kFadeStart) / kFadeWidth;
    return static_cast<float>(t * t * (3.0 - 2.0 * t));
}

// A run of streaming samples whose every entry fades from one table level into the next: each
// level's offset in the waveform block and phase shift, and the top harmonic of the first.
struct FadePair {
    int32_t offset_a, offset_b;
    uint32_t shift_a, shift_b;
    int32_t top;
};

// What a table entry plays in a block loop (IncrementTables::block_level): a table level whole
// (0..10), a fade between table levels l and l + 1 (kFadeCode | l), or the per-sample rule.
constexpr uint8_t kFadeCode = 0x80;
constexpr uint8_t kPerSampleCode = 0xFF;
// At most this many samples per call of entry_codes (one bit each of its result).
constexpr int kCodeChunk = 64;

// The playing loops write count samples and return the phase after the last one.
struct OscillatorLoops {
    // out[i] = level[j] + (level[j + 1] - level[j]) * f
    uint32_t (*single)(const float* level, PhaseWalk walk, float* out, int count);
    // a and b as above from wa and wb, out[i] = a + fm * (b - a)
    uint32_t (*crossfade)(const float* wa, const float* wb, float fm, PhaseWalk walk, float* out, int count);
    // How many of x[0 .. count-1] from the start compare equal to x[0] (0 when x[0] is NaN).
    int (*held_run)(const float* x, int count);
    // The lowest and highest table entry of pitch[0 .. count-1] (count > 0); false where some pitch
    // takes the per-sample path for its entry (its index is 2^23 or more, or not finite).
    bool (*entry_span)(const float* pitch, int count, int* lowest, int* highest);
    // Streaming pitch whose every entry plays one table level: each sample as `single` reads it,
    // then the phase moves by the sample's own increment. Returns the phase after the last one.
    uint32_t (*one_level)(const float* level, uint32_t shift, const int32_t* increment, const float* pitch,
                          uint32_t phase, float* out, int count);
    // Each pitch's entry code into code[0 .. count-1] (count <= kCodeChunk) from codes (one byte an
    // entry, readable three bytes past the last), kPerSampleCode where the pitch's index is 2^23
    // or more or not finite; returns a mask with bit i set where sample i starts a run of one code.
    uint64_t (*entry_codes)(const float* pitch, int count, const uint8_t* codes, uint8_t* code);
    // Streaming pitch whose every entry fades between the two table levels of `pair`: each sample
    // as the per-sample rule plays it (both reads, the weight of the second from the increment).
    uint32_t (*fade_run)(const float* wave, const FadePair& pair, const int32_t* increment, const float* pitch,
                         uint32_t phase, float* out, int count);
    // A gliding morph, its positions worked out before: sample i cross-fades the tables at
    // base + a[i] and base + b[i] by fm[i], each read as `single` reads it.
    uint32_t (*glide)(const float* base, const int32_t* a, const int32_t* b, const float* fm, PhaseWalk walk,
                      float* out, int count);
};

extern const OscillatorLoops kPlainLoops;

// The AVX2 loops when this build has them and the processor (and its OS) supports AVX2, else null.
const OscillatorLoops* avx2_loops();

// The loops an oscillator uses by default: AVX2 where available, else the plain ones.
const OscillatorLoops& best_loops();

// Splits a streaming block into runs of samples that share one entry code and calls
// play(start, count, code) for each in order.
template <class Play>
void for_each_code_run(const OscillatorLoops& loops, const uint8_t* codes, const float* pitch, int count, Play&& play) {
    alignas(32) uint8_t code[kCodeChunk];
    for (int at = 0; at < count; at += kCodeChunk) {
        const int n = std::min(kCodeChunk, count - at);
        uint64_t starts = loops.entry_codes(pitch + at, n, codes, code);
        while (starts != 0) {
            const int s = std::countr_zero(starts);
            starts &= starts - 1;
            const int e = starts != 0 ? std::countr_zero(starts) : n;
            play(at + s, e - s, code[s]);
        }
    }
}

}  // namespace tallisk
