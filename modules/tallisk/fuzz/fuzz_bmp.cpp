// libFuzzer target: the BMP reader on a whole file image.
#include <cstddef>
#include <cstdint>

#include "bmp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    float out[1024];
    tallisk::decode_bmp(data, size, out);
    return 0;
}
