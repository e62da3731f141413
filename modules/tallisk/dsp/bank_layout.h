// Fixed sizes of the waveform bank and the layout of one waveform's band-limited level block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tallisk {

constexpr int kWaveCount = 64;
constexpr int kWaveLength = 1024;
constexpr int kNameSize = 16;  // 15 characters and the terminator
constexpr int kSpectrumSlots = 4;
constexpr int kLevelCount = 9;
constexpr int kBlockSamples = 13458;
constexpr int kMaxFftSize = 4096;
constexpr int kPathSize = 300;

// The inverse transforms of the bank divide by the waveform length, whatever their size, so a
// level comes out at the amplitude of the waveform it was built from.
constexpr float kInverseScale = 1.0f / kWaveLength;

// Below this peak a buffer is treated as silence and left unscaled.
constexpr float kSilencePeak = 0.010416667f;

struct LevelInfo {
    int offset;    // first sample inside the waveform's block
    int length;    // table length L; two guard samples follow
    int bins;      // harmonic bins kept, DC included
    int fft_size;  // size of the inverse transform that makes the table
};

constexpr std::array<LevelInfo, kLevelCount> kLevels{{
    {0, 4096, 511, 4096},
    {4098, 4096, 400, 4096},
    {8196, 2048, 200, 2048},
    {10246, 1024, 100, 1024},
    {11272, 1024, 50, 1024},
    {12298, 512, 25, 512},
    {12812, 256, 12, 256},
    {13070, 256, 6, 256},
    {13328, 128, 3, 128},
}};

static_assert(kLevels[kLevelCount - 1].offset + kLevels[kLevelCount - 1].length + 2 == kBlockSamples);
constexpr bool levels_are_contiguous() {
    for (int i = 1; i < kLevelCount; ++i)
        if (kLevels[i].offset != kLevels[i - 1].offset + kLevels[i - 1].length + 2) return false;
    return true;
}
static_assert(levels_are_contiguous());

// The phase shift that maps a 32-bit phase onto a level's table: the table holds 2^(32 - shift)
// samples, so phase >> shift and its successor stay inside the level and its guard sample.
constexpr int level_shift(int level) {
    int shift = 32;
    for (int length = kLevels[level].length; length > 1; length >>= 1) --shift;
    return shift;
}

constexpr bool levels_are_powers_of_two() {
    for (int i = 0; i < kLevelCount; ++i)
        if (kLevels[i].length != (1 << (32 - level_shift(i)))) return false;
    return true;
}
static_assert(levels_are_powers_of_two());

// What the oscillator plays: the nine levels, and two more read from the last two levels without
// tables of their own (no level table changes). The last but one level's harmonics 1-4 fill the
// step from its five harmonics to the last level's two: its fifth harmonic alone is the mean of
// the samples a fifth of a period apart (less DC), and is taken away. The last level's
// fundamental alone is half the difference of the samples half a period apart.
enum class PlayRead { Table, WithoutFifth, FundamentalOnly };

struct PlayLevel {
    int level;  // the level table read
    int top;    // highest harmonic kept
    PlayRead read;
};

constexpr int kPlayCount = kLevelCount + 2;
constexpr int kWithoutFifth = 8;
constexpr int kFundamentalOnly = kPlayCount - 1;

constexpr std::array<PlayLevel, kPlayCount> kPlayLevels{{
    {0, 510, PlayRead::Table},
    {1, 399, PlayRead::Table},
    {2, 199, PlayRead::Table},
    {3, 99, PlayRead::Table},
    {4, 49, PlayRead::Table},
    {5, 24, PlayRead::Table},
    {6, 11, PlayRead::Table},
    {7, 5, PlayRead::Table},
    {7, 4, PlayRead::WithoutFifth},
    {8, 2, PlayRead::Table},
    {8, 1, PlayRead::FundamentalOnly},
}};

constexpr bool play_levels_fit() {
    for (int p = 0; p < kPlayCount; ++p) {
        const PlayLevel& l = kPlayLevels[p];
        if (l.top > kLevels[l.level].bins - 1) return false;
        if (p > 0 && l.top >= kPlayLevels[p - 1].top) return false;
        if (l.read == PlayRead::Table && l.top != kLevels[l.level].bins - 1) return false;
    }
    return kPlayLevels[kWithoutFifth].read == PlayRead::WithoutFifth && kLevels[kPlayLevels[kWithoutFifth].level].bins == 6;
}
static_assert(play_levels_fit());

// Level choice for a phase increment (a fraction of 2^32 per sample): the brightest played level
// whose highest harmonic, top x increment, stays below half the sample rate (2^31), so that no
// harmonic folds back at any sample rate; the fundamental alone when nothing else fits.
constexpr int level_for_increment(uint32_t increment) {
    int level = 0;
    while (level < kFundamentalOnly && uint64_t(kPlayLevels[level].top) * increment >= (uint64_t{1} << 31)) ++level;
    return level;
}

static_assert(level_for_increment(0) == 0);
// 440 Hz at 44.1 kHz: harmonic 49 at 21.56 kHz still fits the fifth level.
static_assert(level_for_increment(42852281u) == 4);
static_assert(level_for_increment(0x80000000u) == kFundamentalOnly);
// 5 kHz at 44.1 kHz: harmonic 4 at 20 kHz fits, the fifth would fold.
static_assert(level_for_increment(486947112u) == kWithoutFifth);

}  // namespace tallisk
