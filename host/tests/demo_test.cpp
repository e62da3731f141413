// The demo patch renders with every deliverable in it: sound on both channels, stored values
// written back, every panel painted.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "mvhost/patch.h"
#include "mvhost/render.h"

namespace fs = std::filesystem;

TEST(Demo, RendersTheWholeSystem) {
    const fs::path dir = fs::temp_directory_path() / ("mvhost_demo_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // The patch's scripted file chooser names its WAV import relative to the patch: the render
    // runs from elsewhere.
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    mvh::RenderOptions o;
    o.patch = MV_SOURCE_DIR "/examples/demo.json";
    o.output = (dir / "demo.wav").string();
    o.save_patch = (dir / "saved.json").string();
    o.panels_dir = (dir / "panels").string();
    o.plugin_dirs = {MV_PLUGIN_DIR, MV_BINARY_DIR "/lib/builtin"};
    o.quiet = true;
    std::ostringstream err;
    const int status = mvh::cmd_render(o, err);
    fs::current_path(previous);
    ASSERT_EQ(status, 0) << err.str();
    EXPECT_EQ(err.str().find("warning"), std::string::npos) << err.str();

    SF_INFO info{};
    SNDFILE* f = sf_open(o.output.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> data(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_float(f, data.data(), info.frames);
    sf_close(f);
    ASSERT_EQ(info.channels, 2);
    // Both channels sound in every second of the arpeggio.
    for (int second = 0; second < 9; ++second) {
        for (int c = 0; c < 2; ++c) {
            double sum = 0;
            for (int k = 0; k < 44100; ++k) {
                const float x = data[(static_cast<size_t>(second) * 44100 + k) * 2 + c];
                sum += static_cast<double>(x) * x;
            }
            EXPECT_GT(std::sqrt(sum / 44100), 0.01) << "second " << second << " channel " << c;
        }
    }

    std::ifstream in(o.save_patch);
    const auto saved = nlohmann::json::parse(in);
    bool found = false;
    for (const auto& inst : saved["instances"])
        if (inst["name"] == "swatch") {
            EXPECT_EQ(inst["pins"]["RGB Store"], 0xCC6633);  // "#3366CC" as COLORREF
            found = true;
        }
    EXPECT_TRUE(found);
    for (const char* panel : {"osc", "osc2", "view", "swatch"})
        EXPECT_TRUE(fs::exists(dir / "panels" / (std::string(panel) + ".png"))) << panel;
    fs::remove_all(dir);
}
