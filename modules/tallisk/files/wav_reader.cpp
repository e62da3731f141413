// The WAV reader: RIFF chunk walk, PCM format check, first-channel samples, resampling.
#include "wav_reader.h"

#include <cstring>
#include <vector>

#include "file_bytes.h"
#include "resample.h"

namespace tallisk {

namespace {

constexpr size_t kMaxWavBytes = size_t{64} << 20;
const char kCaption[] = "QB_WaveView";

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

ImportResult fail(const char* message, const char* caption) { return {false, message, caption}; }
ImportResult short_read() { return fail("Cannot read from file! closing ...", kCaption); }
ImportResult unsupported() { return fail("This format is not supported!", "Error"); }

float sample_at(const uint8_t* p, int bytes) {
    switch (bytes) {
    case 1: return (static_cast<int>(p[0]) - 128) * (1.0f / 128.0f);
    case 2: return static_cast<int16_t>(le16(p)) * (1.0f / 32768.0f);
    case 3: {
        const int32_t v = static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (uint32_t{p[2]} << 24)) >> 8;
        return static_cast<float>(v) * (1.0f / 8388608.0f);
    }
    default: return static_cast<float>(static_cast<int32_t>(le32(p)) * (1.0 / 2147483648.0));
    }
}

}  // namespace

ImportResult decode_wav(const uint8_t* data, size_t size, float* out) {
    if (size < 4) return short_read();
    if (std::memcmp(data, "RIFF", 4) != 0) return fail("Not a RIFF file!", kCaption);
    if (size < 8) return fail("Invalid header!", kCaption);
    if (size < 12) return short_read();
    if (std::memcmp(data + 8, "WAVE", 4) != 0) return fail("Not a Microsoft PCM Wave file!", kCaption);

    // Walk the chunks; "fmt " must come before "data", anything else is skipped.
    bool have_format = false;
    int channels = 0, bytes_per_sample = 0;
    size_t pos = 12;
    for (;;) {
        if (pos + 8 > size) return have_format ? fail("Missing data chunk!", "Error") : short_read();
        const uint8_t* id = data + pos;
        const uint32_t chunk_size = le32(data + pos + 4);
        const size_t body = pos + 8;
        if (std::memcmp(id, "fmt ", 4) == 0) {
            if (chunk_size < 16 || body + 16 > size) return short_read();
            uint16_t tag = le16(data + body);
            channels = le16(data + body + 2);
            const int bits = le16(data + body + 14);
            // WAVE_FORMAT_EXTENSIBLE carries the real tag in its sub-format.
            if (tag == 0xFFFE) {
                if (chunk_size < 40 || body + 40 > size) return short_read();
                tag = le16(data + body + 24);
            }
            if (tag != 1 || channels < 1) return unsupported();
            if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return unsupported();
            bytes_per_sample = bits / 8;
            have_format = true;
        } else if (std::memcmp(id, "data", 4) == 0) {
            if (!have_format) return fail("Missing data chunk!", "Error");
            if (chunk_size > size - body) return short_read();
            const size_t stride = static_cast<size_t>(channels) * bytes_per_sample;
            const size_t count = chunk_size / stride;
            std::vector<float> x(count + 2, 0.0f);
            for (size_t j = 0; j < count; ++j) x[j] = sample_at(data + body + j * stride, bytes_per_sample);
            x[count + 1] = x[count];
            resample_to_wave(x, static_cast<int>(count), out);
            return {true, {}, {}};
        }
        // Chunks are padded to an even size.
        const uint64_t next = uint64_t{body} + chunk_size + (chunk_size & 1u);
        if (next > size) return have_format ? fail("Missing data chunk!", "Error") : short_read();
        pos = static_cast<size_t>(next);
    }
}

ImportResult read_wav_file(const std::string& path, float* out) {
    auto bytes = read_file_bytes(path, kMaxWavBytes + 1, {"RIFF"});
    if (!bytes) return fail("Cannot open file!", kCaption);
    if (bytes->size() > kMaxWavBytes) return fail("File too large!", kCaption);
    return decode_wav(bytes->data(), bytes->size(), out);
}

}  // namespace tallisk
