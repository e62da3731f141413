// The view-link messages: "%i,%i", a code and an address of this process as signed decimal, wide
// enough for the platform's pointers.
#pragma once

#include <cstdint>
#include <string>

namespace tallisk {

// Codes of the view link.
enum ViewCode {
    kViewBackColour = 0,
    kViewDrawColour = 1,
    kViewTransparent = 3,
    kViewSpectrum = 8,
    kViewEditBuffer = 9,
    kViewRefresh = 10,
    kViewRequest = 11,
    kViewRedraw = 12,
    kViewCommit = 13,
    kViewTimestamp = 14,
    kViewSpectrumChanged = 15,
    kViewStep = 17,
    kViewModified = 18,
};

std::string format_view_message(int code, intptr_t address);
std::string format_view_message(int code, const void* address);

struct ViewMessage {
    bool has_code = false;
    int code = 0;
    bool has_argument = false;
    intptr_t argument = 0;
};

// Reads the code as "%i" does (optional sign, automatic base) and, after a comma, the argument.
ViewMessage parse_view_message(const char* text);

// The table address as decimal text, and back: the whole text must be one unsigned number with
// automatic base ("0x" hexadecimal, leading "0" octal); anything else gives 0.
std::string format_address(const void* address);
uintptr_t parse_address(const char* text);

}  // namespace tallisk
