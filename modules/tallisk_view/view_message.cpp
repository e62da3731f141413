// Formatting and parsing of view-link messages.
#include "view_message.h"

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace tallisk_view {

std::string format_link_message(int code, intptr_t argument) {
    char text[48];
    std::snprintf(text, sizeof text, "%i,%" PRIdPTR, code, argument);
    return text;
}

LinkMessage parse_link_message(const char* text) {
    LinkMessage m;
    if (!text) return m;
    char* end = nullptr;
    const long code = std::strtol(text, &end, 0);
    if (end == text) return m;
    m.has_code = true;
    m.code = code > INT_MAX ? INT_MAX : code < INT_MIN ? INT_MIN : static_cast<int>(code);
    if (*end != ',') return m;
    const char* arg = end + 1;
    const long long address = std::strtoll(arg, &end, 0);
    if (end == arg) return m;
    m.has_address = true;
    m.address = static_cast<intptr_t>(address);
    return m;
}

}  // namespace tallisk_view
