// The 18-byte format chunk of a float WAV made in memory (see float_wav.h).
#include "mvp/float_wav.h"

#include <cstring>

namespace mvp {

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
void put32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

}  // namespace

bool extend_float_format_chunk(std::vector<uint8_t>* wav) {
    std::vector<uint8_t>& w = *wav;
    if (w.size() < 12 || std::memcmp(w.data(), "RIFF", 4) != 0 || std::memcmp(w.data() + 8, "WAVE", 4) != 0) return true;
    for (size_t pos = 12; pos + 8 <= w.size();) {
        const uint32_t size = le32(w.data() + pos + 4);
        if (std::memcmp(w.data() + pos, "fmt ", 4) == 0) {
            if (size != 16 || pos + 8 + 16 > w.size() || w[pos + 8] != 3 || w[pos + 9] != 0) return true;
            const uint32_t riff = le32(w.data() + 4);
            if (riff > 0xFFFFFFFFu - 2) return false;
            const uint8_t extension_size[2] = {0, 0};
            w.insert(w.begin() + static_cast<std::ptrdiff_t>(pos + 8 + 16), extension_size, extension_size + 2);
            put32(w.data() + pos + 4, 18);
            put32(w.data() + 4, riff + 2);
            return true;
        }
        pos += 8 + size + (size & 1);
    }
    return true;
}

}  // namespace mvp
