// Reading and writing of the view-link messages and of the table address text.
#include "view_link.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace tallisk {

std::string format_view_message(int code, intptr_t address) {
    char text[48];
    std::snprintf(text, sizeof text, "%i,%" PRIdPTR, code, address);
    return text;
}

std::string format_view_message(int code, const void* address) {
    return format_view_message(code, reinterpret_cast<intptr_t>(address));
}

ViewMessage parse_view_message(const char* text) {
    ViewMessage m;
    if (!text) return m;
    char* end = nullptr;
    const long code = std::strtol(text, &end, 0);
    if (end == text) return m;
    m.has_code = true;
    m.code = code > INT_MAX ? INT_MAX : code < INT_MIN ? INT_MIN : static_cast<int>(code);
    if (*end != ',') return m;
    const char* arg = end + 1;
    const long long value = std::strtoll(arg, &end, 0);
    if (end == arg) return m;
    m.has_argument = true;
    m.argument = static_cast<intptr_t>(value);
    return m;
}

std::string format_address(const void* address) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIuPTR, reinterpret_cast<uintptr_t>(address));
    return text;
}

uintptr_t parse_address(const char* text) {
    if (!text) return 0;
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(p, &end, 0);
    if (errno == ERANGE) return 0;
    while (std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (*end != '\0') return 0;
    if (value > UINTPTR_MAX) return 0;
    return static_cast<uintptr_t>(value);
}

}  // namespace tallisk
