// Bounded whole-file reads.
#include "file_bytes.h"

#include <algorithm>
#include <cstdio>

namespace tallisk {

std::optional<std::vector<uint8_t>> read_file_bytes(const std::string& path, size_t max_bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    while (bytes.size() < max_bytes) {
        const size_t want = std::min(sizeof chunk, max_bytes - bytes.size());
        const size_t got = std::fread(chunk, 1, want, f);
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < want) break;
    }
    std::fclose(f);
    return bytes;
}

}  // namespace tallisk
