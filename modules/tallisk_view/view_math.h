// The wave view's arithmetic: screen scale, sample indices under the mouse, the drawn line and the
// zoom steps. Every float-to-integer conversion truncates toward zero.
#pragma once

#include <cstdint>

namespace tallisk_view {

constexpr int kWaveLength = 1024;
// Index 1024 is the spare value after the last sample: the mouse at the right edge reaches it, so
// every buffer the view edits has at least 1025 values.
constexpr int kLastIndex = kWaveLength;
constexpr float kMinZoom = 1.0f;
constexpr float kMaxZoom = 128.0f;
constexpr float kZoomStep = 1.5f;
constexpr int kMoveStep = 5;

// Truncation toward zero that saturates instead of overflowing (NaN gives 0), so that a wild sample
// value or panel size cannot turn into undefined behaviour.
int32_t trunc_int(float v);

// zoom x width / 1024, cut to a whole number when it is 1 or more.
float pixels_per_sample(float zoom, int width);

// The sample under pixel column x: trunc(x / pixels_per_sample + offset), kept inside 0..1024.
int sample_under(float x, float pixels_per_sample, int view_offset);

// The largest first shown sample: trunc(1024 - width / pixels_per_sample), never below 0.
int max_view_offset(int width, float pixels_per_sample);

// Vertical position mapped to -1..1: (h/2 - y) / (h - h/2) with h/2 the integer half.
float amplitude_at(int y, int height);

// Sets every sample from the smaller to the larger index on the straight line through both points
// (the one sample gets a1 when the indices are equal). Indices must lie in 0..1024.
void draw_line(float* data, int i0, float a0, int i1, float a1);

float zoom_in(float zoom);
float zoom_out(float zoom);

}  // namespace tallisk_view
