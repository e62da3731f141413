// Initial state of the bank and its name helpers.
#include "waveform_bank.h"

#include <cstdio>
#include <cstring>

namespace tallisk {

WaveformBank::WaveformBank() {
    std::memset(waves, 0, sizeof waves);
    std::memset(edit, 0, sizeof edit);
    std::memset(undo, 0, sizeof undo);
    std::memset(spectra, 0, sizeof spectra);
    std::memset(&text, 0, sizeof text);
    reset_names();
}

void WaveformBank::set_name(int w, const char* text_in) {
    char* dst = text.names[w];
    std::memset(dst, 0, kNameSize);
    if (text_in) std::strncpy(dst, text_in, kNameSize - 1);
}

void WaveformBank::reset_names() {
    for (int w = 0; w < kWaveCount; ++w) std::snprintf(text.names[w], kNameSize, "Untitled %i", w + 1);
}

}  // namespace tallisk
