// The view link between tallisk's editor and its wave views: texts "%i,%i" on the editor-only text
// pins, a code and an address of this process written as signed decimal wide enough for the
// platform's pointers. Both modules compile this one reading and writing of the texts in, so
// that they agree on every message; and the table address text of "table_ptr".
#pragma once

#include <cstdint>
#include <string>

namespace tallisk {

// Codes of the view link, of both directions.
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
    int code = 0;  // clamped to int
    // Set only when the code is followed at once by a comma and a number.
    bool has_argument = false;
    intptr_t argument = 0;
};

// Reads the text as sscanf(text, "%i,%i") reads it, but the argument pointer-wide: leading blanks,
// a sign and the automatic base ("0x" hexadecimal, leading "0" octal) for each number; the comma
// must follow the code at once, so "9 ,123" is code 9 without an argument, while "9, 123" has one.
ViewMessage parse_view_message(const char* text);

// The table address as decimal text, and back: the whole text must be one unsigned number with
// automatic base ("0x" hexadecimal, leading "0" octal); anything else gives 0.
std::string format_address(const void* address);
uintptr_t parse_address(const char* text);

}  // namespace tallisk
