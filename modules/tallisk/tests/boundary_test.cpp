// tallisk through the reference host: description, table hand-over, sound at pitch from the
// editor's tables, and the pins that steer it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "generators.h"
#include "host_fixture.h"
#include "level_store.h"
#include "view_link.h"

using namespace tallisk;
using tallisk::test::HostedTallisk;
using tallisk::test::measured_frequency;
using tallisk::test::peak;

namespace {

// The test as view: write a sawtooth into the editor's buffer and commit it.
void commit_sawtooth(HostedTallisk& t) {
    float* edit = t.edit_buffer();
    ASSERT_NE(edit, nullptr);
    generate(Shape::Sawtooth, edit);
    t.send_wave("13,0");
}

}  // namespace

TEST(TalliskModule, DescribesItselfAndItsSixteenPins) {
    HostedTallisk t;
    ASSERT_NE(t.osc, nullptr);
    mvh::Plugin& p = t.osc->plugin();
    EXPECT_EQ(p.name(), "QB_TKMAIN");
    EXPECT_EQ(p.id(), "QB_Tallisk_Wavetable_64");
    EXPECT_EQ(p.module_flags(), 384);
    EXPECT_EQ(p.sdk_version(), 2230);
    const auto& pins = t.osc->pins();
    ASSERT_EQ(pins.size(), 16u);
    const char* names[] = {"wbf_path", "Pitch",   "Morph",     "Wave in",  "FFT in",  "Text In",  "Freq Scale", "Waveform",
                           "Morph Sw.", "Output", "table_ptr", "Wave out", "FFT out", "Text Out", "Settings",   "Menu Caption"};
    const int flags[] = {0x18500, 0x1, 0x1, 0x400, 0x400, 0x400, 0, 0x18400, 0x18400, 0, 0x8500, 0x400, 0x400, 0x400, 0x10500, 0x10400};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(pins[i].name, names[i]);
        EXPECT_EQ(pins[i].flags, flags[i]) << names[i];
    }
    EXPECT_EQ(t.osc->audio_pin_count(), 8);
    EXPECT_EQ(pins[7].extra.substr(0, 22), "Waveform 1,Waveform 2,");
    EXPECT_EQ(pins[7].extra.substr(pins[7].extra.size() - 12), "Waveform 64,");
    EXPECT_EQ(pins[1].default_value, "5");
    EXPECT_EQ(pins[1].extra, "10,0.01,10,0.01");
    EXPECT_EQ(pins[6].extra, "Volt/Octave,Volt/KHz");
}

TEST(TalliskModule, OpensWithTheTableAddressAndAStreamingOutput) {
    HostedTallisk t;
    t.host.open();
    t.host.run_block();
    EXPECT_FALSE(t.osc->value(t.pin("table_ptr")).text.empty());
    EXPECT_EQ(t.osc->panel_width, 50);
    EXPECT_EQ(t.osc->panel_height, 50);
    bool streaming = false;
    for (const auto& s : t.osc->status_log)
        if (s.pin == 6 && s.state == PIN_STREAMING) streaming = true;
    EXPECT_TRUE(streaming);
    // A zero bank plays silence.
    EXPECT_EQ(peak(t.render(4096)), 0.0f);
}

TEST(TalliskModule, PlaysACommittedSawtoothAt440HertzAt5Volts) {
    HostedTallisk t;
    t.host.open();
    t.host.run_block();
    commit_sawtooth(t);
    const std::vector<float> out = t.render(44100);
    EXPECT_LE(peak(out), 0.5f);
    EXPECT_GT(peak(out), 0.49f);
    EXPECT_NEAR(measured_frequency(out, 44100.0), 440.0, 0.01);
}

TEST(TalliskModule, StaticPitchOf10VoltsPlaysAt9Volts) {
    HostedTallisk t;
    t.osc->set_float(t.pin("Pitch"), 1.0f);
    t.host.open();
    t.host.run_block();
    commit_sawtooth(t);
    // 9 V is table index round(0.9f * 16384) = 14746: 13.75 Hz * 2^(10 * 14746 / 16384).
    EXPECT_NEAR(measured_frequency(t.render(44100), 44100.0), 13.75 * std::pow(2.0, 10.0 * 14746 / 16384), 0.05);
}

