// The editor example builds a bank from the menu (generators, Evaluate, Mix Paste, Rename), saves
// it and plays it with morphing: checked through the patch runner and the saved file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bank_file.h"
#include "file_bytes.h"
#include "generators.h"
#include "mvhost/patch.h"
#include "mvp/gdi.h"
#include "signal_measure.h"

using namespace tallisk;

TEST(EditorExample, BuildsSavesAndPlaysItsBankFromTheMenu) {
    const std::string saved = "/tmp/morvane_editor_bank.wb1";
    std::remove(saved.c_str());
    const std::string patch = std::string(MV_SOURCE_DIR) + "/examples/editor_bank.json";
    mvh::PatchOverrides saves_to_tmp;
    saves_to_tmp.user_saves_anywhere = true;
    mvh::PatchRun run(patch, {MV_PLUGIN_DIR, std::string(MV_BINARY_DIR) + "/lib/builtin"}, saves_to_tmp);
    std::vector<float> left;
    run.run_until(44100, [&](const std::vector<const float*>& channels, int n) {
        left.insert(left.end(), channels[0], channels[0] + n);
    });
    EXPECT_TRUE(run.user_problems().empty());
    mvh::Instance* osc = run.host().find("osc");
    ASSERT_NE(osc, nullptr);
    EXPECT_EQ(osc->value(osc->find_pin("Text Out")).text, "Sine");
    EXPECT_EQ(osc->value(osc->find_pin("wbf_path")).text, saved);

    const auto bytes = read_file_bytes(saved, size_t{1} << 20);
    ASSERT_TRUE(bytes.has_value());
    BankImage image;
    ASSERT_EQ(decode_bank(bytes->data(), bytes->size(), &image), BankReadError::None);
    ASSERT_EQ(image.count, 64);
    EXPECT_STREQ(&image.names[0], "Sine");
    EXPECT_STREQ(&image.names[16], "Saw+Sine");
    EXPECT_STREQ(&image.names[32], "Evaluated");
    float sine[1024], saw[1024];
    generate(Shape::Sinus, sine);
    generate(Shape::Sawtooth, saw);
    for (int i = 0; i < 1024; i += 64) {
        EXPECT_EQ(image.samples[i], sine[i]) << i;
        EXPECT_NEAR(image.samples[1024 + i], 0.5f * saw[i] + 0.5f * sine[i], 1e-6f) << i;
    }
    // The evaluated waveform (sin 2πt + 0.5 sin 6πt, normalised) peaks at 1.
    float top = 0.0f;
    for (int i = 0; i < 1024; ++i) top = std::max(top, std::fabs(image.samples[2048 + i]));
    EXPECT_NEAR(top, 1.0f, 1e-6f);

    // It plays the sine at 440 Hz before morphing starts at 0.5 s.
    const std::vector<float> early(left.begin() + 8820, left.begin() + 17640);
    EXPECT_GT(tallisk::test::peak(early), 0.45f);
    EXPECT_NEAR(tallisk::test::measured_frequency(early, 44100.0), 440.0, 1.0);
    std::remove(saved.c_str());
}

TEST(EditorExample, LookPatchChoosesTheColoursFromTheMenu) {
    const std::string patch = std::string(MV_SOURCE_DIR) + "/examples/editor_look.json";
    mvh::PatchRun run(patch, {MV_PLUGIN_DIR, std::string(MV_BINARY_DIR) + "/lib/builtin"});
    run.run_until(4410);
    EXPECT_TRUE(run.user_problems().empty());
    mvh::Instance* osc = run.host().find("osc");
    ASSERT_NE(osc, nullptr);
    EXPECT_EQ(osc->value(osc->find_pin("Settings")).text, "603020,40d0ff,0,0,");
    const mvp::HDC dc = mvp::create_panel_dc(120, 50, 0xC0C0C0);
    osc->paint(dc, 120, 50);
    mvp::Image img;
    ASSERT_TRUE(mvp::read_image(dc, &img));
    mvp::delete_panel_dc(dc);
    EXPECT_EQ(img.at(119, 0), 0x603020u);
    int caption = 0;
    for (mvp::COLORREF c : img.pixels) caption += c == 0x40D0FF;
    EXPECT_GT(caption, 20);
}
