// Encoding, all-or-nothing decoding and the safe save of bank files.
#include "bank_file.h"

#include <bit>
#include <cstring>

#include "generators.h"
#include "mvp/output_file.h"
#include "waveform_bank.h"

namespace tallisk {

static_assert(std::endian::native == std::endian::little, "bank files hold little-endian floats as in memory");

BankReadError decode_bank(const uint8_t* data, size_t size, BankImage* image) {
    if (size < 4) return BankReadError::TooShortForMagic;
    int count = 0;
    if (std::memcmp(data, "WB1 ", 4) == 0) count = kWaveCount;
    else if (std::memcmp(data, "WBF ", 4) == 0) count = 16;
    else return BankReadError::BadMagic;
    const size_t sample_bytes = size_t{static_cast<size_t>(count)} * kWaveLength * 4;
    const size_t name_bytes = size_t{static_cast<size_t>(count)} * kNameSize;
    if (size < 4 + sample_bytes + name_bytes) return BankReadError::ShortData;
    image->count = count;
    image->samples.resize(size_t{static_cast<size_t>(count)} * kWaveLength);
    std::memcpy(image->samples.data(), data + 4, sample_bytes);
    image->names.assign(data + 4 + sample_bytes, data + 4 + sample_bytes + name_bytes);
    return BankReadError::None;
}

void store_bank_image(const BankImage& image, int first, WaveformBank& bank) {
    const int start = image.count == kWaveCount ? 0 : first;
    for (int k = 0; k < image.count && start + k < kWaveCount; ++k) {
        std::memcpy(bank.waveform(start + k), image.samples.data() + size_t{static_cast<size_t>(k)} * kWaveLength,
                    sizeof(float) * kWaveLength);
        // A NaN or infinite sample would make every table built from it NaN: it enters as 0.
        zero_non_finite(bank.waveform(start + k), kWaveLength);
        char* name = bank.name(start + k);
        std::memcpy(name, image.names.data() + size_t{static_cast<size_t>(k)} * kNameSize, kNameSize);
        // Names are shown as C texts: a file without a terminator must not run past its 16 bytes.
        name[kNameSize - 1] = '\0';
    }
}

std::vector<uint8_t> encode_wb1(const WaveformBank& bank) { return encode_wb1(&bank.waves[0][0], &bank.text.names[0][0]); }

std::vector<uint8_t> encode_wb1(const float* waves, const char* names) {
    constexpr size_t kSampleBytes = size_t{kWaveCount} * kWaveLength * sizeof(float);
    std::vector<uint8_t> bytes(kWb1Bytes);
    std::memcpy(bytes.data(), "WB1 ", 4);
    std::memcpy(bytes.data() + 4, waves, kSampleBytes);
    std::memcpy(bytes.data() + 4 + kSampleBytes, names, size_t{kWaveCount} * kNameSize);
    return bytes;
}

SaveError write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    mvp::OutputFile out;
    if (!out.open(path, nullptr)) return SaveError::CannotOpen;
    out.write(bytes.data(), bytes.size());
    return out.commit(nullptr) ? SaveError::None : SaveError::WriteFailed;
}

}  // namespace tallisk
