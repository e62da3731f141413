// The chunked form of the delay line's loop in plain C++, which the compiler vectorises for the
// portable set: the arithmetic of the exact loop for 16 samples at a time, taken only when no read
// of the chunk can observe a write of the same chunk in a different order, so both give
// bit-identical results. Internal linkage, like the exact loop it falls back to.
#pragma once

#include <cstdint>
#include <cstring>

#include "kernel_exact.h"

namespace chorus::kernel {
namespace {

constexpr uint32_t W = 16;

// Processes W samples from `begin` and returns true, or returns false having changed nothing when
// the chunk needs the exact loop.
//
// Order of the chunk: the inputs are written first (except with echo feedback, whose writes are
// final values), then every tap is read, then the feedback is added. With e = the read distance
// (pre-delay plus whole offset, wrapped) and k = the whole offset, that matches the per-sample
// order exactly when
// - no read reaches a slot that a later sample of the chunk writes: e <= size - W - 1;
// - with echo feedback, no read reaches a slot that this chunk writes at all: W <= e <= size - 2;
// - with flange feedback, no read reaches a slot that an earlier sample's feedback changed
//   (k mod size >= W), and no feedback lands on a later sample's input slot (pre-delay mod size
//   <= size - W);
// and neither the chunk's write positions nor a pair of taps wrap around the end of the buffer.
template <Feedback kTarget, bool kDepthPerSample>
bool run_chunk(Line& l, const Streams& s, int begin) {
    const uint32_t mask = l.mask;
    const uint32_t p0 = l.pos & mask;
    const uint32_t dm = l.delay & mask;
    const uint32_t t0 = (p0 + dm) & mask;
    if (p0 < W - 1) return false;
    if (kTarget == Feedback::kChorus && (dm > mask + 1 - W || t0 < W - 1)) return false;

    const float* __restrict in = s.in + begin;
    const float* __restrict mod = s.mod + begin;
    const float* __restrict depth_in = s.depth + begin;
    const float* __restrict fbk = kTarget != Feedback::kNone ? s.fbk + begin : nullptr;
    float* __restrict out = s.out + begin;

    float frac[W];
    uint32_t tap[W];
    uint32_t unsafe = 0;
    for (uint32_t j = 0; j < W; ++j) {
        const float depth = kDepthPerSample ? depth_in[j] * s.depth_scale : s.block_depth;
        const float m = offset_of(mod[j], depth);
        const int32_t k = static_cast<int32_t>(m);
        frac[j] = m - static_cast<float>(k);
        const uint32_t e = (dm + static_cast<uint32_t>(k)) & mask;
        if constexpr (kTarget == Feedback::kPreDelay) {
            unsafe |= static_cast<uint32_t>(e - W > mask - 1 - W);
        } else {
            unsafe |= static_cast<uint32_t>(e > mask - W);
            if constexpr (kTarget == Feedback::kChorus)
                unsafe |= static_cast<uint32_t>((static_cast<uint32_t>(k) & mask) < W);
        }
        tap[j] = (p0 - j + e) & mask;
        unsafe |= static_cast<uint32_t>(tap[j] == mask);
    }
    if (unsafe) return false;

    float* line = l.data;
    float* slots = line + (p0 - (W - 1));  // sample j writes slots[W - 1 - j]
    if constexpr (kTarget != Feedback::kPreDelay)
        for (uint32_t j = 0; j < W; ++j) slots[W - 1 - j] = finite_or_zero(in[j]);

    // The two taps are adjacent (the check above keeps them from wrapping): one 8-byte load.
    float pairs[2 * W];
    for (uint32_t j = 0; j < W; ++j) std::memcpy(&pairs[2 * j], &line[tap[j]], 2 * sizeof(float));
    float y0[W], y1[W];
    for (uint32_t j = 0; j < W; ++j) {
        y0[j] = pairs[2 * j];
        y1[j] = pairs[2 * j + 1];
    }

    float back[W];
    for (uint32_t j = 0; j < W; ++j) {
        const float y = y0[j] + frac[j] * (y1[j] - y0[j]);
        out[j] = y;
        if constexpr (kTarget != Feedback::kNone) back[j] = clear_tiny(y * fbk[j]);
    }

    if constexpr (kTarget == Feedback::kPreDelay) {
        for (uint32_t j = 0; j < W; ++j) slots[W - 1 - j] = finite_or_zero(finite_or_zero(in[j]) + back[j]);
    } else if constexpr (kTarget == Feedback::kChorus) {
        float* target = line + (t0 - (W - 1));
        for (uint32_t j = 0; j < W; ++j) target[W - 1 - j] = finite_or_zero(target[W - 1 - j] + back[j]);
    }
    l.pos = p0 - W;
    return true;
}

template <Feedback kTarget, bool kDepthPerSample>
void run_chunked(Line& l, const Streams& s, int count) {
    int i = 0;
    for (; i + static_cast<int>(W) <= count; i += W)
        if (!run_chunk<kTarget, kDepthPerSample>(l, s, i)) run_exact<kTarget, kDepthPerSample>(l, s, i, i + W);
    run_exact<kTarget, kDepthPerSample>(l, s, i, count);
}

constexpr Loops kChunkedLoops = {
    &run_chunked<Feedback::kNone, false>,     &run_chunked<Feedback::kPreDelay, false>,
    &run_chunked<Feedback::kChorus, false>,   &run_chunked<Feedback::kPreDelay, true>,
    &run_chunked<Feedback::kChorus, true>,
};

}  // namespace
}  // namespace chorus::kernel
