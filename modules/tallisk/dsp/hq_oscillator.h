// The high-quality build's oscillator: the same pitch law, level choice, fades and morph as
// Oscillator, with every table read through the 8-tap sinc reader instead of linear interpolation.
#pragma once

#include <cstdint>
#include <memory>

#include "oscillator.h"
#include "sinc_kernel.h"

namespace tallisk {

class HqOscillator {
public:
    HqOscillator();

    // Both take effect from the next pitch update.
    void build_increment_tables(float sample_rate) {
        settle();
        m_core->build_increment_tables(sample_rate);
    }
    void set_law(PitchLaw law) {
        settle();
        m_core->set_law(law);
    }
    PitchLaw law() const { return m_core->law(); }
    void set_store(const LevelStore* store) { m_store = store; }
    const LevelStore* store() const { return m_store; }
    void set_waveform(int waveform) { m_waveform = waveform; }
    // plain = true keeps this oscillator on the plain sinc loops (for the tests).
    void use_plain_loops(bool plain) { m_loops = plain ? &kSincPlainLoops : &best_sinc_loops(); }

    void reset();
    void pitch_update(float pitch);
    void static_pitch_update(float pitch);

    void render_streaming(const float* pitch, float* out, int count);
    void render_static(float* out, int count);
    void render_morph_streaming(const float* pitch, const float* morph, float* out, int count);
    void render_morph_static(const float* morph, float* out, int count);

    // State, for the tests: the pitch-derived values are those of the last pitch played.
    uint32_t phase() const { return m_phase; }
    uint32_t increment() const { return m_behind ? m_core->increment() : m_increment; }
    int level() const { return m_behind ? m_core->level() : m_level; }
    float fade() const { return m_behind ? m_core->fade() : m_fade; }
    float last_pitch() const { return m_last_pitch; }
    float morph_pos() const { return m_morph_pos; }

private:
    // After a streaming block the last pitch's values are worked out only where a later path needs
    // them (the next block mostly brings new pitches anyway).
    void settle() {
        if (m_behind) pitch_update(m_last_pitch);
    }
    float sample_at(const float* wave) const;
    float morph_sample(const LevelReader& reader) const;
    void advance_morph(float morph);
    bool silent() const;
    void morph_loop(const LevelReader& reader, const float* morph, float* out, int count);

    // The pitch law and level choice are the linear oscillator's own: its increment tables and
    // pitch update give the increment, level and fade that this one plays.
    std::unique_ptr<Oscillator> m_core;
    const SincKernel& m_kernel;
    const SincLoops* m_loops;
    const LevelStore* m_store = nullptr;
    int m_waveform = 0;

    uint32_t m_phase = 0;
    uint32_t m_increment = 0;
    float m_last_pitch = 0.0f;
    bool m_pitch_stale = true;
    bool m_behind = false;  // the values below are not yet worked out for m_last_pitch
    int m_level = 0;
    float m_fade = 0.0f;
    bool m_blended = false;
    int m_level_offset = 0;
    uint32_t m_shift = 20;
    float m_morph_pos = 0.0f;
};

}  // namespace tallisk
