// Wavetable files as mvbank reads and writes them: a run of single-cycle frames of one size, with
// names where the format keeps them. Decoders take a whole file image and either fill the table or
// return one line saying what is wrong; they never read outside the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mvbank {

enum class TableFormat { Unknown, Wb1, Wbf, Wav, Wt };

// By the file name's extension, case-insensitive.
TableFormat format_of(const std::string& path);
const char* format_name(TableFormat format);

struct FrameTable {
    int frame_size = 0;
    int frame_count = 0;
    std::vector<float> samples;      // frame_count * frame_size, frame 0 first
    std::vector<std::string> names;  // one per frame for banks, empty for formats without names

    const float* frame(int k) const { return samples.data() + static_cast<size_t>(k) * frame_size; }
};

// Frame sizes of the formats that choose their own: powers of 2 within these bounds.
constexpr int kMinFrame = 2;
constexpr int kMaxWtFrame = 4096;
constexpr int kMaxWavFrame = 65536;
bool is_power_of_two(long long n);

// Each returns "" on success, else what is wrong (no file name, no trailing period).
std::string decode_bank_table(const uint8_t* data, size_t size, FrameTable* table);
std::string decode_wt(const uint8_t* data, size_t size, FrameTable* table);
// frame_size 0: from the 'clm ' chunk, else 2048.
std::string decode_wav_table(const uint8_t* data, size_t size, int frame_size, FrameTable* table);

// Writers: the whole file image. The table must hold finite samples; sizes are the caller's to check.
std::vector<uint8_t> encode_wt(const FrameTable& table);
// 32-bit float mono with a 'clm ' chunk naming the frame size; "" or what libsndfile refused.
std::string encode_wav_table(const FrameTable& table, std::vector<uint8_t>* bytes);

// "" when every sample is finite, else which frame and sample is not.
std::string check_finite(const FrameTable& table);

}  // namespace mvbank
