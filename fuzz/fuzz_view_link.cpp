// libFuzzer target: the view-link message and the "table_ptr" address text of tallisk. Both arrive
// as texts from another module; reading them must never go past their end, and what is written
// must read back as the same number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "view_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The texts arrive NUL-terminated; a copy of exactly the input's length lets ASan see overreads.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* c = text.c_str();

    const tallisk::ViewMessage m = tallisk::parse_view_message(c);
    if (m.has_argument && !m.has_code) abort();
    if (m.has_code) {
        const std::string back = tallisk::format_view_message(m.code, m.argument);
        const tallisk::ViewMessage again = tallisk::parse_view_message(back.c_str());
        if (!again.has_code || again.code != m.code) abort();
        if (m.has_argument && (!again.has_argument || again.argument != m.argument)) abort();
    }

    const uintptr_t address = tallisk::parse_address(c);
    const std::string written = tallisk::format_address(reinterpret_cast<const void*>(address));
    if (tallisk::parse_address(written.c_str()) != address) abort();
    return 0;
}
