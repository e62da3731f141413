// The oscillator's two block loops over a fixed table (static pitch) and a fixed waveform pair
// (settled morph), in a plain form and an AVX2 form that rounds identically, chosen at run time.
#pragma once

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
// mod 16384 and the level that its increment chooses: the count of switch_at thresholds it reaches
// (the played level, kPlayLevels, whose top harmonic would reach half the rate is passed). From
// fade_from[level] on (within 1 % of half the rate, and always for the levels read without a table
// of their own) the sample fades into the next level: the plain loop plays the fades between two
// table levels itself, and leaves the others to the oscillator's per-sample path. read[level] packs the level
// table's offset in its waveform block (bits 0-15) and its phase shift (bits 16-23).
constexpr int kStreamTableSize = 16384;

// Over the last 1 % below half the rate, a played level's top harmonics fade out (smoothstep)
// towards the next duller level, so that a moving pitch never switches a band of harmonics off
// from one sample to the next. The weight of the next level for an increment at `level`.
constexpr double kFadeStart = 0.99;

inline float fade_for_increment(uint32_t increment, int level) {
    if (level >= kFundamentalOnly) return 0.0f;
    const double x = double(kPlayLevels[level].top) * increment / 2147483648.0;
    if (x <= kFadeStart) return 0.0f;
    const double t = (x - kFadeStart) / (1.0 - kFadeStart);
    return static_cast<float>(t * t * (3.0 - 2.0 * t));
}

struct StreamLevels {
    int32_t switch_at[kPlayCount - 1];
    int32_t fade_from[kPlayCount];
    int32_t read[kPlayCount];
};

// Both loops write count samples and return the phase after the last one.
struct OscillatorLoops {
    // out[i] = level[j] + (level[j + 1] - level[j]) * f
    uint32_t (*single)(const float* level, PhaseWalk walk, float* out, int count);
    // a and b as above from wa and wb, out[i] = a + fm * (b - a)
    uint32_t (*crossfade)(const float* wa, const float* wb, float fm, PhaseWalk walk, float* out, int count);
    // How many of x[0 .. count-1] from the start compare equal to x[0] (0 when x[0] is NaN).
    int (*held_run)(const float* x, int count);
    // Streaming pitch over waveform block `wave`: plays the samples up to the first that needs the
    // per-sample path (a pitch whose index is 2^23 or more or not finite, or a slow entry), returns
    // how many it wrote and moves *phase past them.
    int (*streaming)(const float* wave, const int32_t* increment, const StreamLevels& levels, const float* pitch,
                     uint32_t* phase, float* out, int count);
    // The lowest and highest table entry of pitch[0 .. count-1] (count > 0); false where some pitch
    // takes the per-sample path for its entry (its index is 2^23 or more, or not finite).
    bool (*entry_span)(const float* pitch, int count, int* lowest, int* highest);
    // Streaming pitch whose every entry plays one table level: each sample as `single` reads it,
    // then the phase moves by the sample's own increment. Returns the phase after the last one.
    uint32_t (*one_level)(const float* level, uint32_t shift, const int32_t* increment, const float* pitch,
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

}  // namespace tallisk
