// The wave view's arithmetic and logic driven directly, with a fake host behind the hooks: scale,
// indices under the mouse, the drawn line, Move, Zoom and Select steps, the commit cadence, the
// link messages.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <string>
#include <vector>

#include "view_core.h"
#include "view_link.h"

namespace tallisk_view {
namespace {

constexpr int kW = 180;
constexpr int kH = 100;

class FakeView : public ViewCore {
public:
    std::vector<std::string> sent;
    std::string readout;
    bool captured = false;
    int repaints = 0;

    void drag(int x0, int y0, std::initializer_list<std::pair<int, int>> moves, int w = kW, int h = kH) {
        press(x0, y0, w, h);
        for (auto [x, y] : moves) move(x, y, w, h);
        release();
    }
    void link(float* buffer) { receive_message(tallisk::format_view_message(tallisk::kViewEditBuffer, buffer).c_str()); }

protected:
    void send_message(const char* text) override { sent.emplace_back(text); }
    void write_readout(const char* text) override { readout = text; }
    void capture_mouse() override { captured = true; }
    void release_mouse() override { captured = false; }
    bool mouse_captured() override { return captured; }
    void request_repaint() override { ++repaints; }
    void mode_changed() override {}
    void show_mode_cursor() override {}
};

using Sent = std::vector<std::string>;

TEST(ViewMath, ScaleIsCutToWholePixelsOnlyFromOnePixelUp) {
    EXPECT_FLOAT_EQ(pixels_per_sample(1.0f, 180), 0.17578125f);
    EXPECT_EQ(pixels_per_sample(8.0f, 180), 1.0f);  // 1.40625 cut
    EXPECT_EQ(pixels_per_sample(128.0f, 180), 22.0f);
    EXPECT_EQ(max_view_offset(180, 0.17578125f), 0);
    EXPECT_EQ(max_view_offset(180, 1.0f), 844);
    // A panel wider than 1024 pixels at zoom 1 shows fewer samples than it has columns for: the
    // offset limit must not go negative.
    EXPECT_EQ(max_view_offset(1500, pixels_per_sample(1.0f, 1500)), 0);
}

TEST(ViewMath, IndicesUnderTheMouseTruncateAndStayInsideTheSpareValue) {
    EXPECT_EQ(sample_under(179.0f, 0.17578125f, 0), 1018);
    EXPECT_EQ(sample_under(180.0f, 0.17578125f, 0), 1024);
    EXPECT_EQ(sample_under(180.0f, 1.0f, 844), 1024);
    EXPECT_EQ(sample_under(1000.0f, 1.0f, 341), 1024);  // a wider panel with a stale offset
    EXPECT_EQ(sample_under(-3.0f, 1.0f, 0), 0);
    EXPECT_EQ(trunc_int(-0.9f), 0);
    EXPECT_EQ(trunc_int(NAN), 0);
    EXPECT_EQ(trunc_int(1e20f), INT32_MAX);
    EXPECT_EQ(trunc_int(-1e20f), INT32_MIN);
}

TEST(ViewMath, TheLineRunsFromTheSmallerIndexWhicheverWayTheMouseWent) {
    float d[8] = {};
    draw_line(d, 5, 1.0f, 1, -1.0f);
    EXPECT_EQ(d[0], 0.0f);
    EXPECT_EQ(d[1], -1.0f);
    EXPECT_EQ(d[3], 0.0f);
    EXPECT_EQ(d[5], 1.0f);
    EXPECT_EQ(d[6], 0.0f);
    draw_line(d, 6, 0.3f, 6, 0.7f);
    EXPECT_EQ(d[6], 0.7f);
}

struct Core : ::testing::Test {
    FakeView v;
    float buf[1026] = {};
    void SetUp() override {
        v.initialise("", kDraw);
        v.link(buf);
        v.sent.clear();
    }
};

TEST_F(Core, TheFirstDrawStepStartsAtThePressIndexAndTheLastCapturedAmplitude) {
    v.drag(90, 50, {{99, 0}});  // ends at amplitude 1.0
    const int first_press = sample_under(90.0f, 0.17578125f, 0);
    ASSERT_EQ(first_press, 512);
    EXPECT_EQ(v.press_index(), 563);
    EXPECT_FLOAT_EQ(buf[512], 0.0f);  // from the construction amplitude 0, not the press height
    EXPECT_FLOAT_EQ(buf[563], 1.0f);

    std::fill(std::begin(buf), std::end(buf), 0.0f);
    v.drag(10, 90, {{20, 75}});  // pressed low, moved to -0.5
    EXPECT_EQ(v.previous_index(), 56);
    EXPECT_FLOAT_EQ(buf[56], 1.0f);  // where the previous stroke ended
    EXPECT_FLOAT_EQ(buf[113], -0.5f);
    for (int j = 56; j <= 113; ++j) EXPECT_FLOAT_EQ(buf[j], 1.0f + (-1.5f) * (j - 56) / 57.0f) << j;
    EXPECT_EQ(buf[55], 0.0f);
    EXPECT_EQ(buf[114], 0.0f);
}

TEST_F(Core, AtTheRightEdgeTheDrawStepReachesTheSpareValueAndNoFurther) {
    buf[1025] = 7.0f;
    v.drag(179, 50, {{180, 25}, {400, 25}});
    EXPECT_EQ(v.press_index(), 1024);
    EXPECT_FLOAT_EQ(buf[1024], 0.5f);
    EXPECT_EQ(buf[1025], 7.0f);
    EXPECT_EQ(v.readout, "1.00,0.50");
}

TEST_F(Core, SelectStepsOnAClickAndOncePerMoveWithVerticalMovement) {
    v.set_mode(kSelect);
    v.press(50, 50, kW, kH);
    EXPECT_EQ(v.sent, (Sent{"17,1", "12,0"}));
    v.sent.clear();
    v.move(50, 40, kW, kH);  // up from the last captured amplitude (0): next
    v.move(50, 30, kW, kH);  // up again: next
    v.move(80, 30, kW, kH);  // sideways: nothing
    v.move(80, 90, kW, kH);  // far down: one step back
    EXPECT_EQ(v.sent, (Sent{"17,1", "12,0", "17,1", "12,0", "17,0", "12,0"}));
    v.release();
    v.sent.clear();
    v.move(80, 10, kW, kH);  // not captured: readout only
    EXPECT_TRUE(v.sent.empty());
}

TEST_F(Core, ZoomScalesByOneAndAHalfWithinItsLimitsAndKeepsThePressedSampleUnderTheMouse) {
    v.set_mode(kZoom);
    v.press(90, 50, kW, kH);
    ASSERT_EQ(v.press_index(), 512);
    for (int i = 1; i <= 6; ++i) v.move(90, 50 - i, kW, kH);
    EXPECT_FLOAT_EQ(v.zoom(), 11.390625f);
    EXPECT_EQ(v.scale(), 2.0f);
    EXPECT_EQ(v.view_offset(), 512 - 45);
    EXPECT_EQ(sample_under(90.0f, v.scale(), v.view_offset()), 512);
    for (int i = 0; i < 20; ++i) v.move(90, 40 - i, kW, kH);
    EXPECT_EQ(v.zoom(), 128.0f);
    EXPECT_EQ(v.scale(), 22.0f);
    EXPECT_EQ(v.view_offset(), 507);  // trunc(512 - 90 / 22)
    for (int i = 0; i < 30; ++i) v.move(90, 30 + i, kW, kH);
    EXPECT_EQ(v.zoom(), 1.0f);
    EXPECT_EQ(v.view_offset(), 0);
    v.release();

    // The offset keeps to its limits: pressed far right and dragged to the left edge...
    v.press(179, 50, kW, kH);
    ASSERT_EQ(v.press_index(), 1018);
    v.move(0, 40, kW, kH);
    EXPECT_FLOAT_EQ(v.zoom(), 1.5f);
    EXPECT_EQ(v.view_offset(), 341);
    EXPECT_EQ(v.view_offset(), max_view_offset(kW, v.scale()));
    v.move(0, 40, kW, kH);  // no vertical movement: the zoom stays
    EXPECT_FLOAT_EQ(v.zoom(), 1.5f);
    v.release();
    // ... and pressed at the left edge and dragged right.
    v.press(0, 50, kW, kH);
    ASSERT_EQ(v.press_index(), 341);
    v.move(179, 30, kW, kH);
    EXPECT_FLOAT_EQ(v.zoom(), 2.25f);
    EXPECT_EQ(v.view_offset(), 0);
}

TEST_F(Core, MoveShiftsFiveSamplesPerEventAndNotAtAllAtZoomOne) {
    v.set_mode(kMove);
    v.drag(90, 50, {{80, 50}, {20, 50}, {100, 50}});
    EXPECT_EQ(v.view_offset(), 0);

    v.set_mode(kZoom);
    v.drag(0, 50, {{0, 40}, {0, 30}, {0, 20}, {0, 10}, {0, 5}, {0, 4}});  // zoom 11.39: 90 samples shown
    ASSERT_EQ(v.scale(), 2.0f);
    ASSERT_EQ(v.view_offset(), 0);
    v.set_mode(kMove);
    // Each event compares with the previous captured x position, the first one with where the
    // last drag ended (x = 0): right, left, left, right.
    v.drag(90, 50, {{89, 50}, {10, 50}, {9, 50}, {11, 50}});
    EXPECT_EQ(v.view_offset(), 5);
    for (int drag = 0; drag < 3; ++drag) {
        v.press(179, 50, kW, kH);
        for (int x = 178; x >= 0; --x) v.move(x, 50, kW, kH);
        v.release();
    }
    EXPECT_EQ(v.view_offset(), 1024 - 90);
}

TEST_F(Core, ACommitGoesOutAtMostOncePerFourIdleCalls) {
    // A fresh view is dirty: the first idle call commits.
    v.tick();
    EXPECT_EQ(v.sent, (Sent{"13,0", "12,0"}));
    v.sent.clear();
    int commits = 0;
    for (int i = 0; i < 11; ++i) {
        v.drag(10 + i, 50, {{12 + i, 20}});
        v.tick();
        for (const std::string& s : v.sent) commits += s == "13,0";
        v.sent.clear();
    }
    EXPECT_EQ(commits, 2);
    EXPECT_TRUE(v.dirty());
    v.tick();
    EXPECT_FALSE(v.dirty());
    EXPECT_EQ(v.sent, (Sent{"13,0", "12,0"}));
    v.sent.clear();
    for (int i = 0; i < 8; ++i) v.tick();
    EXPECT_TRUE(v.sent.empty());
}

TEST_F(Core, APanelWiderThanTheWaveformNeverScrollsBeforeTheFirstSample) {
    v.set_mode(kMove);
    v.drag(700, 50, {{600, 50}, {500, 50}}, 1500, kH);
    EXPECT_EQ(v.view_offset(), 0);
    v.move(1500, 50, 1500, kH);
    EXPECT_EQ(v.readout_index(), 1024);
}

}  // namespace
}  // namespace tallisk_view
