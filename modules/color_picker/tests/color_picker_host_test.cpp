// color_picker through the reference host with a scripted user at the colour chooser.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>

#include "mvhost/host.h"
#include "mvp/common_dialogs.h"
#include "mvp/gdi.h"
#include "mvp/scripted_user.h"
#include "mvp/window.h"

namespace {

const std::string kPlugin = std::string(MV_PLUGIN_DIR) + "/color_picker.so";
enum { kStore = 0, kOpen = 1, kR = 2, kG = 3, kB = 4, kRgb = 5 };

struct PickerHost : ::testing::Test {
    mvp::ScriptedUser user;
    mvp::ScopedUser installed{&user};
    mvh::Host host;
    mvh::Instance* p = nullptr;

    void make(bool restored = false, int stored = 0) {
        mvh::InstanceOptions o;
        o.restored = restored;
        std::string error;
        p = host.add(kPlugin, "picker", o, &error);
        ASSERT_NE(p, nullptr) << error;
        if (restored) p->set_int(kStore, stored);
        host.open();
    }
    void release_open() {
        p->set_int(kOpen, 1);
        p->set_int(kOpen, 0);
    }
    std::vector<std::string> texts() const { return {p->value(kR).text, p->value(kG).text, p->value(kB).text}; }
};

}  // namespace

TEST_F(PickerHost, DescribesItselfAndSizesItsPanel) {
    make();
    EXPECT_EQ(p->plugin().name(), "ZR_ColorPicker");
    EXPECT_EQ(p->plugin().id(), "quenby ZR_ColorPicker 2.0.0.1+");
    EXPECT_EQ(p->plugin().about().rfind("ZR_ColorPicker module v2.0", 0), 0u);
    EXPECT_EQ(p->plugin().module_flags(), 256);
    EXPECT_EQ(p->plugin().sdk_version(), 2190);
    const std::vector<std::tuple<std::string, int, int, int>> expected = {
        {"RGB Store", DR_IN, DT_INT, 0x10500}, {"Open", DR_IN, DT_BOOL, 0x400}, {"R", DR_OUT, DT_TEXT, 0x400},
        {"G", DR_OUT, DT_TEXT, 0x400},         {"B", DR_OUT, DT_TEXT, 0x400},   {"RGB", DR_OUT, DT_INT, 0x400}};
    ASSERT_EQ(p->pins().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(p->pins()[i].name, std::get<0>(expected[i]));
        EXPECT_EQ(p->pins()[i].direction, std::get<1>(expected[i]));
        EXPECT_EQ(p->pins()[i].datatype, std::get<2>(expected[i]));
        EXPECT_EQ(p->pins()[i].flags, std::get<3>(expected[i]));
        EXPECT_NE(p->pins()[i].variable, nullptr);
    }
    EXPECT_EQ(p->audio_pin_count(), 0);
    EXPECT_EQ(p->panel_width, 50);
    EXPECT_EQ(p->panel_height, 25);
    host.run_block();
    EXPECT_TRUE(p->sleeping());
}

TEST_F(PickerHost, AFreshPanelIsWhiteAndStoresWhiteWithoutPublishing) {
    make();
    EXPECT_EQ(p->value(kStore).i, 0xFFFFFF);
    EXPECT_EQ(p->value(kRgb).i, 0);
    EXPECT_EQ(p->value(kR).text, "");
}

TEST_F(PickerHost, ARestoredPanelKeepsItsStoredColour) {
    user.choose_color(0x000000);  // not used: nothing opens the chooser
    make(true, 0x123456);
    EXPECT_EQ(p->value(kStore).i, 0x123456);
    mvp::HDC dc = mvp::create_panel_dc(50, 25, 0);
    p->paint(dc, 50, 25);
    EXPECT_EQ(mvp::GetPixel(dc, 10, 10), 0x123456u);
    mvp::delete_panel_dc(dc);
    EXPECT_EQ(user.pending(), 1u);
}

TEST_F(PickerHost, PressingOpensNothingReleasingOpensTheChooserOnce) {
    make();
    user.choose_color(mvp::RGB(255, 0, 0));
    p->set_int(kOpen, 1);
    EXPECT_TRUE(user.log_of("choose_color").empty());
    p->set_int(kOpen, 0);
    EXPECT_EQ(user.log_of("choose_color").size(), 1u);
    p->set_int(kOpen, 0);  // still off: no second release
    EXPECT_EQ(user.log_of("choose_color").size(), 1u);
    EXPECT_EQ(texts(), (std::vector<std::string>{"255", "0", "0"}));
    EXPECT_EQ(p->value(kRgb).i, 255);
    EXPECT_EQ(p->value(kStore).i, 255);
}

