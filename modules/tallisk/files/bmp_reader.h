// 8-bit BMP import into one waveform: each column's value is the height of its last pixel of
// palette index 0 (plus the last edge that started a run of it), stretched to 1024 samples and
// normalised to peak 1.0. Sizes are checked against the file before any pixel is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "import_result.h"

namespace tallisk {

ImportResult decode_bmp(const uint8_t* data, size_t size, float* out);
ImportResult read_bmp_file(const std::string& path, float* out);

}  // namespace tallisk
