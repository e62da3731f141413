// Fixed sizes of the waveform bank and the layout of one waveform's band-limited level block.
#pragma once

#include <array>
#include <cstddef>

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

// Playback level chosen by the pitch's octave: offset into the block, the phase shift that maps a
// 32-bit phase onto the table, and the table length that shift implies.
struct OctaveInfo {
    int offset;
    int shift;
};

constexpr std::array<OctaveInfo, 16> kOctaves{{
    {0, 20}, {0, 20}, {4098, 20}, {8196, 21}, {10246, 22}, {11272, 22}, {12298, 23}, {12812, 24},
    {13070, 24}, {13328, 25}, {13328, 25}, {13328, 25}, {13328, 25}, {13328, 25}, {13328, 25},
    {13328, 25},
}};

// Every octave's table holds 2^(32 - shift) samples, so phase >> shift and its successor stay
// inside the level and its guard sample.
constexpr bool octaves_fit_levels() {
    for (const OctaveInfo& o : kOctaves) {
        bool found = false;
        for (const LevelInfo& l : kLevels)
            if (l.offset == o.offset && l.length == (1 << (32 - o.shift))) found = true;
        if (!found) return false;
    }
    return true;
}
static_assert(octaves_fit_levels());

}  // namespace tallisk
