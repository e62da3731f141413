// libFuzzer target: the bank file decoder, then storing what it accepts into a bank.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "bank_file.h"
#include "waveform_bank.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto bank = std::make_unique<tallisk::WaveformBank>();
    tallisk::BankImage image;
    if (tallisk::decode_bank(data, size, &image) == tallisk::BankReadError::None)
        tallisk::store_bank_image(image, size % 64, *bank);
    return 0;
}
