// View-link messages: "%i,%i", a code and an address of this process written as signed decimal
// text wide enough for the platform's pointers.
#pragma once

#include <cstdint>
#include <string>

namespace tallisk_view {

// Codes the view receives on "Wave in" and sends on "Wave out".
enum LinkCode {
    kLinkBackColour = 0,
    kLinkDrawColour = 1,
    kLinkTransparent = 3,
    kLinkEditBuffer = 9,
    kLinkRequest = 11,
    kLinkRedraw = 12,
    kLinkCommit = 13,
    kLinkStep = 17,
    kLinkModified = 18,
};

std::string format_link_message(int code, intptr_t argument);

struct LinkMessage {
    bool has_code = false;
    int code = 0;
    // Set only when the code is followed directly by a comma and a number.
    bool has_address = false;
    intptr_t address = 0;
};

// Reads the code as "%i" does (leading blanks, sign, automatic base) and the address after a comma
// that follows the code at once, as "%i,%i" does, but into a pointer-wide value.
LinkMessage parse_link_message(const char* text);

}  // namespace tallisk_view
