// Voltage to choice index: the two rounding rules, free of any host code so tests drive them alone.
#pragma once

#include <cstdint>

namespace vti {

enum class Rounding : int16_t { kFloor = 0, kNearest = 1 };

// v is a sample in pin scaling (1.0 = 10 V). Toward zero, with whole volts that a float stores just
// below their value (0.7 is 0.69999999) still counting as that whole volt.
int16_t floor_index(float v);
// Nearest whole volt, ties to even.
int16_t nearest_index(float v);

inline int16_t to_index(Rounding mode, float v) {
    return mode == Rounding::kFloor ? floor_index(v) : nearest_index(v);
}

}  // namespace vti
