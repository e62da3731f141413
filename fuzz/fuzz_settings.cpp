// libFuzzer target: tallisk's stored panel settings text, parsed, written back and parsed again.
// A text that reads completely must come back as the same look.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const tallisk::SettingsParse first = tallisk::parse_settings(text);
    if (first.complete != first.error.empty()) abort();
    if (first.look.picture_path.size() >= tallisk::kPathSize) abort();
    const std::string written = tallisk::format_settings(first.look);
    if (written.size() >= tallisk::kSettingsSize) abort();
    const tallisk::SettingsParse again = tallisk::parse_settings(written);
    if (first.complete && !again.complete) abort();
    if (again.look.back_colour != first.look.back_colour || again.look.draw_colour != first.look.draw_colour ||
        again.look.transparent != first.look.transparent || again.look.picture_mode != first.look.picture_mode)
        abort();
    return 0;
}
