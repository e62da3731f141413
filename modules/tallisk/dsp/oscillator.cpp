// Increment tables, the pitch update, and the linear reader's part of the playback paths.
#include "oscillator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

#include "oscillator_paths.h"

namespace tallisk {

namespace {

constexpr double kTwo32 = 4294967296.0;
constexpr float kIndexScale = 16384.0f;

// Round to nearest, ties to even, for 0 <= x < 2^23: the sum with 2^23 has no fraction bits, so
// the addition itself rounds (in the default rounding mode) as nearbyint would, without a library
// call. Without -ffast-math the compiler keeps the two operations.
inline float round_even_small(float x) { return (x + 8388608.0f) - 8388608.0f; }

static_assert(Oscillator::kTableSize == kStreamTableSize);

// Linear interpolation in a table of 2^(32 - shift) samples.
inline float interpolate(const float* level, uint32_t phase, uint32_t shift) {
    const uint32_t j = phase >> shift;
    const float f = static_cast<float>(phase & ((1u << shift) - 1u)) * (1.0f / static_cast<float>(1u << shift));
    return level[j] + (level[j + 1] - level[j]) * f;
}

// The two table levels that played level `play` fades between.
FadePair fade_pair(int play) {
    const int a = kPlayLevels[play].level, b = kPlayLevels[play + 1].level;
    return {kLevels[a].offset, kLevels[b].offset, kLevelShifts[a], kLevelShifts[b], kPlayLevels[play].top};
}

int32_t to_increment(double value) {
    const double r = std::nearbyint(value);
    // Too fast for a signed 32-bit step: half the sample rate.
    if (!(r <= 2147483647.0 && r >= -2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(r);
}

}  // namespace

namespace {

std::unique_ptr<IncrementTables> make_tables(float sample_rate) {
    auto t = std::make_unique<IncrementTables>();
    const double sr = sample_rate;
    for (int i = 0; i < IncrementTables::kSize; ++i) {
        const double v = 10.0 * i * (1.0 / 16384.0);
        t->increment[0][i] = to_increment(std::pow(2.0, v) * 13.75 / sr * kTwo32);
        t->increment[1][i] = to_increment(v * 1000.0 / sr * kTwo32);
    }
    for (int law = 0; law < 2; ++law) {
        // A block whose lowest and highest entries share a level takes the entries between them
        // with it, which holds while the increments grow with the entry (they do at any positive
        // rate; at another, every block plays per sample).
        bool rising = true;
        for (int i = 1; i < IncrementTables::kSize; ++i)
            rising = rising && static_cast<uint32_t>(t->increment[law][i]) >= static_cast<uint32_t>(t->increment[law][i - 1]);
        for (int i = 0; i < IncrementTables::kSize; ++i) {
            const auto step = static_cast<uint32_t>(t->increment[law][i]);
            const int level = level_for_increment(step);
            const bool table = rising && kPlayLevels[level].read == PlayRead::Table;
            const bool fades = fade_for_increment(step, level) != 0.0f;
            uint8_t code = kPerSampleCode;
            if (table && !fades) code = static_cast<uint8_t>(level);
            else if (table && level + 1 < kPlayCount && kPlayLevels[level + 1].read == PlayRead::Table)
                code = static_cast<uint8_t>(kFadeCode | level);
            t->block_level[law][i] = code;
        }
    }
    return t;
}

}  // namespace

std::shared_ptr<const IncrementTables> IncrementTables::of_rate(float sample_rate) {
    // Keyed by the rate's bits: every oscillator at one rate shares one set; a set lives while any
    // oscillator holds it.
    static std::mutex lock;
    static std::map<uint32_t, std::weak_ptr<const IncrementTables>> sets;
    uint32_t key;
    std::memcpy(&key, &sample_rate, sizeof key);
    const std::lock_guard<std::mutex> hold(lock);
    for (auto it = sets.begin(); it != sets.end();) it = it->second.expired() ? sets.erase(it) : std::next(it);
    if (auto found = sets.find(key); found != sets.end()) return found->second.lock();
    std::shared_ptr<const IncrementTables> made = make_tables(sample_rate);
    sets[key] = made;
    return made;
}

std::shared_ptr<const IncrementTables> IncrementTables::zero() {
    static const std::shared_ptr<const IncrementTables> tables = [] {
        auto t = std::make_shared<IncrementTables>();
        std::memset(t.get(), 0, sizeof *t);
        return t;
    }();
    return tables;
}

OscillatorState::OscillatorState() : m_tables(IncrementTables::zero()) {}

void OscillatorState::build_increment_tables(float sample_rate) {
    settle();
    m_tables = IncrementTables::of_rate(sample_rate);
}

void OscillatorState::set_law(PitchLaw law) {
    settle();
    m_law = law;
}

void OscillatorState::reset() {
    m_v.scale = 0.0f;
    m_last_pitch = 0.0f;
    m_v.shift = 0;
    m_v.level = 0;
    m_v.fade = 0.0f;
    m_v.blended = false;
    m_v.increment = 0;
    m_phase = 0;
    m_pitch_stale = true;
    m_behind = false;
}

OscillatorState::PitchValues OscillatorState::values_for(float pitch) const {
    float a = std::fabs(pitch);
    // A pitch that is not a number, or so large that its table index is not a number, plays 0 V.
    if (!std::isfinite(a * kIndexScale)) a = 0.0f;

    PitchValues v;
    const float scaled = a * kIndexScale;
    v.index = scaled < 8388608.0f ? static_cast<int>(round_even_small(scaled)) & (kTableSize - 1)
                                  : static_cast<int>(std::fmod(std::nearbyint(scaled), kIndexScale));
    v.increment = static_cast<uint32_t>(table(m_law)[v.index]);
    // The level follows from the frequency the increment plays, whatever the law and sample rate.
    v.level = level_for_increment(v.increment);
    v.fade = fade_for_increment(v.increment, v.level);
    v.blended = v.fade != 0.0f || kPlayLevels[v.level].read != PlayRead::Table;
    const int level = kPlayLevels[v.level].level;
    v.level_offset = kLevels[level].offset;
    v.shift = static_cast<int>(kLevelShifts[level]);
    v.mask = (1u << v.shift) - 1u;
    v.scale = 1.0f / static_cast<float>(1u << v.shift);  // exact: a power of two
    return v;
}

void OscillatorState::pitch_update(float pitch) {
    m_v = values_for(pitch);
    m_pitch_stale = false;
    m_behind = false;
}

void OscillatorState::static_pitch_update(float pitch) {
    float a = std::fabs(pitch);
    if (!(a <= 0.9f)) a = std::isnan(a) ? 0.0f : 0.9f;
    m_last_pitch = a;
    pitch_update(a);
}

template <>
inline float OscillatorPaths<Oscillator>::sample_at(const float* wave) const {
    if (m_v.blended) {
        return blended_sample(
            wave, [](const float* level, uint32_t phase, uint32_t shift) { return interpolate(level, phase, shift); });
    }
    const float* level = wave + m_v.level_offset;
    const uint32_t j = m_phase >> m_v.shift;
    const float f = static_cast<float>(m_phase & m_v.mask) * m_v.scale;
    return level[j] + (level[j + 1] - level[j]) * f;
}

template <>
inline void OscillatorPaths<Oscillator>::play_single(const float* level, float* out, int count) {
    m_phase = m_loops->single(level, self().walk(), out, count);
}

template <>
bool OscillatorPaths<Oscillator>::play_run(const float* wave, uint8_t code, const int32_t* increments,
                                           const float* pitch, float* out, int count) {
    // A table level in one_level, a fade between two in fade_run; the per-sample entries are left.
    if (code < kPlayCount) {
        const int level = kPlayLevels[code].level;
        m_phase = m_loops->one_level(wave + kLevels[level].offset, kLevelShifts[level], increments, pitch, m_phase, out,
                                     count);
        return true;
    }
    if (code == kPerSampleCode) return false;
    m_phase = m_loops->fade_run(wave, fade_pair(code & ~kFadeCode), increments, pitch, m_phase, out, count);
    return true;
}

// The morph loop with its state in locals (the output stores cannot alias them). Once the position
// has reached its target it stays there exactly, so the waveform pair and fraction are kept until
// the input moves, and the run of samples whose input names the same target is one cross-fade over
// a fixed pair.
template <>
void OscillatorPaths<Oscillator>::morph_loop(const LevelReader& reader, const float* morph, float* out, int count) {
    if (m_v.blended) {
        // Inside a fade or above the last level's range: rare enough for the per-sample rule.
        for (int i = 0; i < count; ++i) out[i] = next_morph_sample(reader, morph[i]);
        return;
    }
    PhaseWalk w = self().walk();
    const int offset = m_v.level_offset;
    float pos = m_morph_pos;
    // The pair of the current position; an input equal to it is settled from the first sample
    // (a step towards the position itself lands on it exactly).
    float target = pos;
    float fm;
    int k = morph_pair(pos, &fm);
    const float* wa = reader.waveform(k) + offset;
    const float* wb = k < kWaveCount - 1 ? reader.waveform(k + 1) + offset : wa;
    int a_offset = static_cast<int>(wa - reader.blocks()), b_offset = static_cast<int>(wb - reader.blocks());
    int i = 0;
    while (i < count) {
        const float m = morph_target(morph[i]);
        if (m != target || pos != m) {
            // A glide: the positions of its samples first (the serial chain, one step after the
            // other), with each sample's pair as offsets from the first block and its weight;
            // then the cross-fades of the whole run at once.
            constexpr int kGlideRun = 64;
            alignas(32) int32_t a_at[kGlideRun], b_at[kGlideRun];
            alignas(32) float weight[kGlideRun];
            const int start = i;
            float next = m;
            do {
                target = next;
                const float t = static_cast<float>(pos + 0.1 * (next - pos));
                pos = std::fabs(next - t) < 0.001 ? next : t;
                const int pair = morph_pair(pos, &fm);
                if (pair != k) {  // the pair changes only where the position crosses a half
                    k = pair;
                    a_offset = reader.waveform_offset(k) + offset;
                    b_offset = k < kWaveCount - 1 ? reader.waveform_offset(k + 1) + offset : a_offset;
                }
                const int n = i - start;
                weight[n] = fm;
                a_at[n] = a_offset;
                b_at[n] = b_offset;
                if (++i == count || i - start == kGlideRun) break;
                next = morph_target(morph[i]);
            } while (next != target || pos != next);
            w.phase = m_loops->glide(reader.blocks(), a_at, b_at, weight, w, out + start, i - start);
            wa = reader.blocks() + a_offset;
            wb = reader.blocks() + b_offset;
            continue;
        }
        // A held input repeats the same value; only a different one needs its target worked out.
        int n = std::max(1, m_loops->held_run(morph + i, count - i));
        while (i + n < count && morph_target(morph[i + n]) == m) ++n;
        w.phase = m_loops->crossfade(wa, wb, fm, w, out + i, n);
        i += n;
    }
    m_phase = w.phase;
    m_morph_pos = pos;
}

template <>
void OscillatorPaths<Oscillator>::morph_streaming(const LevelReader& reader, const float* pitch, const float* morph,
                                                  float* out, int count) {
    // The per-sample rule throughout: the reference the block paths are tested against.
    for (int i = 0; i < count; ++i) {
        const float p = pitch[i];
        if (p != m_last_pitch || std::isnan(p)) {
            m_last_pitch = p;
            pitch_update(p);
        }
        out[i] = next_morph_sample(reader, morph[i]);
    }
}

template class OscillatorPaths<Oscillator>;

}  // namespace tallisk
