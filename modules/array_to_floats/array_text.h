// The list text of array_to_floats: items separated by commas, read as decimal numbers and
// written back in fixed notation without trailing zeros, each item ending with a comma.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace array_to_floats {

// A plain decimal number (sign, digits, point, exponent): leading blanks skipped, conversion up to
// the first character that does not fit; an empty or non-numeric item, hexadecimal, "inf", "nan"
// and a number beyond the float range give 0. Independent of the process locale.
float parse_item(std::string_view item);

// The first `count` items of `text`; missing items are 0, items beyond `count` are ignored.
std::vector<float> split_items(std::string_view text, int count);

// One value as "%f" writes it in the C locale, trailing zeros removed, ending with a comma:
// 1 gives "1,", 2.5 gives "2.5,".
std::string format_item(float value);

// The concatenated items: {1, 2.5, 0} gives "1,2.5,0,"; no values give "".
std::string join_items(const std::vector<float>& values);

}  // namespace array_to_floats
