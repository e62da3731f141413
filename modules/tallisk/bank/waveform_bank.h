// The bank's data: 64 waveforms with names, the edit and undo buffers, the spectra, the published
// level tables, and the editor's fixed text store. Owned by one editor; the oscillator only reads
// the level tables through their address.
#pragma once

#include <cstddef>

#include "bank_layout.h"
#include "level_store.h"

namespace tallisk {

// One fixed store for every text the editor keeps, in this order.
struct TextStore {
    char names[kWaveCount][kNameSize];
    char bank_folder[kPathSize];
    char picture_folder[kPathSize];
    char wave_folder[kPathSize];
    char picture_path[kPathSize];
    char bank_path[kPathSize];
    char expressions[7][600];
};
static_assert(offsetof(TextStore, bank_folder) == 1024);
static_assert(offsetof(TextStore, bank_path) == 1024 + 4 * kPathSize);
static_assert(sizeof(TextStore) == 1024 + 5 * kPathSize + 7 * 600);

// Copies src into a fixed text field of `size` bytes, cut to size - 1 characters and terminated.
void copy_text(char* dst, size_t size, const char* src);

struct WaveformBank {
    WaveformBank();

    float* waveform(int w) { return waves[w]; }
    const float* waveform(int w) const { return waves[w]; }
    float* spectrum(int s) { return spectra[s]; }
    char* name(int w) { return text.names[w]; }
    void set_name(int w, const char* text_in);  // cut to 15 characters
    void reset_names();                         // "Untitled 1" .. "Untitled 64"

    float waves[kWaveCount][kWaveLength];
    // The wave view may touch index 1024 at its right edge; keep two spare samples.
    float edit[kWaveLength + 2];
    float undo[kWaveLength];
    float spectra[kSpectrumSlots][kWaveLength];
    TextStore text;
    int current = 0;
    bool modified = false;
    LevelStore levels;
};

}  // namespace tallisk
