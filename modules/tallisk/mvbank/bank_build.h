// A tallisk bank (64 waveforms of 1024 samples with names) made from any frame table, and frame
// tables of any size made from a bank.
#pragma once

#include <string>
#include <vector>

#include "bank_layout.h"
#include "frame_resample.h"
#include "frame_table.h"

namespace mvbank {

struct Bank {
    Bank();  // silent, named "Untitled 1" .. "Untitled 64" as a new bank in the plug-in

    float* wave(int w) { return waves.data() + static_cast<size_t>(w) * tallisk::kWaveLength; }
    const float* wave(int w) const { return waves.data() + static_cast<size_t>(w) * tallisk::kWaveLength; }
    const char* name(int w) const { return names.data() + static_cast<size_t>(w) * tallisk::kNameSize; }
    void set_name(int w, const std::string& text);  // cut to 15 characters

    std::vector<float> waves;  // 64 x 1024
    std::vector<char> names;   // 64 x 16, NUL-terminated
};

// The frames (0-based) that fill waveforms 1.. of a bank. first is 1-based (0: from frame 1),
// count 0 means to the end. A range of more than 64 frames keeps 64 evenly spaced ones, its first
// and last among them. "" or what is wrong with first/count.
std::string select_frames(int frames, int first, int count, std::vector<int>* picked);

// "STEM k", the stem cut so that the whole fits in 15 characters and the number survives.
std::string frame_name(const std::string& stem, int k);

// Fills waveforms 1.. with the picked frames resampled to 1024; names from the table or, where it
// has none, frame_name(stem, frame number). Fails when a frame's samples do not survive resampling.
std::string bank_from_table(const FrameTable& table, const std::vector<int>& picked, const std::string& stem,
                            FrameResampler& resampler, Bank* bank);

// All 64 waveforms resampled to frame_size (names kept, for the writers that keep them).
std::string table_from_bank(const Bank& bank, int frame_size, FrameResampler& resampler, FrameTable* table);

}  // namespace mvbank
