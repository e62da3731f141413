// Reads what a shared library shows the dynamic linker: its exported symbols and the libraries it
// needs. Parsed from the file itself, so a plug-in cannot hide anything by how it behaves once loaded.
#pragma once

#include <string>
#include <vector>

namespace mvh::validate {

struct ElfDynamicInfo {
    std::vector<std::string> exports;  // defined global or weak symbols of default visibility
    std::vector<std::string> needed;   // DT_NEEDED entries
};

// Handles 32- and 64-bit little-endian ELF. On failure returns false and sets *error to one line.
bool read_elf_dynamic(const std::string& path, ElfDynamicInfo* info, std::string* error);

}  // namespace mvh::validate
