// Measured FFTW plans for the bank's transform sizes (fft_wisdom.cpp, made by
// tools/make_fft_wisdom.cpp).
#pragma once

namespace tallisk {

extern const char kFftWisdom[];

}  // namespace tallisk
