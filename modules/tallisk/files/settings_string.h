// The panel's stored look, "%x,%x,%i,%i,%s": back colour, draw colour, transparent, picture mode
// and picture path. The host keeps the text with the patch; the editor writes it after every change
// and reads it when opened from a saved patch.
#pragma once

#include <cstdint>
#include <string>

#include "bank_layout.h"

namespace tallisk {

constexpr int kSettingsSize = 600;

struct PanelLook {
    uint32_t back_colour = 0x000000;
    uint32_t draw_colour = 0x507FFF;
    int32_t transparent = 0;   // 0 or 8
    int32_t picture_mode = 0;  // 0 or 8
    std::string picture_path;  // at most kPathSize - 1 characters
};

struct SettingsParse {
    PanelLook look;     // the defaults for every field that could not be read
    bool complete = false;
    std::string error;  // what was not understood, empty when complete
};

std::string format_settings(const PanelLook& look);
// Reads the fields in order; the first one that cannot be read and every later one keep `defaults`.
SettingsParse parse_settings(const std::string& text, const PanelLook& defaults = {});

}  // namespace tallisk
