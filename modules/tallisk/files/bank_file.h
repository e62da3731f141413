// Bank files: ".wb1" (64 waveforms, written and read) and ".wbf" (16 waveforms, read only), both
// little-endian IEEE floats, a 4-byte magic, the samples, then 16 bytes of name per waveform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bank_layout.h"

namespace tallisk {

struct WaveformBank;

constexpr size_t kWb1Bytes = 4 + size_t{kWaveCount} * kWaveLength * 4 + size_t{kWaveCount} * kNameSize;
static_assert(kWb1Bytes == 263172);

// A decoded bank file: `count` waveforms (16 or 64) with their names, nothing yet stored.
struct BankImage {
    int count = 0;
    std::vector<float> samples;  // count * 1024
    std::vector<char> names;     // count * 16
};

enum class BankReadError { None, TooShortForMagic, BadMagic, ShortData };

// Checks the whole image before anything is used: all-or-nothing.
BankReadError decode_bank(const uint8_t* data, size_t size, BankImage* image);
// Copies an image into the bank: 64 from waveform 0, 16 from `first` (those beyond 64 are dropped).
void store_bank_image(const BankImage& image, int first, WaveformBank& bank);

std::vector<uint8_t> encode_wb1(const WaveformBank& bank);
// The same file from plain arrays: waves holds 64 x 1024 samples, names 64 x 16 bytes.
std::vector<uint8_t> encode_wb1(const float* waves, const char* names);

enum class SaveError { None, CannotOpen, WriteFailed };
// Writes the whole file without clobbering what `path` names (a device or FIFO is written in
// place, a symlink's target replaced). CannotOpen: nothing could be opened for `path` (a folder,
// a read-only file, a missing folder); WriteFailed: the old file is untouched.
SaveError write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace tallisk
