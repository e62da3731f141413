// The four playback paths both oscillators share, around their table readers. Included only by
// each reader's source, which instantiates them for its oscillator.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

#include "oscillator.h"

namespace tallisk {

inline constexpr std::array<uint32_t, kLevelCount> kLevelShifts = [] {
    std::array<uint32_t, kLevelCount> shifts{};
    for (int i = 0; i < kLevelCount; ++i) shifts[i] = static_cast<uint32_t>(level_shift(i));
    return shifts;
}();

// One sample of a played level (kPlayLevels) of the waveform block `wave`, each table read by
// read(level, phase, shift).
template <class Read>
float play_level(const float* wave, int play, uint32_t phase, Read read) {
    const PlayLevel& p = kPlayLevels[play];
    const float* level = wave + kLevels[p.level].offset;
    const uint32_t shift = kLevelShifts[p.level];
    switch (p.read) {
    case PlayRead::WithoutFifth: {
        // The mean over five points a fifth of a period apart keeps DC and the fifth harmonic.
        float fifth = 0.0f;
        for (uint32_t k = 0; k < 5; ++k) fifth += read(level, phase + k * 858993459u, shift);
        return read(level, phase, shift) - 0.2f * fifth;
    }
    case PlayRead::FundamentalOnly:
        // Half the difference of samples half a period apart: DC and the second harmonic cancel.
        return 0.5f * (read(level, phase, shift) - read(level, phase + 0x80000000u, shift));
    case PlayRead::Table:
    default: return read(level, phase, shift);
    }
}

template <class Reader>
template <class Read>
float OscillatorPaths<Reader>::blended_sample(const float* wave, Read read) const {
    const float a = play_level(wave, m_v.level, m_phase, read);
    return m_v.fade == 0.0f ? a : a + m_v.fade * (play_level(wave, m_v.level + 1, m_phase, read) - a);
}

template <class Reader>
inline float OscillatorPaths<Reader>::next_sample(const float* wave) {
    const float s = sample_at(wave);
    m_phase += m_v.increment;
    return s;
}

template <class Reader>
inline float OscillatorPaths<Reader>::morph_sample(const LevelReader& reader) const {
    float fm;
    const int k = morph_pair(m_morph_pos, &fm);
    const float a = sample_at(reader.waveform(k));
    const float b = k < kWaveCount - 1 ? sample_at(reader.waveform(k + 1)) : a;
    return a + fm * (b - a);
}

template <class Reader>
inline float OscillatorPaths<Reader>::next_morph_sample(const LevelReader& reader, float morph) {
    advance_morph(morph);
    const float s = morph_sample(reader);
    m_phase += m_v.increment;
    return s;
}

// Inline, so that a static block goes straight to the reader's block loop: the static path is the
// cheapest per sample, and one more call level shows in its cost.
template <class Reader>
inline void OscillatorPaths<Reader>::play_held(const float* wave, float* out, int count) {
    if (m_v.blended) play_each(wave, out, count);
    else play_single(wave + m_v.level_offset, out, count);
}

template <class Reader>
void OscillatorPaths<Reader>::play_each(const float* wave, float* out, int count) {
    for (int i = 0; i < count; ++i) out[i] = next_sample(wave);
}

template <class Reader>
void OscillatorPaths<Reader>::silent_morph(const float* morph, float* out, int count) {
    for (int i = 0; i < count; ++i) {
        advance_morph(morph[i]);
        out[i] = 0.0f;
    }
}

template <class Reader>
void OscillatorPaths<Reader>::render_static(float* out, int count) {
    if (silent() || m_pitch_stale) {
        std::fill(out, out + count, 0.0f);
        return;
    }
    settle();
    const LevelReader reader(m_store);
    play_held(reader.waveform(m_waveform), out, count);
}

template <class Reader>
void OscillatorPaths<Reader>::render_streaming(const float* pitch, float* out, int count) {
    if (count <= 0) return;
    if (m_pitch_stale) {
        m_last_pitch = pitch[0];
        pitch_update(pitch[0]);
    }
    if (silent()) {
        for (int i = 0; i < count; ++i) {
            if (pitch[i] != m_last_pitch || std::isnan(pitch[i])) {
                m_last_pitch = pitch[i];
                pitch_update(pitch[i]);
            }
            out[i] = 0.0f;
        }
        return;
    }
    const LevelReader reader(m_store);
    const float* wave = reader.waveform(m_waveform);
    // The leading samples equal to the last pitch play with the values worked out for it.
    int i = 0;
    while (i < count && pitch[i] == m_last_pitch) ++i;
    if (i > 0) {
        settle();
        play_held(wave, out, i);
    }
    if (i == count) return;
    // From the first new pitch on, every sample's values follow from its own pitch alone (a repeat
    // of the one before gives what its update gave), so a run of samples whose entries share one
    // code plays in the reader's block loop for it, and only what it has no loop for (at least
    // the levels without tables of their own, a pitch beyond the table or not finite) takes the
    // per-sample rule.
    const int32_t* increments = table(m_law);
    const uint8_t* codes = block_levels(m_law);
    const auto play = [&](int start, int n, uint8_t code) {
        if (play_run(wave, code, increments, pitch + start, out + start, n)) return;
        for (int s = start; s < start + n; ++s) {
            pitch_update(pitch[s]);
            out[s] = next_sample(wave);
        }
    };
    // The increments grow with the entry, and so do the levels and fades, so where the lowest and
    // the highest entry of the rest of the block share a code, every sample between does.
    int lowest = 0, highest = 0;
    if (m_loops->entry_span(pitch + i, count - i, &lowest, &highest) && codes[lowest] == codes[highest]) {
        play(i, count - i, codes[lowest]);
    } else {
        for_each_code_run(*m_loops, codes, pitch + i, count - i,
                          [&](int start, int n, uint8_t code) { play(i + start, n, code); });
    }
    m_last_pitch = pitch[count - 1];
    m_behind = true;
}

template <class Reader>
void OscillatorPaths<Reader>::render_morph_static(const float* morph, float* out, int count) {
    if (!m_store || m_pitch_stale) {
        silent_morph(morph, out, count);
        return;
    }
    settle();
    const LevelReader reader(m_store);
    morph_loop(reader, morph, out, count);
}

template <class Reader>
void OscillatorPaths<Reader>::render_morph_streaming(const float* pitch, const float* morph, float* out, int count) {
    if (count <= 0) return;
    if (m_pitch_stale) {
        m_last_pitch = pitch[0];
        pitch_update(pitch[0]);
    }
    if (!m_store) {
        silent_morph(morph, out, count);
        return;
    }
    settle();
    const LevelReader reader(m_store);
    morph_streaming(reader, pitch, morph, out, count);
}

}  // namespace tallisk
