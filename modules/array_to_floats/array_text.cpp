// Reading and writing the list text.
#include "array_text.h"

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace array_to_floats {

namespace {

// Host processes may run under any locale; a comma as decimal mark would break the list format
// both ways, so every conversion uses the C locale.
locale_t c_locale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

}  // namespace

float parse_item(std::string_view item) {
    const std::string copy(item);
    return static_cast<float>(strtod_l(copy.c_str(), nullptr, c_locale()));
}

std::vector<float> split_items(std::string_view text, int count) {
    std::vector<float> values;
    size_t cursor = 0;
    for (int i = 0; i < count; ++i) {
        if (cursor >= text.size()) {
            values.push_back(0.0f);
            continue;
        }
        const size_t comma = text.find(',', cursor);
        const size_t end = comma == std::string_view::npos ? text.size() : comma;
        values.push_back(parse_item(text.substr(cursor, end - cursor)));
        cursor = comma == std::string_view::npos ? text.size() : comma + 1;
    }
    return values;
}

std::string format_item(float value) {
    // Fixed notation of the largest double needs 309 digits before the point.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                      std::chars_format::fixed, 6);
    std::string text(buffer, result.ptr);
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.')
        text.back() = ',';
    else
        text += ',';
    return text;
}

std::string join_items(const std::vector<float>& values) {
    std::string text;
    for (float v : values) text += format_item(v);
    return text;
}

}  // namespace array_to_floats
