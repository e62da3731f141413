// Builds the nine band-limited levels of one waveform from its 1024-point spectrum.
#pragma once

#include "real_fft.h"

namespace tallisk {

// spectrum: 1024 values in the bank's layout. block: 13458 samples, written whole. Each level keeps
// bins 0 .. K-1 of its row in kLevels and nothing else (no Nyquist term: the tables exist to be
// band-limited), is scaled by kInverseScale, normalised to peak 0.5 unless its peak is below
// kSilencePeak, and gets its guards ([L] = [0], [L+1] = 0).
void build_level_block(RealFft& fft, const float* spectrum, float* block);

}  // namespace tallisk
