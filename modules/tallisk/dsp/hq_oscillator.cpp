// The high-quality oscillator's pitch handling and four playback paths over the sinc reader.
#include "hq_oscillator.h"

#include <algorithm>
#include <cmath>

namespace tallisk {

namespace {

inline float round_even_small(float x) { return (x + 8388608.0f) - 8388608.0f; }

inline float morph_target(float morph) {
    float m = std::fabs(morph) * 64.0f;
    if (!(m <= 64.0f)) m = std::isnan(m) ? 0.0f : 64.0f;
    return m;
}

inline float next_morph_pos(float pos, float morph) {
    const float m = morph_target(morph);
    const float t = static_cast<float>(pos + 0.1 * (m - pos));
    return std::fabs(m - t) < 0.001 ? m : t;
}

// One sample of a played level (kPlayLevels): the reads of the linear oscillator's rule, each
// through the sinc reader.
float play_at(const SincKernel& k, const float* wave, int play, uint32_t phase) {
    const PlayLevel& p = kPlayLevels[play];
    const float* level = wave + kLevels[p.level].offset;
    const uint32_t shift = static_cast<uint32_t>(level_shift(p.level));
    switch (p.read) {
    case PlayRead::WithoutFifth: {
        float fifth = 0.0f;
        for (uint32_t n = 0; n < 5; ++n) fifth += sinc_read(k, level, phase + n * 858993459u, shift);
        return sinc_read(k, level, phase, shift) - 0.2f * fifth;
    }
    case PlayRead::FundamentalOnly:
        return 0.5f * (sinc_read(k, level, phase, shift) - sinc_read(k, level, phase + 0x80000000u, shift));
    case PlayRead::Table:
    default: return sinc_read(k, level, phase, shift);
    }
}

}  // namespace

HqOscillator::HqOscillator()
    : m_core(std::make_unique<Oscillator>()), m_kernel(sinc_kernel()), m_loops(&best_sinc_loops()) {}

void HqOscillator::reset() {
    m_core->reset();
    m_last_pitch = 0.0f;
    m_level = 0;
    m_fade = 0.0f;
    m_blended = false;
    m_increment = 0;
    m_phase = 0;
    m_pitch_stale = true;
    m_behind = false;
}

void HqOscillator::pitch_update(float pitch) {
    m_core->pitch_update(pitch);
    m_increment = m_core->increment();
    m_level = m_core->level();
    m_fade = m_core->fade();
    m_blended = m_fade != 0.0f || kPlayLevels[m_level].read != PlayRead::Table;
    const int level = kPlayLevels[m_level].level;
    m_level_offset = kLevels[level].offset;
    m_shift = static_cast<uint32_t>(level_shift(level));
    m_pitch_stale = false;
    m_behind = false;
}

void HqOscillator::static_pitch_update(float pitch) {
    float a = std::fabs(pitch);
    if (!(a <= 0.9f)) a = std::isnan(a) ? 0.0f : 0.9f;
    m_last_pitch = a;
    pitch_update(a);
}

bool HqOscillator::silent() const { return !m_store || m_waveform < 0 || m_waveform >= kWaveCount; }

inline float HqOscillator::sample_at(const float* wave) const {
    if (!m_blended) return sinc_read(m_kernel, wave + m_level_offset, m_phase, m_shift);
    const float a = play_at(m_kernel, wave, m_level, m_phase);
    return m_fade == 0.0f ? a : a + m_fade * (play_at(m_kernel, wave, m_level + 1, m_phase) - a);
}

void HqOscillator::render_static(float* out, int count) {
    if (silent() || m_pitch_stale) {
        std::fill(out, out + count, 0.0f);
        return;
    }
    settle();
    const LevelReader reader(m_store);
    const float* wave = reader.waveform(m_waveform);
    if (!m_blended) {
        m_phase = m_loops->single(m_kernel, wave + m_level_offset, m_shift, m_phase, m_increment, out, count);
        return;
    }
    for (int i = 0; i < count; ++i) {
        out[i] = sample_at(wave);
        m_phase += m_increment;
    }
}

void HqOscillator::render_streaming(const float* pitch, float* out, int count) {
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
        if (!m_blended) {
            m_phase = m_loops->single(m_kernel, wave + m_level_offset, m_shift, m_phase, m_increment, out, i);
        } else {
            for (int s = 0; s < i; ++s, m_phase += m_increment) out[s] = sample_at(wave);
        }
    }
    if (i == count) return;
    // From the first new pitch on, as the linear oscillator plays it: the runs of samples whose
    // entries play one table level without a fade take the block loop; fades and the levels
    // without tables of their own take the per-sample rule.
    const PitchLaw law = m_core->law();
    const int32_t* increments = m_core->table(law);
    const uint8_t* codes = m_core->block_levels(law);
    const auto play = [&](int start, int n, uint8_t code) {
        if (code < kPlayCount) {
            const int level = kPlayLevels[code].level;
            m_phase = m_loops->one_level(m_kernel, wave + kLevels[level].offset, static_cast<uint32_t>(level_shift(level)),
                                         increments, pitch + start, m_phase, out + start, n);
            return;
        }
        for (int s = start; s < start + n; ++s) {
            pitch_update(pitch[s]);
            out[s] = sample_at(wave);
            m_phase += m_increment;
        }
    };
    // Where the lowest and the highest entry share a code, every entry between does.
    const OscillatorLoops& loops = best_loops();
    int lowest = 0, highest = 0;
    if (loops.entry_span(pitch + i, count - i, &lowest, &highest) && codes[lowest] == codes[highest]) {
        play(i, count - i, codes[lowest]);
    } else {
        for_each_code_run(loops, codes, pitch + i, count - i, [&](int start, int n, uint8_t code) { play(i + start, n, code); });
    }
    m_last_pitch = pitch[count - 1];
    m_core->played_up_to(m_last_pitch);
    m_behind = true;
}

