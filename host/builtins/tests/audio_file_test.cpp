// The audio file player in a patch: its file named relative to the patch, resampled to the patch's
// rate, scaled by its gain, then silent; files it cannot use.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "mvhost/patch.h"
#include "mvhost/render.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct AudioFile : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("mvhost_audio_file_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    void write_wav(const std::string& name, int rate, int channels, const std::vector<float>& interleaved) {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open((dir / name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
        sf_close(f);
    }

    // Renders the player alone (file, gain in volts) and returns its left and right outputs.
    std::pair<std::vector<float>, std::vector<float>> play(const std::string& file, double gain, double seconds) {
        const json doc = {{"sample_rate", 44100}, {"block_size", 100}, {"duration", seconds},
                          {"instances", {{{"name", "f"}, {"module", "audio_file"}, {"pins", {{"File", file}, {"Gain", gain}}}}}},
                          {"output", {{"channels", {"f.Left", "f.Right"}}}}};
        mvh::PatchRun run(doc, "p.json", dir.string(), mvh::default_plugin_dirs());
        std::vector<float> l, r;
        run.run_until(run.total_samples(), [&](const std::vector<const float*>& b, int n) {
            l.insert(l.end(), b[0], b[0] + n);
            r.insert(r.end(), b[1], b[1] + n);
        });
        return {l, r};
    }
};

TEST_F(AudioFile, AMonoFileAtThePatchRateSoundsOnBothOutputsOnceTimesTheGain) {
    std::vector<float> ramp(1000);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<float>(k) / 1000.0f;
    write_wav("ramp.wav", 44100, 1, ramp);
    auto [l, r] = play("ramp.wav", 5.0, 0.05);
    ASSERT_EQ(l.size(), 2205u);
    for (size_t k = 0; k < 1000; ++k) ASSERT_FLOAT_EQ(l[k], ramp[k] * 0.5f) << k;
    EXPECT_EQ(l, r);
    for (size_t k = 1000; k < l.size(); ++k) ASSERT_EQ(l[k], 0.0f) << "silent after the end, " << k;
}

TEST_F(AudioFile, AStereoFileAtAnotherRateIsResampled) {
    // 0.1 s of 441 Hz at 22.05 kHz: left the sine, right its negative.
    std::vector<float> st;
    for (int k = 0; k < 2205; ++k) {
        const float x = 0.8f * static_cast<float>(std::sin(2 * M_PI * 441.0 * k / 22050.0));
        st.push_back(x);
        st.push_back(-x);
    }
    write_wav("tone.wav", 22050, 2, st);
    auto [l, r] = play((dir / "tone.wav").string(), 10.0, 0.15);
    // Twice as many samples at 44.1 kHz; the middle has the sine's level and frequency.
    double sum = 0, cross = 0;
    int last_sign = 0, zero_crossings = 0;
    for (size_t k = 500; k < 4000; ++k) {
        sum += static_cast<double>(l[k]) * l[k];
        cross += static_cast<double>(l[k]) * r[k];
        const int sign = l[k] > 0 ? 1 : -1;
        if (last_sign && sign != last_sign) ++zero_crossings;
        last_sign = sign;
    }
    EXPECT_NEAR(std::sqrt(sum / 3500), 0.8 / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(cross, -sum, sum * 1e-3) << "right is the negative of left";
    EXPECT_NEAR(zero_crossings, 2 * 441 * 3500 / 44100, 1);
    for (size_t k = 4500; k < l.size(); ++k) ASSERT_EQ(l[k], 0.0f) << k;
}

TEST_F(AudioFile, FilesItCannotUse) {
    try {
        play("missing.wav", 10.0, 0.01);
        ADD_FAILURE() << "a missing file is refused";
    } catch (const mvh::PatchError& e) {
        EXPECT_EQ(std::string(e.what()), "p.json: instances[0].pins.\"File\": pin \"File\": no such file " +
                                             (dir / "missing.wav").string());
    }
    // (What it says is a box the render reports: patch_test.cpp.)
    std::ofstream(dir / "text.wav") << "not a sound";
    auto [l, r] = play("text.wav", 10.0, 0.01);
    for (float x : l) ASSERT_EQ(x, 0.0f);
}

}  // namespace
