// Reading and writing the list text.
#include "array_text.h"

#include <charconv>
#include <cmath>

#include "c_number.h"

namespace array_to_floats {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Length of the plain decimal number at the start of `s`: sign, digits with at most one point,
// and an exponent only when digits follow it. Hexadecimal numbers, "inf" and "nan", which the C
// library would also read, end at their first letter; 0 when there is no digit at all.
size_t decimal_length(std::string_view s) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && is_digit(s[j])) {
            while (j < s.size() && is_digit(s[j])) ++j;
            i = j;
        }
    }
    return i;
}

}  // namespace

float parse_item(std::string_view item) {
    size_t start = 0;
    while (start < item.size() && is_blank(item[start])) ++start;
    const size_t length = decimal_length(item.substr(start));
    if (length == 0) return 0.0f;
    const std::string number(item.substr(start, length));
    const float value = static_cast<float>(c_strtod(number.c_str()));
    // A number too large for a float output (1e39) would reach it as infinity: not a number the
    // output can carry, so it reads as 0 like any other item that is not one.
    return std::isfinite(value) ? value : 0.0f;
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
