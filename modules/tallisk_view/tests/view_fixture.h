// A wave view loaded through the reference host, with a link recorder at the editor's end of its
// "Wave out" and buffers owned by the test standing in for the editor's.
#pragma once

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "mvhost/host.h"
#include "mvp/gdi.h"

namespace tallisk_view::test {

enum ViewPin { kWaveIn = 0, kMode = 1, kWaveOut = 2, kReadout = 3 };
enum ModeValue { kSelect = 0, kDraw = 1, kMove = 2, kZoom = 3 };

inline const std::string kViewPlugin = std::string(MV_PLUGIN_DIR) + "/tallisk_view.so";

inline std::string link_text(int code, const void* address) {
    char text[48];
    std::snprintf(text, sizeof text, "%i,%" PRIdPTR, code, reinterpret_cast<intptr_t>(address));
    return text;
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline mvp::Image paint(mvh::Instance* inst, int w, int h, mvp::COLORREF background = 0x00C0C0C0) {
    mvp::Image image;
    const mvp::HDC dc = mvp::create_panel_dc(w, h, background);
    inst->paint(dc, w, h);
    mvp::read_image(dc, &image);
    mvp::delete_panel_dc(dc);
    return image;
}

// Pixels of one colour inside a rectangle.
inline int count_colour(const mvp::Image& image, mvp::COLORREF colour, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += image.at(x, y) == colour;
    return n;
}

}  // namespace tallisk_view::test
