// The high-quality oscillator's part of the playback paths: its table reads over the sinc loops.
#include "hq_oscillator.h"

#include "oscillator_paths.h"

namespace tallisk {

HqOscillator::HqOscillator() : m_kernel(sinc_kernel()), m_sinc_loops(&best_sinc_loops()) {}

template <>
inline float OscillatorPaths<HqOscillator>::sample_at(const float* wave) const {
    const SincKernel& kernel = self().m_kernel;
    if (!m_v.blended) return sinc_read(kernel, wave + m_v.level_offset, m_phase, static_cast<uint32_t>(m_v.shift));
    return blended_sample(wave, [&kernel](const float* level, uint32_t phase, uint32_t shift) {
        return sinc_read(kernel, level, phase, shift);
    });
}

template <>
inline void OscillatorPaths<HqOscillator>::play_single(const float* level, float* out, int count) {
    const HqOscillator& hq = self();
    m_phase = hq.m_sinc_loops->single(hq.m_kernel, level, static_cast<uint32_t>(m_v.shift), m_phase, m_v.increment, out,
                                      count);
}

template <>
bool OscillatorPaths<HqOscillator>::play_run(const float* wave, uint8_t code, const int32_t* increments,
                                             const float* pitch, float* out, int count) {
    // Only a table level without a fade has a sinc block loop.
    if (code >= kPlayCount) return false;
    const HqOscillator& hq = self();
    const int level = kPlayLevels[code].level;
    m_phase = hq.m_sinc_loops->one_level(hq.m_kernel, wave + kLevels[level].offset, kLevelShifts[level], increments,
                                         pitch, m_phase, out, count);
    return true;
}

// Per sample while the position glides; a run of samples whose input names the position already
// reached is one cross-fade over a fixed pair in the block loop.
template <>
void OscillatorPaths<HqOscillator>::morph_loop(const LevelReader& reader, const float* morph, float* out, int count) {
    const HqOscillator& hq = self();
    int i = 0;
    while (i < count) {
        if (!m_v.blended && morph_target(morph[i]) == m_morph_pos) {
            int n = 1;
            while (i + n < count && morph_target(morph[i + n]) == m_morph_pos) ++n;
            float fm;
            const int k = morph_pair(m_morph_pos, &fm);
            const float* wa = reader.waveform(k) + m_v.level_offset;
            const float* wb = k < kWaveCount - 1 ? reader.waveform(k + 1) + m_v.level_offset : wa;
            m_phase = hq.m_sinc_loops->crossfade(hq.m_kernel, wa, wb, fm, static_cast<uint32_t>(m_v.shift), m_phase,
                                                 m_v.increment, out + i, n);
            i += n;
            continue;
        }
        out[i] = next_morph_sample(reader, morph[i]);
        ++i;
    }
}

// The runs of a held pitch play as morph_loop plays them, each new pitch per sample.
template <>
void OscillatorPaths<HqOscillator>::morph_streaming(const LevelReader& reader, const float* pitch, const float* morph,
                                                    float* out, int count) {
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
        out[i] = next_morph_sample(reader, morph[i]);
        ++i;
    }
}

template class OscillatorPaths<HqOscillator>;

}  // namespace tallisk