void HqOscillator::advance_morph(float morph) { m_morph_pos = next_morph_pos(m_morph_pos, morph); }

inline float HqOscillator::morph_sample(const LevelReader& reader) const {
    const int k = std::min(static_cast<int>(round_even_small(m_morph_pos)), kWaveCount - 1);
    const float fm = static_cast<float>((m_morph_pos + 0.5) - k);
    const float a = sample_at(reader.waveform(k));
    const float b = k < kWaveCount - 1 ? sample_at(reader.waveform(k + 1)) : a;
    return a + fm * (b - a);
}

// Per sample while the position glides; a run of samples whose input names the position already
// reached is one cross-fade over a fixed pair in the block loop.
void HqOscillator::morph_loop(const LevelReader& reader, const float* morph, float* out, int count) {
    int i = 0;
    while (i < count) {
        if (!m_blended && morph_target(morph[i]) == m_morph_pos) {
            int n = 1;
            while (i + n < count && morph_target(morph[i + n]) == m_morph_pos) ++n;
            const int k = std::min(static_cast<int>(round_even_small(m_morph_pos)), kWaveCount - 1);
            const float fm = static_cast<float>((m_morph_pos + 0.5) - k);
            const float* wa = reader.waveform(k) + m_level_offset;
            const float* wb = k < kWaveCount - 1 ? reader.waveform(k + 1) + m_level_offset : wa;
            m_phase = m_loops->crossfade(m_kernel, wa, wb, fm, m_shift, m_phase, m_increment, out + i, n);
            i += n;
            continue;
        }
        advance_morph(morph[i]);
        out[i++] = morph_sample(reader);
        m_phase += m_increment;
    }
}

void HqOscillator::render_morph_static(const float* morph, float* out, int count) {
    if (!m_store || m_pitch_stale) {
        for (int i = 0; i < count; ++i) {
            advance_morph(morph[i]);
            out[i] = 0.0f;
        }
        return;
    }
    settle();
    const LevelReader reader(m_store);
    morph_loop(reader, morph, out, count);
}

void HqOscillator::render_morph_streaming(const float* pitch, const float* morph, float* out, int count) {
    if (count <= 0) return;
    if (m_pitch_stale) {
        m_last_pitch = pitch[0];
        pitch_update(pitch[0]);
    }
    if (!m_store) {
        for (int i = 0; i < count; ++i) {
            advance_morph(morph[i]);
            out[i] = 0.0f;
        }
        return;
    }
    settle();
    const LevelReader reader(m_store);
    int i = 0;
    while (i < count) {
        int n = 0;
        while (i + n < count && pitch[i + n] == m_last_pitch) ++n;
        if (n > 0) {
            morph_loop(reader, morph + i, out + i, n);
            i += n;
            continue;
        }
        m_last_pitch = pitch[i];
        pitch_update(pitch[i]);
        advance_morph(morph[i]);
        out[i++] = morph_sample(reader);
        m_phase += m_increment;
    }
}

}  // namespace tallisk
