// libFuzzer target: the WAV reader on a whole file image.
#include <cstddef>
#include <cstdint>

#include "wav_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    float out[1024];
    tallisk::decode_wav(data, size, out);
    return 0;
}
