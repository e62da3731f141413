// tallisk's own banks (.wb1, .wbf) as frame tables, decoded by the plug-in's bank code.
#include <cstring>

#include "bank_file.h"
#include "frame_table.h"

namespace mvbank {

std::string decode_bank_table(const uint8_t* data, size_t size, FrameTable* table) {
    tallisk::BankImage image;
    switch (tallisk::decode_bank(data, size, &image)) {
    case tallisk::BankReadError::None: break;
    case tallisk::BankReadError::TooShortForMagic:
        return "too short for a bank (" + std::to_string(size) + " bytes)";
    case tallisk::BankReadError::BadMagic: return "not a tallisk bank (its first 4 bytes are neither \"WB1 \" nor \"WBF \")";
    case tallisk::BankReadError::ShortData: {
        const bool full = std::memcmp(data, "WB1 ", 4) == 0;
        const size_t need = full ? tallisk::kWb1Bytes : 4 + size_t{16} * (tallisk::kWaveLength * 4 + tallisk::kNameSize);
        return "truncated: " + std::to_string(size) + " bytes, a " + (full ? ".wb1" : ".wbf") + " bank holds " +
               std::to_string(need);
    }
    }
    table->frame_size = tallisk::kWaveLength;
    table->frame_count = image.count;
    table->samples = std::move(image.samples);
    table->names.clear();
    for (int k = 0; k < image.count; ++k) {
        const char* name = image.names.data() + static_cast<size_t>(k) * tallisk::kNameSize;
        // As the plug-in shows it: the 16th byte is always the terminator.
        table->names.emplace_back(name, strnlen(name, tallisk::kNameSize - 1));
    }
    return check_finite(*table);
}

}  // namespace mvbank
