// The one-sample-at-a-time loop and its per-sample steps, included by each kernel_*.cpp and
// compiled there with that file's instruction set. It is the reference every faster form must
// match bit for bit, and the fallback for the chunks they cannot take. Everything here has
// internal linkage so that the copies built for different processors never stand in for one
// another at link time.
#pragma once

#include <cstdint>
#include <limits>

#include "delay_line.h"
#include "kernel.h"

namespace chorus::kernel {
namespace {

// Beyond this many samples a modulation offset means nothing for any buffer (the largest is
// 2^22 entries) and would overflow the integer conversion; such offsets, NaN among them, count as
// no modulation.
constexpr float kMaxOffset = 1073741824.0f;  // 2^30
constexpr float kLargest = std::numeric_limits<float>::max();
constexpr float kTinyBias = 1.0e-18f;

// Strict IEEE evaluation is required here: never build the kernels with -ffast-math.
inline float clear_tiny(float v) { return (v - kTinyBias) + kTinyBias; }

// Non-finite samples never enter the line: one NaN would otherwise circulate for ever.
inline float finite_or_zero(float x) { return __builtin_fabsf(x) <= kLargest ? x : 0.0f; }

inline float offset_of(float modulation, float depth) {
    const float m = (modulation + 0.5f) * depth;
    return __builtin_fabsf(m) <= kMaxOffset ? m : 0.0f;
}

template <Feedback kTarget, bool kDepthPerSample>
void run_exact(Line& l, const Streams& s, int begin, int end) {
    float* line = l.data;
    const uint32_t mask = l.mask;
    const uint32_t delay = l.delay;
    uint32_t pos = l.pos;
    for (int i = begin; i < end; ++i) {
        const uint32_t p = pos & mask;
        const float x = finite_or_zero(s.in[i]);
        line[p] = x;
        const float depth = kDepthPerSample ? s.depth[i] * s.depth_scale : s.block_depth;
        const float m = offset_of(s.mod[i], depth);
        const int32_t k = static_cast<int32_t>(m);
        const float f = m - static_cast<float>(k);
        const uint32_t r = (p + delay + static_cast<uint32_t>(k)) & mask;
        const float y0 = line[r];
        const float y1 = line[(r + 1) & mask];
        const float y = y0 + f * (y1 - y0);
        s.out[i] = y;
        if constexpr (kTarget == Feedback::kPreDelay) {
            line[p] = finite_or_zero(x + clear_tiny(y * s.fbk[i]));
        } else if constexpr (kTarget == Feedback::kChorus) {
            const uint32_t t = (p + delay) & mask;
            line[t] = finite_or_zero(line[t] + clear_tiny(y * s.fbk[i]));
        }
        pos = p - 1;
    }
    l.pos = pos;
}

template <Feedback kTarget, bool kDepthPerSample>
void run_whole(Line& l, const Streams& s, int count) {
    run_exact<kTarget, kDepthPerSample>(l, s, 0, count);
}

}  // namespace
}  // namespace chorus::kernel
