// RIFF/WAVE PCM import into one waveform: 8-bit unsigned and 16-, 24- and 32-bit signed integer
// samples, any channel count (the first channel is used), chunks in any order and with any extra
// chunks; never reads or allocates more than the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "import_result.h"

namespace tallisk {

// Decodes a whole file image into out (1024 samples); out is written only on success.
ImportResult decode_wav(const uint8_t* data, size_t size, float* out);
ImportResult read_wav_file(const std::string& path, float* out);

}  // namespace tallisk
