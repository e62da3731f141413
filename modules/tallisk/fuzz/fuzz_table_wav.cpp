// libFuzzer target: mvbank's wavetable WAV reader (with and without a frame size given), then the
// accepted table's frames picked and resampled into a bank as a conversion does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "bank_build.h"
#include "frame_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static mvbank::FrameResampler resampler;
    // The last byte chooses between the 'clm ' chunk and a given frame size from 2 to 256.
    const int frame = size == 0 || data[size - 1] % 8 == 0 ? 0 : 1 << (data[size - 1] % 8);
    mvbank::FrameTable table;
    if (!mvbank::decode_wav_table(data, size, frame, &table).empty()) return 0;
    if (table.frame_count < 1 || table.samples.size() != size_t(table.frame_count) * size_t(table.frame_size)) std::abort();
    std::vector<int> picked;
    if (!mvbank::select_frames(table.frame_count, 0, 0, &picked).empty()) std::abort();
    mvbank::Bank bank;
    mvbank::bank_from_table(table, picked, "fuzz", resampler, &bank);
    return 0;
}
