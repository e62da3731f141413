// Whole-file reads for the importers and the bank loader, bounded so that a file never costs more
// memory than a limit.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallisk {

// The file's bytes, at most max_bytes of them (more are not read); nothing when it cannot be opened
// or is not a regular file (a FIFO would block the reader, a device never end). With `magics`, a
// file that starts with none of them yields only its first bytes (as many as the longest magic), so
// the caller reports the wrong format without the rest ever being read.
std::optional<std::vector<uint8_t>> read_file_bytes(const std::string& path, size_t max_bytes,
                                                    std::initializer_list<std::string_view> magics = {});

}  // namespace tallisk
