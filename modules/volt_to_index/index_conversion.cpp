// The conversion of a voltage to a 16-bit choice index.
#include "index_conversion.h"

#include <cmath>

namespace vti {

namespace {

// Indices that do not fit 16 bits wrap, as the host's choice inputs expect of an integer that was
// truncated to 16 bits. Values past any integer range (and NaN) have no wrapped meaning; they give
// index 0 rather than an undefined conversion.
int16_t wrap16(float whole) {
    constexpr float kLimit = 9.2e18f;  // just inside the range of int64_t
    if (!(std::fabs(whole) < kLimit)) return 0;
    const auto wide = static_cast<int64_t>(whole);
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(wide) & 0xFFFFu));
}

}  // namespace

int16_t floor_index(float v) {
    // 5.0e-7 lifts whole volts stored just below their value over the line; float precision keeps
    // this exact only up to about 300 V.
    const float magnitude = std::trunc((std::fabs(v) + 5.0e-7f) * 10.0f);
    return wrap16(std::signbit(v) ? -magnitude : magnitude);
}

int16_t nearest_index(float v) {
    // nearbyint rounds ties to even in the default rounding mode, which the host keeps.
    return wrap16(std::nearbyint(v * 10.0f));
}

}  // namespace vti
