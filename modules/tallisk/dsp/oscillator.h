// The oscillator, free of the SDK: increment tables for both pitch laws, the pitch update with its
// level selection and fades, the morph position and the four playback paths over a LevelStore,
// shared by both table readers; and the linear reader with its block loops.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "bank_layout.h"
#include "level_store.h"
#include "oscillator_loops.h"

namespace tallisk {

enum class PitchLaw { VoltPerOctave = 0, VoltPerKilohertz = 1 };

// The increment tables of one sample rate, for both laws, and beside each entry what a block loop
// plays for it (the entry codes of oscillator_loops.h): its played level where that is a table read
// without a fade, the two table levels it fades between, or the per-sample rule (a level without a
// table of its own, an increment beyond half the rate). Made once per sample rate in a process and
// shared by every oscillator at that rate (160 KiB).
struct IncrementTables {
    static constexpr int kSize = 16384;
    static constexpr uint8_t kPerSample = kPerSampleCode;

    int32_t increment[2][kSize];  // by PitchLaw
    uint8_t block_level[2][kSize + 4];  // readable three bytes past the last entry (a 32-bit gather)

    // The tables of sample_rate, shared while any oscillator holds them.
    static std::shared_ptr<const IncrementTables> of_rate(float sample_rate);
    // All zero: every entry plays increment 0 at level 0 (an oscillator before its first rate).
    static std::shared_ptr<const IncrementTables> zero();
};

// What an oscillator plays apart from its table reader: pitch law, level choice, fades, phase and
// morph position. Both readers play the same pitch, levels and morph from this one state.
class OscillatorState {
public:
    static constexpr int kTableSize = IncrementTables::kSize;

    OscillatorState();

    // Takes both increment tables of the sample rate, made by the first oscillator at that rate
    // (takes effect from the next pitch update).
    void build_increment_tables(float sample_rate);
    // Takes effect from the next pitch update.
    void set_law(PitchLaw law);
    PitchLaw law() const { return m_law; }

    void set_store(const LevelStore* store) { m_store = store; }
    const LevelStore* store() const { return m_store; }
    // The waveform played with morphing off; values outside 0..63 play silence.
    void set_waveform(int waveform) { m_waveform = waveform; }

    // Zeroes phase, increment and the pitch-derived values; they are recomputed before the next
    // sample (the streaming loops see a pitch they have not seen, the static ones are set by
    // static_pitch_update).
    void reset();
    // Pitch update from a pitch value (1.0 = 10 V): table index, increment, level.
    void pitch_update(float pitch);
    // Same, with the magnitude limited to 0.9 (9 V) as the static paths want.
    void static_pitch_update(float pitch);

    // The morph input as a position target: 0..64, NaN plays 0.
    static float morph_target(float morph) {
        float m = std::fabs(morph) * 64.0f;
        // The position lives in 0..64; anything past the last waveform plays it alone anyway.
        if (!(m <= 64.0f)) m = std::isnan(m) ? 0.0f : 64.0f;
        return m;
    }
    // One step of the morph position towards the input's target: a tenth of the way, in double,
    // and onto the target once within 0.001 of it.
    static float morph_step(float pos, float morph) {
        const float m = morph_target(morph);
        const float t = static_cast<float>(pos + 0.1 * (m - pos));
        return std::fabs(m - t) < 0.001 ? m : t;
    }

    // State, for the tests. The pitch-derived values are those of the last pitch played.
    uint32_t phase() const { return m_phase; }
    uint32_t increment() const { return values().increment; }
    // The played level (kPlayLevels): 0..10.
    int level() const { return values().level; }
    // Weight of the next duller level (or of the fundamental alone) mixed in, 0 outside the fade.
    float fade() const { return values().fade; }
    int table_index() const { return values().index; }
    int level_offset() const { return values().level_offset; }
    int shift() const { return values().shift; }
    float scale() const { return values().scale; }
    float last_pitch() const { return m_last_pitch; }
    float morph_pos() const { return m_morph_pos; }
    const int32_t* table(PitchLaw law) const { return m_tables->increment[static_cast<int>(law)]; }
    const uint8_t* block_levels(PitchLaw law) const { return m_tables->block_level[static_cast<int>(law)]; }

protected:
    // What a pitch update works out from one pitch.
    struct PitchValues {
        int index = 0;
        uint32_t increment = 0;
        int level = 0;
        float fade = 0.0f;
        bool blended = false;  // fade != 0 or the fundamental alone: the sample takes both reads
        int level_offset = 0;
        int shift = 20;
        uint32_t mask = (1u << 20) - 1;
        float scale = 0.0f;
    };
    PitchValues values_for(float pitch) const;
    // The values of the last pitch: a streaming block leaves them to be worked out where a later
    // path needs them (settle), since the next block mostly brings new pitches anyway.
    PitchValues values() const { return m_behind ? values_for(m_last_pitch) : m_v; }
    void settle() {
        if (m_behind) pitch_update(m_last_pitch);
    }
    bool silent() const { return !m_store || m_waveform < 0 || m_waveform >= kWaveCount; }
    void advance_morph(float morph) { m_morph_pos = morph_step(m_morph_pos, morph); }
    // The waveform pair that a morph position cross-fades (k and k + 1, the last alone), and the
    // weight of the second.
    static int morph_pair(float pos, float* fm) {
        // Round to nearest, ties to even (the sum with 2^23 has no fraction bits).
        const int k = std::min(static_cast<int>((pos + 8388608.0f) - 8388608.0f), kWaveCount - 1);
        *fm = static_cast<float>((pos + 0.5) - k);
        return k;
    }