TEST(TalliskModule, VoltPerKilohertzLawAndOtherFreqScaleValuesKeepIt) {
    HostedTallisk t;
    t.osc->set_float(t.pin("Pitch"), 0.1f);
    t.osc->set_int(t.pin("Freq Scale"), 1);
    t.host.open();
    t.host.run_block();
    commit_sawtooth(t);
    // 1 V is table index round(0.1f * 16384) = 1638.
    const double khz = 10.0 * 1638 / 16384 * 1000.0;
    EXPECT_NEAR(measured_frequency(t.render(44100), 44100.0), khz, 0.02);
    t.osc->set_int(t.pin("Freq Scale"), 2);
    EXPECT_NEAR(measured_frequency(t.render(44100), 44100.0), khz, 0.02);
    t.osc->set_int(t.pin("Freq Scale"), 0);
    EXPECT_NEAR(measured_frequency(t.render(44100), 44100.0), 13.75 * std::pow(2.0, 10.0 * 1638 / 16384), 0.01);
}

// The earlier level choice, octave = round(V), kept every harmonic below half the rate in the
// upper half of each volt (x.5 excluded: it rounds to the even octave) at 44.1 kHz; there the sound
// stays the same to the bit, except where a brighter level fits now (1.5 to 1.65 V, 8.5 to 8.65 V)
// and where the top harmonic lies within 1 % of half the rate, where it now fades out (2.0 and
// 3.0 V). The reference plays the sawtooth's tables with that choice.
TEST(TalliskModule, UpperHalfOfEachVoltPlaysAsTheEarlierLevelChoice) {
    HostedTallisk t;
    t.host.open();
    t.host.run_block();
    commit_sawtooth(t);
    const auto* store = reinterpret_cast<const LevelStore*>(parse_address(t.osc->value(t.pin("table_ptr")).text.c_str()));
    ASSERT_NE(store, nullptr);
    const float* wave = store->published(0);
    // octave -> (offset, shift) of the earlier choice
    const int offsets[10] = {0, 0, 4098, 8196, 10246, 11272, 12298, 12812, 13070, 13328};
    const int shifts[10] = {20, 20, 20, 21, 22, 22, 23, 24, 24, 25};
    constexpr int kSamples = 1024;
    for (int tenth = 6; tenth <= 90; ++tenth) {
        if (tenth % 10 != 0 && tenth % 10 < 6) continue;
        if (tenth == 16) continue;  // below 1.65 V level 0 fits, brighter than the earlier level 1
        if (tenth == 86) continue;  // below 8.65 V four harmonics fit, brighter than the earlier two
        const float p = static_cast<float>(tenth) / 100.0f;  // x.6 .. x+1.0 V
        t.osc->set_float(t.pin("Pitch"), p);
        t.host.run_block();
        t.osc->set_int(t.pin("Waveform"), 0);  // restarts the phase
        const std::vector<float> out = t.render(kSamples);
        const int index = static_cast<int>(std::nearbyint(p * 16384.0f));
        const auto inc = static_cast<uint32_t>(std::nearbyint(std::pow(2.0, 10.0 * index / 16384.0) * 13.75 / 44100.0 * 4294967296.0));
        const int octave = static_cast<int>(std::nearbyint(p * 10.0f));
        if (tenth == 20 || tenth == 30) {
            const int bins[10] = {511, 511, 400, 200, 100, 50, 25, 12, 6, 3};
            EXPECT_GT((bins[octave] - 1) * double(inc), 0.99 * 2147483648.0);  // inside the fade
            continue;
        }
        const float* level = wave + offsets[octave];
        const uint32_t shift = static_cast<uint32_t>(shifts[octave]);
        const float scale = 1.0f / static_cast<float>(1u << shift);
        uint32_t phase = 0;
        for (int i = 0; i < kSamples; ++i, phase += inc) {
            const uint32_t j = phase >> shift;
            const float f = static_cast<float>(phase & ((1u << shift) - 1u)) * scale;
            ASSERT_EQ(out[i], level[j] + (level[j + 1] - level[j]) * f) << "pitch " << p * 10.0f << " V, sample " << i;
        }
    }
}

