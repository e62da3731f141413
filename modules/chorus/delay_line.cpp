// The delay line's buffer: sizing, allocation, and the choice of loop for each process call.
#include "delay_line.h"

#include "kernel.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace chorus {

namespace {

constexpr uint32_t kEntriesAt48k[kChoiceCount] = {524288, 262144, 131072, 65536, 32768, 16384, 8192};

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
    if (std::fabs(samples) < 2147483648.0f) return static_cast<uint32_t>(static_cast<int32_t>(samples));
    // fmod keeps the whole part exact and inside int64 range; the unsigned cast then wraps it.
    const double whole = std::fmod(std::trunc(static_cast<double>(samples)), 4294967296.0);
    return static_cast<uint32_t>(static_cast<int64_t>(whole));
}

bool DelayLine::reserve(float sample_rate) {
    const uint32_t n = entries_for(0, sample_rate);
    if (m_line && m_capacity >= n) return true;
    release();
    m_line.reset(new (std::nothrow) float[n]);
    m_capacity = m_line ? n : 0;
    return m_line != nullptr;
}

bool DelayLine::allocate(int choice, float sample_rate) {
    release();
    // Chosen here rather than in a process call: the first choice runs a processor check.
    if (!m_loops) m_loops = &kernel::best_loops();
    const uint32_t n = entries_for(choice, sample_rate);
    if (!m_line || m_capacity < n) {
        m_line.reset(new (std::nothrow) float[n]);
        m_capacity = m_line ? n : 0;
        if (!m_line) return false;
    }
    m_size = n;
    m_mask = n - 1;
    m_write_pos = 0;
    clear();
    return true;
}

void DelayLine::release() {
    m_size = 0;
    m_mask = 0;
    m_write_pos = 0;
}

void DelayLine::clear() {
    if (m_size) std::fill_n(m_line.get(), m_size, 0.0f);
}

// Before the first allocation there is no buffer and the loops only write silence.
const kernel::Loops& DelayLine::loops() const { return m_loops ? *m_loops : kernel::exact_loops(); }

void DelayLine::process_plain(const Block& b) { run(b, false, loops().plain); }
void DelayLine::process_echo(const Block& b) { run(b, true, loops().echo); }
void DelayLine::process_flange(const Block& b) { run(b, true, loops().flange); }

void DelayLine::process_streaming_depth(const Block& b, Feedback target) {
    run(b, true, target == Feedback::kPreDelay ? loops().depth_echo : loops().depth_flange);
}

void DelayLine::run(const Block& b, bool with_feedback, kernel::LoopFn loop) {
    if (!b.output) return;
    if (!m_size || !b.input || !b.pre_delay || !b.modulation || !b.depth || (with_feedback && !b.feedback)) {
        std::fill_n(b.output, b.count, 0.0f);
        return;
    }
    kernel::Line line{m_line.get(), m_mask, m_write_pos, delay_samples(b.pre_delay[0], b.delay_scale)};
    const kernel::Streams streams{b.input,  b.modulation,  b.depth, with_feedback ? b.feedback : nullptr,
                                  b.output, b.depth_scale, b.depth[0] * b.depth_scale};
    loop(line, streams, b.count);
    m_write_pos = line.pos;
}

float flush_tiny(float v) { return kernel::flush_tiny(v); }

}  // namespace chorus
