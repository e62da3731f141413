// Drawing the bank and level pictures.
#include "bank_picture.h"

#include <cmath>
#include <string>

#include "level_builder.h"
#include "mvp/gdi.h"
#include "real_fft.h"

namespace mvbank {

namespace {

using tallisk::kWaveCount;
using tallisk::kWaveLength;

bool silent(const float* x, int n) {
    for (int i = 0; i < n; ++i)
        if (x[i] != 0.0f) return false;
    return true;
}

// Pens, brush and font of one picture, released with it.
class Tools {
public:
    explicit Tools(mvp::HDC dc) : m_dc(dc) {
        m_font = mvp::CreateFontA(-10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Terminal");
        m_old_font = mvp::SelectObject(dc, m_font);
        m_zero = mvp::CreatePen(mvp::PS_SOLID, 1, kZeroColor);
        m_wave = mvp::CreatePen(mvp::PS_SOLID, 1, kWaveColor);
        m_old_pen = mvp::SelectObject(dc, m_zero);
        m_plot = mvp::CreateSolidBrush(kPlotColor);
        mvp::SetBkMode(dc, mvp::TRANSPARENT);
    }
    ~Tools() {
        mvp::SelectObject(m_dc, m_old_pen);
        mvp::SelectObject(m_dc, m_old_font);
        mvp::DeleteObject(m_zero);
        mvp::DeleteObject(m_wave);
        mvp::DeleteObject(m_plot);
        mvp::DeleteObject(m_font);
    }
    Tools(const Tools&) = delete;
    Tools& operator=(const Tools&) = delete;

    void text(int x, int y, const std::string& s, mvp::COLORREF color) const {
        mvp::SetTextColor(m_dc, color);
        mvp::TextOutA(m_dc, x, y, s.c_str(), static_cast<int>(s.size()));
    }

    // One period of n samples across the plot rectangle, closed by sample 0 at the right edge;
    // `full` is the value that reaches the rectangle's top row. Values beyond it stay on the edge.
    // A silent waveform shows the zero line only.
    void trace(const float* x, int n, int left, int top, int width, int height, float full) const {
        const mvp::RECT r{left, top, left + width, top + height};
        mvp::FillRect(m_dc, &r, m_plot);
        const int half = (height - 1) / 2;
        const int mid = top + half;
        mvp::SelectObject(m_dc, m_zero);
        mvp::MoveToEx(m_dc, left, mid, nullptr);
        mvp::LineTo(m_dc, left + width, mid);
        if (silent(x, n)) return;
        mvp::SelectObject(m_dc, m_wave);
        int px = 0, py = 0;
        for (int i = 0; i <= n; ++i) {
            const float v = x[i % n];
            const double s = std::isfinite(v) ? static_cast<double>(v) / full : 0.0;
            const double rows = std::fmin(std::fmax(std::round(s * half), -half), half);
            px = left + static_cast<int>(int64_t{i} * (width - 1) / n);
            py = mid - static_cast<int>(rows);
            if (i == 0) mvp::MoveToEx(m_dc, px, py, nullptr);
            else mvp::LineTo(m_dc, px, py);
        }
        mvp::SetPixel(m_dc, px, py, kWaveColor);
    }

private:
    mvp::HDC m_dc;
    mvp::HFONT m_font = 0;
    mvp::HGDIOBJ m_old_font = 0;
    mvp::HPEN m_zero = 0;
    mvp::HPEN m_wave = 0;
    mvp::HGDIOBJ m_old_pen = 0;
    mvp::HBRUSH m_plot = 0;
};

}  // namespace

mvp::HDC draw_bank(const Bank& bank) {
    mvp::HDC dc = mvp::create_panel_dc(kGridWidth, kGridHeight, kBackColor);
    {
        Tools tools(dc);
        for (int w = 0; w < kWaveCount; ++w) {
            const int x = (w % 8) * kCellWidth;
            const int y = (w / 8) * kCellHeight;
            const bool quiet = silent(bank.wave(w), kWaveLength);
            tools.trace(bank.wave(w), kWaveLength, x + kPlotLeft, y + kPlotTop, kPlotWidth, kPlotHeight, 1.0f);
            // Name on the left under the plot, the waveform's number on the right.
            const std::string number = std::to_string(w + 1);
            const int text_y = y + kPlotTop + kPlotHeight + 3;
            tools.text(x + kPlotLeft, text_y, bank.name(w), quiet ? kDimColor : kTextColor);
            tools.text(x + kPlotLeft + kPlotWidth - 6 * static_cast<int>(number.size()), text_y, number, kDimColor);
        }
    }
    return dc;
}

mvp::HDC draw_levels(const Bank& bank, int w) {
    // The levels exactly as the plug-in builds them when this waveform is selected.
    tallisk::RealFft fft;
    std::vector<float> spectrum(kWaveLength);
    std::vector<float> block(tallisk::kBlockSamples);
    fft.forward(kWaveLength, bank.wave(w), spectrum.data());
    tallisk::build_level_block(fft, spectrum.data(), block.data());

    mvp::HDC dc = mvp::create_panel_dc(kLevelsWidth, kLevelsHeight, kBackColor);
    {
        Tools tools(dc);
        tools.text(4, 7,
                   "Waveform " + std::to_string(w + 1) + " \"" + bank.name(w) +
                       "\": its nine levels, from the lowest notes (level 0) to the highest",
                   kTextColor);
        for (int l = 0; l < tallisk::kLevelCount; ++l) {
            const tallisk::LevelInfo& level = tallisk::kLevels[static_cast<size_t>(l)];
            const int x = (l % 3) * kPanelWidth;
            const int y = kTitleHeight + (l / 3) * kPanelHeight;
            tools.text(x + 4, y + 3,
                       "level " + std::to_string(l) + ": " + std::to_string(level.length) + " samples, harmonics 1-" +
                           std::to_string(level.bins - 1),
                       kTextColor);
            // Levels are normalised to a peak of 0.5: that peak fills the panel.
            tools.trace(block.data() + level.offset, level.length, x + 4, y + kPanelPlotTop, kPanelWidth - 8,
                        kPanelPlotHeight, 0.5f);
        }
    }
    return dc;
}

}  // namespace mvbank