TEST(TalliskModule, WaveformChangesReachTheSoundAndRestartThePhase) {
    HostedTallisk t;
    t.host.open();
    t.host.run_block();
    commit_sawtooth(t);
    EXPECT_GT(peak(t.render(2048)), 0.4f);
    t.osc->set_int(t.pin("Waveform"), 1);  // an empty waveform
    t.host.run_block();
    EXPECT_EQ(peak(t.render(4096)), 0.0f);
    t.osc->set_int(t.pin("Waveform"), 0);  // back: the editor stored the sawtooth on the way out
    const std::vector<float> out = t.render(1024);
    EXPECT_GT(peak(out), 0.4f);
    // The phase restarted at 0 with the switch: the first sample is the level's sample 0, the
    // same as a fresh start plays.
    const auto* store = reinterpret_cast<const LevelStore*>(parse_address(t.osc->value(t.pin("table_ptr")).text.c_str()));
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(out[0], store->published(0)[11272]);
    EXPECT_NE(out[0], out[1]);
    t.osc->set_int(t.pin("Waveform"), 64);  // outside the bank: silence
    t.host.run_block();
    EXPECT_EQ(peak(t.render(2048)), 0.0f);
}

TEST(TalliskModule, MorphCrossFadesAcrossTheBank) {
    HostedTallisk t;
    t.osc->set_float(t.pin("Morph"), 0.0f);
    t.host.open();
    t.host.run_block();
    commit_sawtooth(t);  // waveform 1: sawtooth; waveform 2: silence
    t.osc->set_int(t.pin("Morph Sw."), 1);
    t.host.run_block();
    // Morph 0 V: the even mix of waveforms 1 and 2, half the sawtooth.
    const std::vector<float> half = t.render(8192);
    EXPECT_LE(peak(half), 0.25f);
    EXPECT_GT(peak(half), 0.245f);
    EXPECT_NEAR(measured_frequency(half, 44100.0), 440.0, 0.05);
    // 10 V glides to waveform 64 alone: silence once settled.
    t.osc->set_float(t.pin("Morph"), 1.0f);
    t.render(4096);
    EXPECT_EQ(peak(t.render(4096)), 0.0f);
}

