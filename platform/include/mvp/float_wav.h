// Float WAVs as sox reads them without a warning. libsndfile writes 32-bit float WAVs with the
// 16-byte format chunk of PCM; data that is not PCM wants the 18-byte one that ends with the size
// of its extension (0), as sox writes it itself. For a WAV made whole in memory (mvbank); a WAV
// written to a file is finished by mvhost's render writer (extend_float_format_chunk in
// mvhost/render.h), which the live host's recorder uses too.
#pragma once

#include <cstdint>
#include <vector>

namespace mvp {

// The format chunk of a plain float WAV grows by its two bytes; every other chunk is kept, and
// anything but a plain float WAV is left as it is. False when the RIFF size would overflow.
bool extend_float_format_chunk(std::vector<uint8_t>* wav);

}  // namespace mvp
