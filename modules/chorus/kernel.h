// The interface between the delay line and its inner loops, which are compiled once portably and
// once for AVX2 and picked at run time.
#pragma once

#include <cstdint>

namespace chorus::kernel {

struct Line {
    float* data;
    uint32_t mask;
    uint32_t pos;    // write position, masked before use
    uint32_t delay;  // whole samples of pre-delay, wrapped
};

struct Streams {
    const float* in;
    const float* mod;
    const float* depth;  // read per sample, or only through `block_depth`
    const float* fbk;    // null for the loop without feedback
    float* out;
    float depth_scale;
    float block_depth;
};

using LoopFn = void (*)(Line&, const Streams&, int count);

struct Loops {
    LoopFn plain;
    LoopFn echo;
    LoopFn flange;
    LoopFn depth_echo;
    LoopFn depth_flange;
};

// One sample at a time: the reference that the chunked loops must match bit for bit.
const Loops& exact_loops();
const Loops& portable_loops();
// Null where the processor or the build has no AVX2.
const Loops* avx2_loops();
// The chunked set built for AVX2; never call into it without checking the processor first.
extern const Loops kAvx2Loops;
// The fastest set this processor runs.
const Loops& best_loops();

float flush_tiny(float v);

}  // namespace chorus::kernel
