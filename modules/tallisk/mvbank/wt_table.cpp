// The 'vawt' wavetable format: a 12-byte header (magic, uint32 wave size, uint16 wave count,
// uint16 flags), then the samples, float32 or int16, all little-endian.
#include <cstring>

#include "frame_table.h"

namespace mvbank {

namespace {

constexpr uint16_t kInt16Samples = 0x4;
constexpr uint16_t kInt16FullRange = 0x8;

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::string decode_wt(const uint8_t* data, size_t size, FrameTable* table) {
    if (size < 12) return "too short for a .wt header (" + std::to_string(size) + " bytes, 12 needed)";
    if (std::memcmp(data, "vawt", 4) != 0) return "not a .wt wavetable (it does not start with \"vawt\")";
    const uint32_t wave_size = le32(data + 4);
    const uint16_t count = le16(data + 8);
    const uint16_t flags = le16(data + 10);
    if (!is_power_of_two(wave_size) || wave_size < kMinFrame || wave_size > kMaxWtFrame)
        return "wave size " + std::to_string(wave_size) + " is not a power of 2 from 2 to 4096";
    if (count == 0) return "wave count is 0";
    const bool int16 = (flags & kInt16Samples) != 0;
    const size_t samples = size_t{wave_size} * count;
    const size_t bytes = samples * (int16 ? 2 : 4);
    // Anything after the samples (the metadata block that flag 0x10 announces) is not ours to read.
    if (size - 12 < bytes)
        return "truncated: the header promises " + std::to_string(count) + " waves of " + std::to_string(wave_size) +
               " samples (" + std::to_string(bytes) + " bytes), the file holds " + std::to_string(size - 12);
    table->frame_size = static_cast<int>(wave_size);
    table->frame_count = count;
    table->names.clear();
    table->samples.resize(samples);
    const uint8_t* p = data + 12;
    if (int16) {
        const float scale = (flags & kInt16FullRange) ? 1.0f / 32768.0f : 1.0f / 16384.0f;
        for (size_t i = 0; i < samples; ++i) table->samples[i] = static_cast<int16_t>(le16(p + 2 * i)) * scale;
    } else {
        for (size_t i = 0; i < samples; ++i) {
            const uint32_t bits = le32(p + 4 * i);
            std::memcpy(&table->samples[i], &bits, 4);
        }
    }
    return check_finite(*table);
}

std::vector<uint8_t> encode_wt(const FrameTable& table) {
    std::vector<uint8_t> bytes(12 + table.samples.size() * 4);
    std::memcpy(bytes.data(), "vawt", 4);
    put32(bytes.data() + 4, static_cast<uint32_t>(table.frame_size));
    bytes[8] = static_cast<uint8_t>(table.frame_count);
    bytes[9] = static_cast<uint8_t>(table.frame_count >> 8);
    bytes[10] = bytes[11] = 0;  // float32 samples, no metadata
    for (size_t i = 0; i < table.samples.size(); ++i) {
        uint32_t bits;
        std::memcpy(&bits, &table.samples[i], 4);
        put32(bytes.data() + 12 + 4 * i, bits);
    }
    return bytes;
}

}  // namespace mvbank
