// The delay line's buffer sizing and its per-sample loops.
#include "delay_line.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace chorus {

namespace {

constexpr uint32_t kEntriesAt48k[kChoiceCount] = {524288, 262144, 131072, 65536, 32768, 16384, 8192};

// Beyond this many samples a modulation offset means nothing for any buffer (the largest is
// 2^22 entries) and would overflow the integer conversion; such offsets, NaN among them, count as
// no modulation.
constexpr float kMaxOffset = 1073741824.0f;  // 2^30

// Non-finite samples never enter the line: one NaN would otherwise circulate for ever.
inline float finite_or_zero(float x) {
    return std::fabs(x) <= std::numeric_limits<float>::max() ? x : 0.0f;
}

}  // namespace

uint32_t entries_for(int choice, float sample_rate) {
    uint32_t n = kEntriesAt48k[std::clamp(choice, 0, kChoiceCount - 1)];
    if (sample_rate > 48000.0f) n *= 2;
    if (sample_rate > 96000.0f) n *= 2;
    if (sample_rate > 192000.0f) n *= 2;
    return n;
}

uint32_t delay_samples(float pre_delay, float scale) {
    const float samples = pre_delay * scale;
    if (!std::isfinite(samples)) return 0;
    // fmod keeps the whole part exact and inside int64 range; the unsigned cast then wraps it.
    const double whole = std::fmod(std::trunc(static_cast<double>(samples)), 4294967296.0);
    return static_cast<uint32_t>(static_cast<int64_t>(whole));
}

bool DelayLine::allocate(int choice, float sample_rate) {
    release();
    const uint32_t n = entries_for(choice, sample_rate);
    m_line.reset(new (std::nothrow) float[n]);
    if (!m_line) return false;
    m_size = n;
    m_mask = n - 1;
    m_write_pos = 0;
    clear();
    return true;
}

void DelayLine::release() {
    m_line.reset();
    m_size = 0;
    m_mask = 0;
    m_write_pos = 0;
}

void DelayLine::clear() {
    if (m_line) std::fill_n(m_line.get(), m_size, 0.0f);
}

void DelayLine::process_plain(const Block& b) { run<Feedback::kNone, false>(b); }
void DelayLine::process_echo(const Block& b) { run<Feedback::kPreDelay, false>(b); }
void DelayLine::process_flange(const Block& b) { run<Feedback::kChorus, false>(b); }

void DelayLine::process_streaming_depth(const Block& b, Feedback target) {
    if (target == Feedback::kPreDelay)
        run<Feedback::kPreDelay, true>(b);
    else
        run<Feedback::kChorus, true>(b);
}

template <Feedback kTarget, bool kDepthPerSample>
void DelayLine::run(const Block& b) {
    float* out = b.output;
    if (!out) return;
    if (!m_line || !b.input || !b.pre_delay || !b.modulation || !b.depth ||
        (kTarget != Feedback::kNone && !b.feedback)) {
        std::fill_n(out, b.count, 0.0f);
        return;
    }
    const float* in = b.input;
    const float* __restrict mod = b.modulation;
    const float* __restrict depth_in = b.depth;
    const float* __restrict fbk = b.feedback;
    float* __restrict line = m_line.get();
    const uint32_t mask = m_mask;
    const uint32_t delay = delay_samples(b.pre_delay[0], b.delay_scale);
    const float depth_scale = b.depth_scale;
    const float block_depth = depth_in[0] * depth_scale;
    uint32_t pos = m_write_pos;

    for (int i = 0; i < b.count; ++i) {
        const uint32_t p = pos & mask;
        const float x = finite_or_zero(in[i]);
        line[p] = x;

        const float depth = kDepthPerSample ? depth_in[i] * depth_scale : block_depth;
        float m = (mod[i] + 0.5f) * depth;
        m = std::fabs(m) <= kMaxOffset ? m : 0.0f;
        const int32_t k = static_cast<int32_t>(m);
        const float f = m - static_cast<float>(k);

        const uint32_t r = (p + delay + static_cast<uint32_t>(k)) & mask;
        const float y0 = line[r];
        const float y1 = line[(r + 1) & mask];
        const float y = y0 + f * (y1 - y0);
        out[i] = y;

        if constexpr (kTarget == Feedback::kPreDelay) {
            line[p] = finite_or_zero(x + flush_tiny(y * fbk[i]));
        } else if constexpr (kTarget == Feedback::kChorus) {
            const uint32_t t = (p + delay) & mask;
            line[t] = finite_or_zero(line[t] + flush_tiny(y * fbk[i]));
        }
        pos = p - 1;
    }
    m_write_pos = pos;
}

}  // namespace chorus
