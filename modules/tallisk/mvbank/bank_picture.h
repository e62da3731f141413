// Pictures of a bank, drawn with the platform's drawing calls and its "Terminal" font: the 64
// waveforms in an 8 x 8 grid with their numbers and names, or one waveform's nine band-limited
// levels as the plug-in's level builder makes them.
#pragma once

#include "bank_build.h"
#include "mvp/win_types.h"

namespace mvbank {

// Geometry of the bank picture (also what its tests look at).
constexpr int kCellWidth = 128;
constexpr int kCellHeight = 96;
constexpr int kPlotLeft = 4;   // inside a cell
constexpr int kPlotTop = 4;
constexpr int kPlotWidth = 120;
constexpr int kPlotHeight = 73;  // odd: the zero line is a row of its own, full scale 36 rows away
constexpr int kGridWidth = 8 * kCellWidth;
constexpr int kGridHeight = 8 * kCellHeight;

// Geometry of the levels picture: a title band, then 3 x 3 panels, level 0 top left.
constexpr int kTitleHeight = 24;
constexpr int kPanelWidth = 340;
constexpr int kPanelHeight = 208;
constexpr int kPanelPlotTop = 16;  // below the panel's caption
constexpr int kPanelPlotHeight = 185;
constexpr int kLevelsWidth = 3 * kPanelWidth;
constexpr int kLevelsHeight = kTitleHeight + 3 * kPanelHeight;

constexpr mvp::COLORREF kBackColor = mvp::RGB(24, 24, 28);
constexpr mvp::COLORREF kPlotColor = mvp::RGB(36, 36, 44);
constexpr mvp::COLORREF kZeroColor = mvp::RGB(70, 70, 80);
constexpr mvp::COLORREF kWaveColor = mvp::RGB(90, 200, 255);
constexpr mvp::COLORREF kTextColor = mvp::RGB(220, 220, 220);
constexpr mvp::COLORREF kDimColor = mvp::RGB(120, 120, 130);

// A new context (made with create_panel_dc) holding the picture; the caller deletes it.
mvp::HDC draw_bank(const Bank& bank);
// w: 0..63.
mvp::HDC draw_levels(const Bank& bank, int w);

}  // namespace mvbank
