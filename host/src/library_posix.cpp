// Shared libraries through dlopen: each plug-in loaded locally, so two plug-ins' symbols never mix.
#include <dlfcn.h>

#include <filesystem>

#include "library.h"

namespace mvh {

void* library_open(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && error) {
        const char* why = dlerror();
        *error = why ? why : "unknown error";
    }
    return handle;
}

void* library_symbol(void* library, const char* name) { return dlsym(library, name); }

void library_close(void* library) { dlclose(library); }

const char kLibrarySuffix[] = ".so";

std::string program_path() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

}  // namespace mvh
