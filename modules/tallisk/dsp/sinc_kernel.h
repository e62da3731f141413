// The high-quality build's table reader: an 8-tap Kaiser-windowed sinc in 256 phases, linear
// between phases, with block loops in a plain form and an AVX2 + FMA form chosen at run time.
#pragma once

#include <cstdint>

namespace tallisk {

constexpr int kSincTaps = 8;
constexpr int kSincPhaseBits = 8;
constexpr int kSincPhases = 1 << kSincPhaseBits;

// Row p holds the weights of the taps level[j - 3] .. level[j + 4] for a read p / 256 of the way
// from level[j] to level[j + 1], and each weight's step to row p + 1; a read between two rows
// takes weight + fraction x step.
struct SincKernel {
    alignas(32) float weight[kSincPhases][kSincTaps];
    alignas(32) float step[kSincPhases][kSincTaps];
};

// Made once per process (the first call, from a constructor, never the audio thread).
const SincKernel& sinc_kernel();

// The continuous kernel the rows sample, t in table samples (0 outside -4..4), unit gain at DC.
double sinc_kernel_at(double t);

// One sample of a periodic level table of 2^(32 - shift) samples at a 32-bit phase; the taps wrap
// round the table's ends (its guard samples are never read).
float sinc_read(const SincKernel& k, const float* level, uint32_t phase, uint32_t shift);

struct SincLoops {
    // out[i] = the table at phase + i x increment; returns the phase after the last sample.
    uint32_t (*single)(const SincKernel& k, const float* level, uint32_t shift, uint32_t phase, uint32_t increment,
                       float* out, int count);
    // out[i] = a + fm x (b - a) with a, b the two tables read as above.
    uint32_t (*crossfade)(const SincKernel& k, const float* wa, const float* wb, float fm, uint32_t shift,
                          uint32_t phase, uint32_t increment, float* out, int count);
    // A streaming pitch whose every entry plays one level: each sample read as `single` reads it,
    // then the phase moves by increment[e], e the pitch's table entry (round(|pitch| x 16384) mod
    // 16384, every |pitch| x 16384 below 2^23).
    uint32_t (*one_level)(const SincKernel& k, const float* level, uint32_t shift, const int32_t* increment,
                          const float* pitch, uint32_t phase, float* out, int count);
};

// The table entry of a pitch whose magnitude x 16384 lies below 2^23: round to nearest even (the sum
// with 2^23 has no fraction bits), modulo the table, as the linear oscillator's pitch update.
inline int sinc_entry_of(float pitch) {
    const float scaled = (pitch < 0.0f ? -pitch : pitch) * 16384.0f;
    return static_cast<int>((scaled + 8388608.0f) - 8388608.0f) & 16383;
}

extern const SincLoops kSincPlainLoops;
// The AVX2 + FMA loops where this build has them and the processor supports both, else null.
const SincLoops* sinc_avx2_loops();
const SincLoops& best_sinc_loops();

}  // namespace tallisk
