// The LFO's waveforms as functions of a phase in cycles, and the phase step; exact formulas so
// that a render can be checked sample by sample.
#pragma once

#include <cmath>

namespace mvb {

enum class LfoShape { Sine = 0, Triangle = 1, Saw = 2 };

// Every shape is 0 at phase 0 and rising there, and spans -1..1.
inline double lfo_wave(LfoShape shape, double phase) {
    switch (shape) {
    case LfoShape::Triangle:
        if (phase < 0.25) return 4.0 * phase;
        if (phase < 0.75) return 2.0 - 4.0 * phase;
        return 4.0 * phase - 4.0;
    case LfoShape::Saw: return phase < 0.5 ? 2.0 * phase : 2.0 * phase - 2.0;
    case LfoShape::Sine:
    default: return std::sin(2.0 * M_PI * phase);
    }
}

// Phase after one sample, kept in [0, 1); negative rates run backwards.
inline double lfo_advance(double phase, double increment) {
    phase += increment;
    phase -= std::floor(phase);
    // A tiny negative phase wraps to 1.0 after rounding; that is the next cycle's 0.
    return phase < 1.0 ? phase : 0.0;
}

// Cycles per sample for a Rate input in float units (1.0 = 10 V = 10 Hz).
inline double lfo_increment(float rate, double sample_rate) {
    return sample_rate > 0.0 ? static_cast<double>(rate) * 10.0 / sample_rate : 0.0;
}

}  // namespace mvb
