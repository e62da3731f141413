// The BMP reader: header checks, the column scan over palette indices, resampling.
#include "bmp_reader.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "file_bytes.h"
#include "resample.h"

namespace tallisk {

namespace {

constexpr size_t kMaxBmpBytes = size_t{64} << 20;

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

ImportResult silent() { return {false, {}, {}}; }

}  // namespace

ImportResult decode_bmp(const uint8_t* data, size_t size, float* out) {
    if (size < 54 || data[0] != 'B' || data[1] != 'M') return silent();
    const uint8_t* info = data + 14;
    if (le32(info) != 40 || le16(info + 12) != 1) return silent();
    if (le16(info + 14) != 8) return {false, "Not a 1 bit BMP...", "Error"};
    const int32_t width = static_cast<int32_t>(le32(info + 4));
    const int32_t height = static_cast<int32_t>(le32(info + 8));
    // Stop before the scan unless every row the header promises is in the file.
    if (width <= 0 || height <= 0 || width > (1 << 20) || height > (1 << 20)) return silent();
    const uint64_t stride = (static_cast<uint64_t>(width) + 3) & ~uint64_t{3};
    const uint64_t offset = le32(data + 10);
    if (offset > size || stride * height > size - offset) return silent();
    const uint8_t* pixels = data + offset;

    const int h = height / 2;
    int o = 0, d = 0, prev = 0;
    std::vector<float> v(static_cast<size_t>(width) + 2);
    float largest = 0.0f;
    for (int t = 0; t < width; ++t) {
        for (int r = 0; r < height; ++r) {
            const int p = pixels[static_cast<uint64_t>(r) * stride + t];
            if (p == 0) {
                o = r - h;
                if (prev == 1) d = o;
            }
            prev = p;
        }
        v[t] = static_cast<float>(o + d);
        largest = std::fmax(largest, std::fabs(v[t]));
    }
    // Nothing drawn (or only on the middle row): no shape to take, the buffer stays as it was.
    if (largest == 0.0f) return silent();
    v[width] = v[width - 1];
    v[width + 1] = v[width];
    float wave[1024];
    resample_to_wave(v, width, wave);
    for (int i = 0; i < 1024; ++i) out[i] = wave[i] / largest;
    return {true, {}, {}};
}

ImportResult read_bmp_file(const std::string& path, float* out) {
    if (path.empty()) return {false, "Cannot open file, invalid file name!", "Error"};
    auto bytes = read_file_bytes(path, kMaxBmpBytes, {"BM"});
    if (!bytes) return silent();
    return decode_bmp(bytes->data(), bytes->size(), out);
}

}  // namespace tallisk
