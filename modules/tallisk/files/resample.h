// Stretching a sequence of any length to the 1024 samples of one waveform, as both importers do.
#pragma once

#include <vector>

namespace tallisk {

// x holds count values followed by two guards (x.size() == count + 2). For i = 0..1023:
// d = float(i * step) with step = float(count * 2^-10), r = d rounded to nearest (ties to even),
// out[i] = x[r] + (x[r+1] - x[r]) * (d - r).
void resample_to_wave(const std::vector<float>& x, int count, float* out);

}  // namespace tallisk