TEST_F(PickerHost, PureBluePublishesItsTextsAndThePackedInteger) {
    make();
    const int repaints = p->repaint_requests;
    ASSERT_TRUE(user.load(nlohmann::json::parse(R"([{"color": "#0000FF"}])")));
    release_open();
    EXPECT_EQ(texts(), (std::vector<std::string>{"0", "0", "255"}));
    EXPECT_EQ(p->value(kRgb).i, 16711680);
    EXPECT_EQ(p->value(kStore).i, 16711680);
    EXPECT_EQ(p->repaint_requests, repaints + 1);
    const auto log = user.log_of("choose_color");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["initial"], 0xFFFFFF);
    EXPECT_EQ(log[0]["flags"], 3);  // CC_RGBINIT | CC_FULLOPEN
}

TEST_F(PickerHost, ACancelledChooserRepublishesTheUnchangedColour) {
    make(true, 0x00FF80);
    const int repaints = p->repaint_requests;
    user.cancel_color();
    release_open();
    EXPECT_EQ(texts(), (std::vector<std::string>{"128", "255", "0"}));
    EXPECT_EQ(p->value(kRgb).i, 0x00FF80);
    EXPECT_EQ(p->value(kStore).i, 0x00FF80);
    EXPECT_EQ(p->repaint_requests, repaints + 1);
}

TEST_F(PickerHost, TheChooserIsOwnedByTheForegroundWindowAndKeepsCustomColours) {
    make();
    const mvp::HWND view = mvp::create_window("patch", mvp::RECT{0, 0, 640, 480});
    mvp::SetForegroundWindow(view);
    std::array<mvp::COLORREF, 16> mine{};
    mine[3] = 0xABCDEF;
    nlohmann::json custom(std::vector<mvp::COLORREF>(mine.begin(), mine.end()));
    ASSERT_TRUE(user.load(nlohmann::json::array({{{"color", 1}, {"custom", custom}}})));
    release_open();
    user.cancel_color();
    release_open();
    const auto log = user.log_of("choose_color");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0]["owner"], view);
    EXPECT_EQ(log[0]["custom"][15], 0xFFFFFF);  // the grey ramp ends in white
    EXPECT_EQ(log[1]["custom"][3], 0xABCDEF);
    EXPECT_EQ(log[1]["initial"], 1);
    mvp::DestroyWindow(view);
}

TEST_F(PickerHost, ThePanelPictureIsFilledWithTheStoredColour) {
    make();
    user.choose_color(0xFF0000);
    release_open();
    const mvp::GdiCounts before = mvp::gdi_counts();
    mvp::HDC dc = mvp::create_panel_dc(50, 25, 0x777777);
    p->paint(dc, 50, 25);
    mvp::Image img;
    ASSERT_TRUE(mvp::read_image(dc, &img));
    for (mvp::COLORREF c : img.pixels) ASSERT_EQ(c, 0xFF0000u);
    const std::string path = std::string(MV_BINARY_DIR) + "/color_picker_panel.png";
    std::string error;
    ASSERT_TRUE(mvp::write_png(dc, path, &error)) << error;
    mvp::delete_panel_dc(dc);
    EXPECT_EQ(mvp::gdi_counts().total(), before.total());  // paint leaves no brush behind

    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, path.c_str()));
    png.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr));
    EXPECT_EQ(png.width, 50u);
    EXPECT_EQ(png.height, 25u);
    EXPECT_EQ(rgb[0], 0);
    EXPECT_EQ(rgb[1], 0);
    EXPECT_EQ(rgb[2], 255);
    std::filesystem::remove(path);
}

TEST_F(PickerHost, BadPaintCallsAndANullCallbackAreSurvived) {
    make();
    p->gui_dispatch(GD_PAINT, 0, 0, nullptr);
    p->gui_dispatch(GD_PAINT, 987654, 0, nullptr);
    p->paint(987654, 50, 25);
    MVPinChangedRecord r{kOpen, nullptr};
    p->gui_dispatch(GD_PIN_CHANGED, 0, 0, &r);
    mvh::InstanceOptions o;
    o.null_callback = true;
    mvh::Instance* q = host.add(kPlugin, "q", o);
    ASSERT_NE(q, nullptr);
    q->gui_dispatch(GD_OPEN, 0);
    q->gui_dispatch(GD_PIN_CHANGED, 0, 0, &r);
    EXPECT_TRUE(user.log().empty());
}
