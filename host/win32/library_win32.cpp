// Plug-in DLLs through LoadLibrary, as Morvane loads them; the reason for a failure is the
// system's message.
#include <windows.h>

#include "library.h"

namespace mvh {

void* library_open(const std::string& path, std::string* error) {
    // No "cannot find a DLL" box from the system: the failure is reported as text.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = GetLastError();
    SetErrorMode(previous);
    if (!module && error) {
        char text[512] = {};
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                       nullptr);
        std::string why(text);
        while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ')) why.pop_back();
        *error = why.empty() ? "error " + std::to_string(code) : why;
    }
    return module;
}

void* library_symbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void library_close(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

const char kLibrarySuffix[] = ".dll";

std::string program_path() {
    char path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n == 0 || n >= sizeof path ? std::string() : std::string(path, n);
}

}  // namespace mvh
