// The oscillator's inner loops, free of the SDK: increment tables for both pitch laws, the pitch
// update with its level selection, single-waveform playback and morphing, over a LevelStore.
#pragma once

#include <cstdint>

#include "bank_layout.h"
#include "level_store.h"
#include "oscillator_loops.h"

namespace tallisk {

enum class PitchLaw { VoltPerOctave = 0, VoltPerKilohertz = 1 };

class Oscillator {
public:
    static constexpr int kTableSize = 16384;

    Oscillator();

    // Rebuilds both increment tables for the sample rate (takes effect from the next pitch update).
    void build_increment_tables(float sample_rate);
    void set_law(PitchLaw law);
    PitchLaw law() const { return m_law; }

    void set_store(const LevelStore* store) { m_store = store; }
    const LevelStore* store() const { return m_store; }
    // The waveform played with morphing off; values outside 0..63 play silence.
    void set_waveform(int waveform) { m_waveform = waveform; }
    // The static-pitch and settled-morph blocks run the AVX2 loops where the processor has them;
    // plain = true keeps this oscillator on the plain loops (same results, for the tests).
    void use_plain_loops(bool plain) { m_loops = plain ? &kPlainLoops : &best_loops(); }

    // Zeroes phase, increment and the pitch-derived values; they are recomputed before the next
    // sample (the streaming loops see a pitch they have not seen, the static ones are set by
    // static_pitch_update).
    void reset();
    // Pitch update from a pitch value (1.0 = 10 V): table index, increment, level.
    void pitch_update(float pitch);
    // Same, with the magnitude limited to 0.9 (9 V) as the static paths want.
    void static_pitch_update(float pitch);

    // The four loops. out receives count samples; pitch and morph are the input buffers at the
    // same offset.
    void render_streaming(const float* pitch, float* out, int count);
    void render_static(float* out, int count);
    void render_morph_streaming(const float* pitch, const float* morph, float* out, int count);
    void render_morph_static(const float* morph, float* out, int count);

    // State, for the tests.
    uint32_t phase() const { return m_phase; }
    uint32_t increment() const { return m_increment; }
    // The played level (kPlayLevels): 0..10.
    int level() const { return m_level; }
    // Weight of the next duller level (or of the fundamental alone) mixed in, 0 outside the fade.
    float fade() const { return m_fade; }
    int table_index() const { return m_index; }
    int level_offset() const { return m_level_offset; }
    int shift() const { return m_shift; }
    float scale() const { return m_scale; }
    float last_pitch() const { return m_last_pitch; }
    float morph_pos() const { return m_morph_pos; }
    const int32_t* table(PitchLaw law) const { return law == PitchLaw::VoltPerOctave ? m_expo : m_lin; }

private:
    // One sample of a waveform's block at the current phase and level.
    float sample_at(const float* wave) const;
    // The same inside a fade or above the last level (two reads or two levels).
    float blended_at(const float* wave) const;
    void render_blended(const float* wave, float* out, int count);
    void advance_morph(float morph);
    static float next_morph_pos(float pos, float morph);
    float morph_sample(const LevelReader& reader);
    PhaseWalk walk() const { return {m_phase, m_increment, static_cast<uint32_t>(m_shift), m_mask, m_scale}; }
    void morph_loop(const LevelReader& reader, const float* morph, float* out, int count);

    const LevelStore* m_store = nullptr;
    const OscillatorLoops* m_loops = &best_loops();
    int m_waveform = 0;
    PitchLaw m_law = PitchLaw::VoltPerOctave;
    float m_sample_rate = 44100.0f;

    uint32_t m_phase = 0;
    uint32_t m_increment = 0;
    float m_last_pitch = 0.0f;
    bool m_pitch_stale = true;
    int m_level = 0;
    float m_fade = 0.0f;
    bool m_blended = false;  // m_fade != 0 or the fundamental alone: the sample takes blended_at
    int m_index = 0;
    int m_level_offset = 0;
    int m_shift = 20;
    uint32_t m_mask = (1u << 20) - 1;
    float m_scale = 0.0f;
    float m_morph_pos = 0.0f;

    int32_t m_expo[kTableSize];
    int32_t m_lin[kTableSize];

};

}  // namespace tallisk
