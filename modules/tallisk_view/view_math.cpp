// The wave view's arithmetic.
#include "view_math.h"

#include <algorithm>
#include <cmath>

namespace tallisk_view {

int32_t trunc_int(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v < -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}

float pixels_per_sample(float zoom, int width) {
    float pps = zoom * static_cast<float>(width) * (1.0f / 1024.0f);
    if (pps >= 1.0f) pps = std::trunc(pps);
    return pps;
}

int sample_under(float x, float pixels_per_sample, int view_offset) {
    if (!(pixels_per_sample > 0.0f)) return std::clamp(view_offset, 0, kLastIndex);
    return std::clamp(trunc_int(x / pixels_per_sample + static_cast<float>(view_offset)), 0, kLastIndex);
}

int max_view_offset(int width, float pixels_per_sample) {
    if (!(pixels_per_sample > 0.0f)) return 0;
    return std::max(0, trunc_int(1024.0f - static_cast<float>(width) / pixels_per_sample));
}

float amplitude_at(int y, int height) {
    const int half = height / 2;
    const int lower = height - half;
    if (lower == 0) return 0.0f;
    return static_cast<float>(half - y) / static_cast<float>(lower);
}

void draw_line(float* data, int i0, float a0, int i1, float a1) {
    if (i0 == i1) {
        data[i1] = a1;
        return;
    }
    if (i0 > i1) {
        std::swap(i0, i1);
        std::swap(a0, a1);
    }
    const float span = static_cast<float>(i1 - i0);
    for (int j = i0; j <= i1; ++j) data[j] = a0 + (a1 - a0) * static_cast<float>(j - i0) / span;
}

float zoom_in(float zoom) { return std::min(kMaxZoom, zoom * kZoomStep); }

float zoom_out(float zoom) { return std::max(kMinZoom, zoom / kZoomStep); }

}  // namespace tallisk_view
