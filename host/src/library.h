// Loading a shared library and finding its exports: dlopen on Linux (library_posix.cpp),
// LoadLibrary on Windows (win32/library_win32.cpp).
#pragma once

#include <string>

namespace mvh {

// The library's handle, or null with *error set to the system's reason.
void* library_open(const std::string& path, std::string* error);
void* library_symbol(void* library, const char* name);
void library_close(void* library);

// What a plug-in file's name ends with: ".so" on Linux, ".dll" on Windows.
extern const char kLibrarySuffix[];
inline bool has_library_suffix(const std::string& name) {
    const std::string suffix = kLibrarySuffix;
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}
// The running program's own path (empty when it cannot be told).
std::string program_path();

}  // namespace mvh
