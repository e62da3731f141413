// The waveform shapes and edits that act on one 1024-sample buffer, exactly as tabled: every value
// is a single-precision function of the index.
#pragma once

namespace tallisk {

enum class Shape { Silence, Sinus, Sawtooth, Ramp, Triangle, Square, Pulse };

void generate(Shape shape, float* x);
// x[512 + m] = -x[512 - m] for m = 0..511: the second half mirrors the first with its sign flipped.
void mirror(float* x);
// Scales to the given peak; a buffer whose peak is below kSilencePeak stays as it is. Returns
// whether it scaled.
bool normalise(float* x, int count, float target);
// x[i] = (1 - mix) * stored[i] + mix * clip[i]
void mix_paste(float* x, const float* stored, const float* clip, float mix);
// Sets every NaN or infinite sample to 0: one such sample would turn a whole table, and every
// output sample played from it, into NaN.
void zero_non_finite(float* x, int count);

}  // namespace tallisk
