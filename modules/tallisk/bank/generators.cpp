// Generators and edits of the edit buffer.
#include "generators.h"

#include <algorithm>
#include <cmath>

#include "bank_layout.h"

namespace tallisk {

namespace {
constexpr float kStep9 = 1.0f / 512.0f;
constexpr float kStep10 = 1.0f / 1024.0f;
}  // namespace

void generate(Shape shape, float* x) {
    switch (shape) {
    case Shape::Silence:
        for (int i = 0; i < kWaveLength; ++i) x[i] = 0.0f;
        break;
    case Shape::Sinus:
        for (int i = 0; i < kWaveLength; ++i) {
            const float phase = static_cast<float>(i) * kStep10 * 6.2831855f;
            x[i] = static_cast<float>(std::sin(static_cast<double>(phase)));
        }
        break;
    case Shape::Sawtooth:
        for (int i = 0; i < kWaveLength; ++i) x[i] = static_cast<float>(i) * kStep9 - 1.0f;
        break;
    case Shape::Ramp:
        for (int i = 0; i < kWaveLength; ++i) x[i] = 1.0f - static_cast<float>(i) * kStep9;
        break;
    case Shape::Triangle:
        for (int n = 0; n < 256; ++n) {
            const float r = static_cast<float>(n) / 256.0f;
            x[n] = r;
            x[256 + n] = 1.0f - r;
            x[512 + n] = -r;
            x[768 + n] = r - 1.0f;
        }
        break;
    case Shape::Square:
        for (int i = 0; i < kWaveLength; ++i) x[i] = i < 512 ? 1.0f : -1.0f;
        break;
    case Shape::Pulse:
        for (int n = 0; n < 512; ++n) {
            const float r = static_cast<float>(n) / 1024.0f;
            x[n] = 1.0f - r;
            x[512 + n] = r - 1.0f;
        }
        break;
    }
}

void mirror(float* x) {
    for (int m = 0; m < 512; ++m) x[512 + m] = -x[512 - m];
}

bool normalise(float* x, int count, float target) {
    float peak = 0.0f;
    for (int i = 0; i < count; ++i) peak = std::max(peak, std::fabs(x[i]));
    if (!(peak >= kSilencePeak)) return false;
    const float gain = target / peak;
    for (int i = 0; i < count; ++i) x[i] *= gain;
    return true;
}

void zero_non_finite(float* x, int count) {
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(x[i])) x[i] = 0.0f;
}

void mix_paste(float* x, const float* stored, const float* clip, float mix) {
    const float keep = 1.0f - mix;
    for (int i = 0; i < kWaveLength; ++i) x[i] = keep * stored[i] + mix * clip[i];
}

}  // namespace tallisk
