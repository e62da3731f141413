// The ADSR envelope core: linear segments at fixed slopes, each restarted from the current level.
#pragma once

#include <cstdint>

namespace mvb {

struct EnvelopeSettings {
    // Samples each segment takes for a full swing between 0 and 1; 1 or less jumps in one sample.
    double attack = 0.0;
    double decay = 0.0;
    double release = 0.0;
    double sustain = 0.0;  // level 0..1, clamped by the envelope
};

class Envelope {
public:
    enum class Stage { Idle, Attack, Decay, Sustain, Release };

    // The attack starts from the current level with the next sample.
    void gate_on();
    // The release starts from the current level with the next sample (nothing when idle).
    void gate_off();
    // The next sample. Within a segment that starts at level L with slope s, sample k (from 0) is
    // L + (k + 1)·s (rising) or L − (k + 1)·s (falling), computed in double, until the target.
    double next(const EnvelopeSettings& settings);

    Stage stage() const { return m_stage; }
    // Idle and Sustain: the output stays put while the gate and the sustain level do.
    bool steady() const { return m_stage == Stage::Idle || m_stage == Stage::Sustain; }
    double level() const { return m_level; }
    void reset();

private:
    void begin(Stage stage);
    double step(double slope);

    Stage m_stage = Stage::Idle;
    double m_level = 0.0;
    double m_start = 0.0;
    double m_slope = 0.0;
    int64_t m_k = 0;
};

// Samples per full swing of a segment that lasts `seconds` from 0 to 1, never negative.
double segment_samples(double seconds, double sample_rate);

}  // namespace mvb
