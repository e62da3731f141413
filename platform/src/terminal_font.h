// The fixed bitmap font that stands in for "Terminal": printable ASCII in 5 x 9 glyphs drawn in
// cells of 6 x 10 pixels. Internal to the library.
#pragma once

#include <cstdint>

namespace mvp::detail {

constexpr int kCellWidth = 6;
constexpr int kCellHeight = 10;
constexpr int kAscent = 8;  // baseline below the cell's top row
constexpr int kGlyphWidth = 5;
constexpr int kGlyphRows = 9;
constexpr int kGlyphTop = 1;  // one row of internal leading above the capitals

// Rows of the glyph for byte c, bit 4 the leftmost pixel. Bytes outside 32..126 get a box.
const uint8_t* glyph_rows(unsigned char c);

}  // namespace mvp::detail
