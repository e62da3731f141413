// The ADSR envelope core.
#include "envelope.h"

#include <algorithm>

namespace mvb {

namespace {

double slope_of(double samples) { return samples > 1.0 ? 1.0 / samples : 1.0; }

}  // namespace

double segment_samples(double seconds, double sample_rate) {
    // NaN compares false, so it ends up as an instant segment too.
    return seconds > 0.0 && sample_rate > 0.0 ? seconds * sample_rate : 0.0;
}

void Envelope::reset() {
    m_stage = Stage::Idle;
    m_level = 0.0;
    m_start = 0.0;
    m_slope = 0.0;
    m_k = 0;
}

void Envelope::begin(Stage stage) {
    m_stage = stage;
    m_start = m_level;
    m_slope = 0.0;
    m_k = 0;
}

void Envelope::gate_on() { begin(Stage::Attack); }

void Envelope::gate_off() {
    if (m_stage != Stage::Idle) begin(Stage::Release);
}

// Rebases m_start when the slope changes, so callers read m_start only after calling it.
double Envelope::step(double slope) {
    // A segment begins with no slope; a time that changes inside a segment re-bases it at the
    // current level, so the output bends instead of jumping.
    if (slope != m_slope) {
        m_start = m_level;
        m_slope = slope;
        m_k = 0;
    }
    ++m_k;
    return static_cast<double>(m_k) * slope;
}

double Envelope::next(const EnvelopeSettings& s) {
    const double sustain = std::clamp(s.sustain, 0.0, 1.0);
    switch (m_stage) {
    case Stage::Idle: m_level = 0.0; break;
    case Stage::Attack: {
        const double d = step(slope_of(s.attack));
        const double v = m_start + d;
        if (v >= 1.0) {
            m_level = 1.0;
            begin(Stage::Decay);
        } else {
            m_level = v;
        }
        break;
    }
    case Stage::Decay: {
        const double d = step(slope_of(s.decay));
        const double v = m_start - d;
        if (v <= sustain) {
            m_level = sustain;
            m_stage = Stage::Sustain;
        } else {
            m_level = v;
        }
        break;
    }
    case Stage::Sustain: m_level = sustain; break;
    case Stage::Release: {
        const double d = step(slope_of(s.release));
        const double v = m_start - d;
        if (v <= 0.0) {
            m_level = 0.0;
            m_stage = Stage::Idle;
        } else {
            m_level = v;
        }
        break;
    }
    }
    return m_level;
}

}  // namespace mvb