namespace {

// A 16-waveform bank: sawtooth, then a square twice, the rest silent.
std::string write_wbf(const std::string& path) {
    std::vector<float> samples(16 * 1024, 0.0f);
    generate(Shape::Sawtooth, samples.data());
    generate(Shape::Square, samples.data() + 1024);
    generate(Shape::Square, samples.data() + 2048);
    std::vector<char> names(16 * 16, 0);
    std::strcpy(names.data(), "Saw");
    std::strcpy(names.data() + 16, "Square");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite("WBF ", 1, 4, f);
    std::fwrite(samples.data(), 4, samples.size(), f);
    std::fwrite(names.data(), 1, names.size(), f);
    std::fclose(f);
    return path;
}

std::string temp_dir(const char* name) {
    const std::string dir = std::string(MV_BINARY_DIR) + "/tallisk_" + name;
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace

TEST(TalliskModule, WbfPathLoadsTheBankOnRecall) {
    const std::string bank = write_wbf(temp_dir("recall") + "/two.wbf");
    HostedTallisk t;
    t.osc->set_text(t.pin("wbf_path"), bank);
    t.host.open();
    t.host.run_block();
    EXPECT_EQ(t.osc->value(t.pin("Text Out")).text, "Saw");
    EXPECT_EQ(t.osc->value(t.pin("wbf_path")).text, bank);
    const std::vector<float> out = t.render(44100);
    EXPECT_GT(peak(out), 0.49f);
    EXPECT_NEAR(measured_frequency(out, 44100.0), 440.0, 0.01);
    // The second waveform of the file is the square.
    t.osc->set_int(t.pin("Waveform"), 1);
    EXPECT_EQ(t.osc->value(t.pin("Text Out")).text, "Square");
}

TEST(TalliskModule, MovedBankIsFoundInTheHostFolder) {
    const std::string dir = temp_dir("moved");
    write_wbf(dir + "/moved.wbf");
    mvh::HostConfig config;
    config.host_folder = dir;
    HostedTallisk t(config);
    t.osc->set_text(t.pin("wbf_path"), "D:\\old\\place\\moved.wbf");
    t.host.open();
    t.host.run_block();
    EXPECT_EQ(t.osc->value(t.pin("Text Out")).text, "Saw");
    EXPECT_GT(peak(t.render(4096)), 0.49f);
}

TEST(TalliskModule, MorphSettledOnAWaveformPlaysItExactly) {
    const std::string bank = write_wbf(temp_dir("morph") + "/two.wbf");
    HostedTallisk plain, morph;
    plain.osc->set_text(plain.pin("wbf_path"), bank);
    morph.osc->set_text(morph.pin("wbf_path"), bank);
    // Position 1.5 (Morph = 1.5 / 64): k = 2 (ties to even) with fm = 0, the third waveform alone.
    morph.osc->set_float(morph.pin("Morph"), 1.5f / 64.0f);
    plain.host.open();
    morph.host.open();
    plain.host.run_block();
    morph.host.run_block();
    plain.osc->set_int(plain.pin("Waveform"), 2);
    morph.osc->set_int(morph.pin("Morph Sw."), 1);
    const std::vector<float> a = plain.render(4096);
    const std::vector<float> b = morph.render(4096);
    // After the glide has settled the two play the same samples.
    for (size_t i = 2048; i < a.size(); ++i) ASSERT_EQ(a[i], b[i]) << i;
    EXPECT_GT(peak(a), 0.49f);
}

#if __has_include("mvp/scripted_user.h")
#include "mvp/message_box.h"
#include "mvp/scripted_user.h"

TEST(TalliskModule, OldHostVersionIsToldOnceAndConstructionGoesOn) {
    mvp::ScriptedUser user;
    mvp::ScopedUser scope(&user);
    mvh::HostConfig config;
    config.host_version = 95989;
    HostedTallisk t(config);
    ASSERT_NE(t.osc, nullptr);
    const auto boxes = user.log_of("message_box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]["text"], "Your Morvane version is too old\nfor this version of tallisk!\nPlease update Morvane!");
    EXPECT_EQ(boxes[0]["caption"], "Tallisk");
    user.clear_log();
    mvh::HostConfig current;
    HostedTallisk fine(current);
    EXPECT_TRUE(user.log_of("message_box").empty());
}

TEST(TalliskModule, EditorMessagesReachThePersonThroughThePlatform) {
    mvp::ScriptedUser user;
    mvp::ScopedUser scope(&user);
    HostedTallisk t;
    t.osc->set_text(t.pin("wbf_path"), "/no/such/bank.wb1");
    user.answer_message_box(mvp::IDNO);
    t.host.open();
    const auto boxes = user.log_of("message_box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]["text"], "Could not find file /no/such/bank.wb1.\nWould you like to search manually ?");
    EXPECT_EQ(boxes[0]["caption"], "Error");
    EXPECT_TRUE(user.log_of("open_file").empty());
}
#endif

namespace {

bool all_finite(const std::vector<float>& x) {
    for (float v : x)
        if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

// No NaN or infinity ever leaves the oscillator, whatever a bank file or the view puts into the
// bank: NaN and infinite samples become 0, and a waveform with samples near the float limit plays
// as its normalised shape.
TEST(TalliskModule, NonFiniteOrHugeSamplesNeverReachTheOutput) {
    const float huge = 3.4e38f;
    const struct {
        const char* what;
        float value;
    } cases[] = {{"NaN", std::nanf("")}, {"infinity", INFINITY}, {"-infinity", -INFINITY}, {"3.4e38", huge}};
    const std::string dir = temp_dir("non_finite");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // From a bank file: the sawtooth of waveform 0 with one bad sample.
        const std::string bank = write_wbf(dir + "/bad.wbf");
        {
            std::fstream f(bank, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(4 + 4 * 100);
            f.write(reinterpret_cast<const char*>(&c.value), 4);
        }
        HostedTallisk t;
        t.osc->set_text(t.pin("wbf_path"), bank);
        t.host.open();
        t.host.run_block();
        std::vector<float> out = t.render(8192);
        EXPECT_TRUE(all_finite(out));
        EXPECT_GT(peak(out), 0.4f);
        float* edit = t.edit_buffer();
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit[100], std::isfinite(c.value) ? c.value : 0.0f);

        // From the view: it draws into the edit buffer, then commits.
        generate(Shape::Sawtooth, edit);
        edit[7] = c.value;
        t.send_wave("13,0");
        out = t.render(8192);
        EXPECT_TRUE(all_finite(out));
        EXPECT_GT(peak(out), 0.4f);
        EXPECT_EQ(edit[7], std::isfinite(c.value) ? c.value : 0.0f);
    }
}
