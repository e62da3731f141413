// strtod in the C locale whatever the host process's locale: a comma as decimal mark would break
// the list format both ways. The C library's locale objects differ between Linux and Windows.
#pragma once

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace array_to_floats {

inline double c_strtod(const char* text) {
#if defined(_WIN32)
    static const _locale_t loc = _create_locale(LC_NUMERIC, "C");
    return _strtod_l(text, nullptr, loc);
#else
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return strtod_l(text, nullptr, loc);
#endif
}

}  // namespace array_to_floats
