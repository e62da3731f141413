// The chorus's modulated delay line: a power-of-two circular buffer written once per sample and
// read back at a pre-delay plus a modulation offset, with optional feedback.
#pragma once

#include <cstdint>
#include <memory>

namespace chorus {

namespace kernel {
struct Line;
struct Loops;
struct Streams;
using LoopFn = void (*)(Line&, const Streams&, int count);
}  // namespace kernel

// Number of "Max Pre Delay(s)" choices; an index outside 0..kChoiceCount-1 is treated as the
// nearest valid one.
constexpr int kChoiceCount = 7;

// Entries for a "Max Pre Delay(s)" choice at a sample rate: the 48 kHz size, doubled above 48,
// 96 and 192 kHz.
uint32_t entries_for(int choice, float sample_rate);

// Where the feedback of the delayed output is added.
enum class Feedback {
    kNone,
    kPreDelay,  // into the line's input: an echo through pre-delay and modulation again
    kChorus,    // into the pre-delayed point: only the modulated part repeats (flanging)
};

// The streams of one process call, already advanced to the block's first sample. `feedback` may be
// null for the loop without feedback; any other null stream makes the call write silence.
struct Block {
    const float* input = nullptr;
    const float* pre_delay = nullptr;
    const float* modulation = nullptr;
    const float* depth = nullptr;
    const float* feedback = nullptr;
    float* output = nullptr;
    int count = 0;
    float delay_scale = 0.0f;  // samples per delivered pre-delay unit
    float depth_scale = 0.0f;  // samples per delivered depth unit
};

class DelayLine {
public:
    // Makes the line entries_for(choice, rate) entries long, zeroed, with the write position at 0.
    // It takes the memory reserved earlier when that is large enough, and allocates only
    // otherwise. Returns false (and holds no line) when memory is short.
    bool allocate(int choice, float sample_rate);
    // Keeps memory for the longest choice at this rate, so that later choices (made in pin
    // events on the audio thread) allocate nothing.
    bool reserve(float sample_rate);
    // Ends the line; the reserved memory is kept for the next allocate.
    void release();
    // Silences the line without moving the write position.
    void clear();

    bool ready() const { return m_size != 0; }
    uint32_t size() const { return m_size; }
    uint32_t mask() const { return m_mask; }
    uint32_t write_pos() const { return m_write_pos; }
    const float* data() const { return m_size ? m_line.get() : nullptr; }

    // The set of inner loops; by default the fastest this processor runs. All sets give the same
    // results; tests compare them.
    void use_loops(const kernel::Loops& loops) { m_loops = &loops; }

    // The four active loops. Without a buffer they write silence.
    void process_plain(const Block& b);
    void process_echo(const Block& b);
    void process_flange(const Block& b);
    // Depth read per sample; the feedback target is chosen once for the block.
    void process_streaming_depth(const Block& b, Feedback target);

private:
    const kernel::Loops& loops() const;
    void run(const Block& b, bool with_feedback, kernel::LoopFn loop);

    std::unique_ptr<float[]> m_line;
    uint32_t m_capacity = 0;  // entries of m_line
    uint32_t m_size = 0;      // entries in use; 0 when the line is off
    uint32_t m_mask = 0;
    uint32_t m_write_pos = 0;
    const kernel::Loops* m_loops = nullptr;
};

// Whole samples of pre-delay, truncated toward zero and wrapped modulo 2^32 (so modulo any buffer
// length); a non-finite value counts as no delay.
uint32_t delay_samples(float pre_delay, float scale);

// Clears values too small to matter (denormals among them) so that a decaying feedback tail ends
// in exact zeros instead of slow denormal arithmetic: (v - 1e-18) + 1e-18 in single precision.
float flush_tiny(float v);

}  // namespace chorus
