// Writing and reading the panel's settings text.
#include "settings_string.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace tallisk {

namespace {

// Flags are stored as 0 or 8; anything else that is not 0 means "on".
int32_t as_flag(long value) { return value != 0 ? 8 : 0; }

class Reader {
public:
    explicit Reader(const std::string& text) : m_text(text) {}

    bool hex(uint32_t* out) {
        skip_blanks();
        const size_t start = m_at;
        uint64_t value = 0;
        while (m_at < m_text.size() && std::isxdigit(static_cast<unsigned char>(m_text[m_at]))) {
            value = value * 16 + static_cast<uint64_t>(digit(m_text[m_at]));
            if (value > 0xFFFFFFFFull) return false;
            ++m_at;
        }
        if (m_at == start) return false;
        *out = static_cast<uint32_t>(value);
        return true;
    }

    bool integer(long* out) {
        skip_blanks();
        size_t at = m_at;
        if (at < m_text.size() && (m_text[at] == '-' || m_text[at] == '+')) ++at;
        const size_t digits = at;
        long value = 0;
        while (at < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[at]))) {
            if (value < 100000000) value = value * 10 + (m_text[at] - '0');
            ++at;
        }
        if (at == digits) return false;
        *out = m_text[m_at] == '-' ? -value : value;
        m_at = at;
        return true;
    }

    bool comma() {
        if (m_at < m_text.size() && m_text[m_at] == ',') {
            ++m_at;
            return true;
        }
        return false;
    }

    // The rest of the text without surrounding blanks: paths may contain blanks, and a path read
    // only up to its first blank would be lost at the next store.
    std::string rest() {
        skip_blanks();
        size_t end = m_text.size();
        while (end > m_at && std::isspace(static_cast<unsigned char>(m_text[end - 1]))) --end;
        return m_text.substr(m_at, end - m_at);
    }

private:
    static int digit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    }
    void skip_blanks() {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at]))) ++m_at;
    }

    const std::string& m_text;
    size_t m_at = 0;
};

}  // namespace

std::string format_settings(const PanelLook& look) {
    char buffer[kSettingsSize];
    std::snprintf(buffer, sizeof buffer, "%x,%x,%i,%i,%s", look.back_colour, look.draw_colour, look.transparent,
                  look.picture_mode, look.picture_path.c_str());
    return buffer;
}

SettingsParse parse_settings(const std::string& text, const PanelLook& defaults) {
    SettingsParse r;
    r.look = defaults;
    Reader in(text);
    uint32_t colour = 0;
    long value = 0;
    if (!in.hex(&colour)) {
        r.error = "back colour";
        return r;
    }
    r.look.back_colour = colour;
    if (!in.comma() || !in.hex(&colour)) {
        r.error = "draw colour";
        return r;
    }
    r.look.draw_colour = colour;
    if (!in.comma() || !in.integer(&value)) {
        r.error = "transparent";
        return r;
    }
    r.look.transparent = as_flag(value);
    if (!in.comma() || !in.integer(&value)) {
        r.error = "picture mode";
        return r;
    }
    r.look.picture_mode = as_flag(value);
    if (!in.comma()) {
        r.error = "picture path";
        return r;
    }
    std::string path = in.rest();
    if (path.size() > kPathSize - 1) {
        r.error = "picture path longer than 299 characters";
        return r;
    }
    r.look.picture_path = path;
    r.complete = true;
    return r;
}

}  // namespace tallisk
