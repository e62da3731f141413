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

void copy_text(char* dst, size_t size, const char* src) {
    std::memset(dst, 0, size);
    if (!src) return;
    const size_t n = strnlen(src, size - 1);
    std::memcpy(dst, src, n);
}

void WaveformBank::set_name(int w, const char* text_in) { copy_text(text.names[w], kNameSize, text_in); }

void WaveformBank::reset_names() {
    for (int w = 0; w < kWaveCount; ++w) std::snprintf(text.names[w], kNameSize, "Untitled %i", w + 1);
}

}  // namespace tallisk