    const LevelStore* m_store = nullptr;
    // The streaming paths' entry scans, and the linear reader's block loops.
    const OscillatorLoops* m_loops = &best_loops();
    int m_waveform = 0;
    PitchLaw m_law = PitchLaw::VoltPerOctave;
    std::shared_ptr<const IncrementTables> m_tables;

    uint32_t m_phase = 0;
    float m_last_pitch = 0.0f;
    bool m_pitch_stale = true;
    bool m_behind = false;  // m_v is not yet worked out for m_last_pitch
    PitchValues m_v;
    float m_morph_pos = 0.0f;
};

// The four playback paths over the state above, for each table reader: Reader is the oscillator
// deriving from this. The paths are defined in oscillator_paths.h and instantiated in each
// reader's own source beside the reader's part (the last members below), so that each reader's
// paths are compiled with its own library's floating-point options and its reads inline.
template <class Reader>
class OscillatorPaths : public OscillatorState {
public:
    // out receives count samples; pitch and morph are the input buffers at the same offset.
    void render_streaming(const float* pitch, float* out, int count);
    void render_static(float* out, int count);
    void render_morph_streaming(const float* pitch, const float* morph, float* out, int count);
    void render_morph_static(const float* morph, float* out, int count);

private:
    // One sample at the current values, then the phase moves on.
    float next_sample(const float* wave);
    // One step of the morph position, its sample, then the phase moves on.
    float next_morph_sample(const LevelReader& reader, float morph);
    float morph_sample(const LevelReader& reader) const;
    // Inside a fade or above the last table level's range: the played level's read (one, two or
    // six table reads by read(level, phase, shift)) and, inside a fade, the next duller one's.
    template <class Read>
    float blended_sample(const float* wave, Read read) const;
    // count samples at the current pitch values: the reader's block loop, or play_each where the
    // values blend two reads.
    void play_held(const float* wave, float* out, int count);
    void play_each(const float* wave, float* out, int count);
    // Silence while the morph position goes on moving.
    void silent_morph(const float* morph, float* out, int count);

    // The reader's part, defined for each reader in its own source.
    // One sample of the waveform block `wave` at the phase and the current pitch values.
    float sample_at(const float* wave) const;
    // A held pitch on one table level.
    void play_single(const float* level, float* out, int count);
    // A streaming run whose every entry has one entry code; false where the reader has no block
    // loop for the code, and the per-sample rule plays the run.
    bool play_run(const float* wave, uint8_t code, const int32_t* increments, const float* pitch, float* out,
                  int count);
    // Morph at a held pitch.
    void morph_loop(const LevelReader& reader, const float* morph, float* out, int count);
    // Pitch and morph both streaming.
    void morph_streaming(const LevelReader& reader, const float* pitch, const float* morph, float* out, int count);

    const Reader& self() const { return static_cast<const Reader&>(*this); }
};

// The linear reader: linear interpolation between table samples.
class Oscillator : public OscillatorPaths<Oscillator> {
public:
    // The static-pitch and settled-morph blocks run the AVX2 loops where the processor has them;
    // plain = true keeps this oscillator on the plain loops (same results, for the tests).
    void use_plain_loops(bool plain) { m_loops = plain ? &kPlainLoops : &best_loops(); }

private:
    friend class OscillatorPaths<Oscillator>;
    PhaseWalk walk() const { return {m_phase, m_v.increment, static_cast<uint32_t>(m_v.shift), m_v.mask, m_v.scale}; }
};

}  // namespace tallisk
