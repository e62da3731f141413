// Whole-file reads for the importers and the bank loader, bounded so that a file never costs more
// memory than a limit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallisk {

// The file's bytes, at most max_bytes of them (more are not read); nothing when it cannot be opened.
std::optional<std::vector<uint8_t>> read_file_bytes(const std::string& path, size_t max_bytes);

}  // namespace tallisk
