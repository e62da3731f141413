// The wave view's panel: background, the "Not initialized!" notice and the line through the
// shown samples.
#include <algorithm>
#include <cstring>

#include "mvp/gdi.h"
#include "wave_view.h"

namespace tallisk_view {

namespace {

constexpr char kNotInitialised[] = "Not initialized!";

// Sample values are the editor's and may be anything; keep the coordinates inside the range the
// drawing calls accept.
int sample_y(int centre, float value) {
    const int32_t offset = std::clamp(trunc_int(value * static_cast<float>(centre)), -(1 << 29), 1 << 29);
    return centre - offset;
}

}  // namespace

void WaveView::paint(int dc, MVPanelRecord* panel) {
    if (!panel) return;
    const int w = panel->width;
    const int h = panel->height;
    update_scale(w);

    if (transparent() == 0) {
        const mvp::HBRUSH brush = mvp::CreateSolidBrush(back_colour());
        const mvp::RECT all{0, 0, w + 1, h + 1};
        mvp::FillRect(dc, &all, brush);
        mvp::DeleteObject(brush);
    }

    const mvp::HPEN pen = mvp::CreatePen(mvp::PS_SOLID, 1, draw_colour());
    const mvp::HGDIOBJ old_pen = mvp::SelectObject(dc, pen);
    const mvp::HFONT font = mvp::CreateFontA(-10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Terminal");
    const mvp::HGDIOBJ old_font = mvp::SelectObject(dc, font);
    mvp::SetTextColor(dc, draw_colour());
    mvp::SetBkMode(dc, mvp::TRANSPARENT);
    mvp::SetTextAlign(dc, 0);

    if (!initialised()) mvp::TextOutA(dc, 0, 0, kNotInitialised, static_cast<int>(std::strlen(kNotInitialised)));

    const float* samples = data();
    const int m = h / 2;
    const int first = std::clamp(view_offset(), 0, kWaveLength - 1);
    const float pps = scale();
    mvp::MoveToEx(dc, 0, sample_y(m, samples[first]), nullptr);
    for (int i = 0; first + i <= kWaveLength - 1; ++i)
        mvp::LineTo(dc, trunc_int(pps * static_cast<float>(i)), sample_y(m, samples[first + i]));

    mvp::SelectObject(dc, old_pen);
    mvp::DeleteObject(pen);
    mvp::SelectObject(dc, old_font);
    mvp::DeleteObject(font);
}

}  // namespace tallisk_view
