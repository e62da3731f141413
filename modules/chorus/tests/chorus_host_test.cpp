// The chorus plug-in driven through the reference host: its description, exact delays at 44.1, 96
// and 384 kHz, both feedback modes, the process-function choice, Active and reallocation.
#include "mvhost/host.h"
#include "mv_testing/host_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

const std::string kChorus = std::string(MV_PLUGIN_DIR) + "/chorus.so";
using mv_testing::kImpulse;
using mv_testing::kRamp;
using mv_testing::kSine;
using mv_testing::kSteps;
using mv_testing::TestSignalShape;

enum Pin { kAudioIn, kPreDelay, kModulation, kDepth, kFeedback, kOut, kMaxDelay, kFeedbackMode, kActive, kDelayMode };

// One chorus, optionally fed by test sources, with its output collected block by block.
struct Rig : mv_testing::HostRig {
    explicit Rig(float rate = 44100.0f, int block = 64)
        : HostRig(rate, block), rate(rate), chorus(add("chorus", "chorus")), output(record(chorus, kOut)) {}
    mvh::Instance* feed(int pin, TestSignalShape shape, float scale = 1.0f) { return HostRig::feed(chorus, pin, shape, scale); }
    // Delays in whole samples: the ms mode with a scale of rate / 100 per delivered unit.
    void delay_samples_ms(float delivered) {
        chorus->set_int(kDelayMode, 1);
        chorus->set_float(kPreDelay, delivered);
    }
    // A whole number of samples, with a margin against the rounding of the delivered value.
    void delay_of(int samples) { delay_samples_ms((static_cast<float>(samples) + 0.25f) / (rate * 0.01f)); }
    // An impulse that comes back every `period` samples without decay: full feedback (+10 V) into
    // the pre-delay.
    void echo_impulse(int period) {
        feed(kAudioIn, kImpulse);
        delay_of(period);
        chorus->set_int(kFeedbackMode, 0);
        chorus->set_float(kFeedback, 1.0f);
    }
    std::vector<float>& render(int samples) {
        host.run(samples);
        return output;
    }
    float ramp(int t) const { return static_cast<float>(t) / 4096.0f; }

    float rate;
    mvh::Instance* chorus;
    std::vector<float>& output;
};

}  // namespace

TEST(ChorusDescription, NamesIdAboutAndPinsAsAModuleBrowserShowsThem) {
    std::string error;
    auto plugin = mvh::Plugin::load(kChorus, &error);
    ASSERT_NE(plugin, nullptr) << error;
    EXPECT_EQ(plugin->name(), "WN_1V_Chorus2");
    EXPECT_EQ(plugin->id(), "1V_Chorus_WN2003_Pro");
    EXPECT_EQ(plugin->sdk_version(), 2230);
    EXPECT_EQ(plugin->module_flags(), 0);
    EXPECT_EQ(plugin->about().rfind("1 Voice Chorus Engine\nVer:2.0\n\nFeedback to Pre_Delay allows use as standard delay\n\nFeatures:\n", 0), 0u);
    EXPECT_NE(plugin->about().find("\n   PreDly: Feeds back to Pre_Delay1 allows chorused echo Fx\n"), std::string::npos);
    EXPECT_TRUE(plugin->about().ends_with("\nSupport to 384Khz\nAdaptive Processing"));

    Rig rig;
    const auto& pins = rig.chorus->pins();
    ASSERT_EQ(pins.size(), 10u);
    struct Expect { const char* name; int direction, datatype; const char* def; const char* extra; int flags; };
    const Expect expected[] = {
        {"Audio_In", DR_IN, DT_FSAMPLE, "0", "", 0x200},
        {"Pre_Dly1", DR_IN, DT_FSAMPLE, "0.010", "", 0},
        {"Mod_1 +/-5", DR_IN, DT_FSAMPLE, "-5.0", "5,-5,5,-5", 0},
        {"Mod Depth(ms:100)", DR_IN, DT_FSAMPLE, "4", "100,0,100,0", 0},
        {"FBK (Cho1) +/-10", DR_IN, DT_FSAMPLE, "0", "10,-10,10,-10", 0},
        {"Cho_Out1", DR_OUT, DT_FSAMPLE, "", "", 0},
        {"Max Pre Delay(s)", DR_PARAMETER, DT_ENUM, "4", "10.800=0,5.300,2.600,1.200,0.500,0.200,0.050", 0},
        {"FBK Mode", DR_IN, DT_ENUM, "1", "PreDly,Chorus", 0},
        {"Active", DR_IN, DT_ENUM, "1", "OFF,ON", 0},
        {"Pre_Dly Mode", DR_IN, DT_ENUM, "0", "Time(s),Time(ms)", 0},
    };
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pins[i].name, expected[i].name);
        EXPECT_EQ(pins[i].direction, expected[i].direction);
        EXPECT_EQ(pins[i].datatype, expected[i].datatype);
        EXPECT_EQ(pins[i].default_value, expected[i].def);
        EXPECT_EQ(pins[i].extra, expected[i].extra);
        EXPECT_EQ(pins[i].flags, expected[i].flags);
        EXPECT_EQ(pins[i].audio_index, i);
    }
}

TEST(ChorusDescription, OtherIndicesAndKindsAreRefused) {
    std::string error;
    auto plugin = mvh::Plugin::load(kChorus, &error);
    ASSERT_NE(plugin, nullptr) << error;
    MVModuleProperties p{};
    EXPECT_EQ(plugin->get_module_properties()(1, &p), 0);
    EXPECT_EQ(p.name, nullptr);
    EXPECT_EQ(plugin->make_module()(1, 1, nullptr, 0), nullptr);
    EXPECT_EQ(plugin->make_module()(0, 3, nullptr, 0), nullptr);
    Rig rig;
    MVPinProperties pin{};
    EXPECT_EQ(rig.chorus->dispatch(MD_PIN_PROPERTIES, 10, 0, &pin), 0);
    EXPECT_EQ(rig.chorus->dispatch(MD_PIN_PROPERTIES, -1, 0, &pin), 0);
    EXPECT_NE(rig.chorus->gui(), nullptr);
}

TEST(ChorusDelay, DefaultTenMillisecondsInSecondsModeAre441Samples) {
    Rig rig;
    rig.feed(kAudioIn, kRamp);
    const auto& out = rig.render(1024);
    for (int i = 0; i < 441; ++i) ASSERT_EQ(out[i], 0.0f) << i;
    for (int i = 441; i < 1024; ++i) ASSERT_EQ(out[i], rig.ramp(i - 441)) << i;
}

class ChorusAtRate : public ::testing::TestWithParam<float> {};

TEST_P(ChorusAtRate, TenMillisecondsInMsModeAreExactlyOneHundredthOfTheRate) {
    const float rate = GetParam();
    const int delay = static_cast<int>(rate / 100.0f);
    Rig rig(rate, 256);
    rig.feed(kAudioIn, kRamp);
    rig.delay_samples_ms(1.0f);  // 10 V: 10 ms
    const auto& out = rig.render(delay + 2000);
    for (int i = 0; i < delay; ++i) ASSERT_EQ(out[i], 0.0f) << i;
    for (int i = delay; i < delay + 2000; ++i) ASSERT_EQ(out[i], rig.ramp(i - delay)) << i;
}

TEST_P(ChorusAtRate, FullPreDelayFeedbackEchoesWithoutDecay) {
    const float rate = GetParam();
    const int period = static_cast<int>(rate / 100.0f);
    Rig rig(rate, 256);
    rig.feed(kAudioIn, kImpulse, 0.5f);
    rig.delay_samples_ms(1.0f);
    rig.chorus->set_int(kFeedbackMode, 0);
    rig.chorus->set_float(kFeedback, 1.0f);  // +10
    const auto& out = rig.render(period * 6 + 10);
    for (int i = 0; i < static_cast<int>(out.size()); ++i)
        ASSERT_EQ(out[i], i > 0 && i % period == 0 ? 0.5f : 0.0f) << i;
}

TEST_P(ChorusAtRate, BufferSizeFollowsTheRate) {
    // Choice 6 holds 8192 entries up to 48 kHz, doubled per threshold: a pre-delay of 190 ms
    // (19 * rate / 100 samples) is longer than the buffer and reads that many samples modulo it.
    const float rate = GetParam();
    const int size = 8192 * (rate > 48000.0f ? 2 : 1) * (rate > 96000.0f ? 2 : 1) * (rate > 192000.0f ? 2 : 1);
    const int delay = static_cast<int>(19.0f * rate / 100.0f) % size;
    Rig rig(rate, 256);
    rig.feed(kAudioIn, kRamp);
    rig.chorus->set_int(kMaxDelay, 6);
    rig.delay_samples_ms(19.0f);
    const auto& out = rig.render(delay + 1000);
    for (int i = delay; i < delay + 1000; ++i) ASSERT_EQ(out[i], rig.ramp(i - delay)) << i;
}

INSTANTIATE_TEST_SUITE_P(Rates, ChorusAtRate, ::testing::Values(44100.0f, 96000.0f, 384000.0f));

TEST(ChorusDelay, ZeroPreDelayPassesTheInputThrough) {
    Rig rig;
    rig.feed(kAudioIn, kSine);
    rig.chorus->set_float(kPreDelay, 0.0f);
    const auto& out = rig.render(500);
    for (int i = 0; i < 500; ++i)
        ASSERT_FLOAT_EQ(out[i], 0.5f * std::sin(6.2831853f * static_cast<float>(i % 100) / 100.0f)) << i;
}

TEST(ChorusDelay, LargestChoiceHolds524288EntriesAt44k1And1048576At96k) {
    // 11890 ms at 44.1 kHz are 524349 samples: one buffer of 524288 plus 61.
    {
        Rig rig(44100.0f, 256);
        rig.feed(kAudioIn, kRamp);
        rig.chorus->set_int(kMaxDelay, 0);
        rig.delay_samples_ms(1189.0f);
        const auto& out = rig.render(600);
        for (int i = 61; i < 600; ++i) ASSERT_EQ(out[i], rig.ramp(i - 61)) << i;
    }
    // 10930 ms at 96 kHz are 1049280 samples: one buffer of 1048576 plus 704.
    {
        Rig rig(96000.0f, 256);
        rig.feed(kAudioIn, kRamp);
        rig.chorus->set_int(kMaxDelay, 0);
        rig.delay_samples_ms(1093.0f);
        const auto& out = rig.render(2000);
        for (int i = 0; i < 704; ++i) ASSERT_EQ(out[i], 0.0f) << i;
        for (int i = 704; i < 2000; ++i) ASSERT_EQ(out[i], rig.ramp(i - 704)) << i;
    }
}

TEST(ChorusModulation, InterpolatesBetweenTheTwoTaps) {
    // +5 V sweeps to the whole depth; 1 V of depth at 44.1 kHz is 44.1 samples, so the read point
    // lies a tenth of the way from 44 to 45 samples behind the pre-delay.
    Rig rig;
    rig.feed(kAudioIn, kRamp);
    rig.delay_samples_ms(0.0f);
    rig.chorus->set_float(kModulation, 0.5f);
    rig.chorus->set_float(kDepth, 0.1f);
    const auto& out = rig.render(400);
    for (int i = 50; i < 400; ++i) ASSERT_NEAR(out[i], rig.ramp(i) - 44.1f / 4096.0f, 1e-6f) << i;
}

TEST(ChorusModulation, StreamingDepthIsFollowedPerSample) {
    // Depth steps 0, 1, 2 V per sample; with modulation at +5 V the read point moves 0, 44.1 and
    // 88.2 samples back with it.
    Rig rig;
    rig.feed(kAudioIn, kRamp);
    rig.feed(kDepth, kSteps, 0.1f);
    rig.delay_samples_ms(0.0f);
    rig.chorus->set_float(kModulation, 0.5f);
    const auto& out = rig.render(600);
    for (int i = 200; i < 600; ++i) {
        const float back = 44.1f * static_cast<float>(i % 3) / 4096.0f;
        ASSERT_NEAR(out[i], rig.ramp(i) - back, 2e-6f) << i;
    }
}

TEST(ChorusFeedback, FlangerFeedsOnlyTheModulatedPart) {
    // 100 samples of pre-delay and 44.1 of modulation: the first pass arrives after 144.1 samples,
    // every repeat only 44.1 later, halved each time.
    Rig rig;
    rig.feed(kAudioIn, kImpulse);
    rig.delay_of(100);
    rig.chorus->set_float(kModulation, 0.5f);
    rig.chorus->set_float(kDepth, 0.1f);
    rig.chorus->set_int(kFeedbackMode, 1);
    rig.chorus->set_float(kFeedback, 0.5f);
    const auto& out = rig.render(1500);
    // Each pass smears the impulse over one more sample.
    auto energy_near = [&](int at) { return out[at] + out[at + 1] + out[at + 2] + out[at + 3]; };
    EXPECT_NEAR(energy_near(144), 1.0f, 1e-5f);
    EXPECT_NEAR(energy_near(188), 0.5f, 1e-5f);
    EXPECT_NEAR(energy_near(232), 0.25f, 1e-5f);
    float total = 0.0f;
    for (float y : out) total += y;
    EXPECT_NEAR(total, 2.0f, 1e-4f);  // 1 + 1/2 + 1/4 + ... and nothing else
    // In "PreDly" mode the same settings repeat the whole 144.1 samples.
    Rig echo;
    echo.feed(kAudioIn, kImpulse);
    echo.delay_of(100);
    echo.chorus->set_float(kModulation, 0.5f);
    echo.chorus->set_float(kDepth, 0.1f);
    echo.chorus->set_int(kFeedbackMode, 0);
    echo.chorus->set_float(kFeedback, 0.5f);
    const auto& e = echo.render(400);
    EXPECT_NEAR(e[188] + e[189], 0.0f, 1e-6f);
    float near_289 = 0.0f;
    for (int i = 286; i < 292; ++i) near_289 += e[i];
    EXPECT_NEAR(near_289, 0.5f, 1e-5f);
}

TEST(ChorusFeedback, StreamingFeedbackIsAppliedPerSample) {
    Rig rig;
    rig.feed(kAudioIn, kImpulse);
    rig.feed(kFeedback, kSteps, 0.5f);  // 0, 0.5, 1.0, 0, ...
    rig.delay_of(100);
    rig.chorus->set_int(kFeedbackMode, 0);
    const auto& out = rig.render(500);
    EXPECT_EQ(out[100], 1.0f);
    EXPECT_EQ(out[200], 0.5f);  // fed back at sample 100: 100 % 3 == 1
    EXPECT_EQ(out[300], 0.5f);  // at 200: 200 % 3 == 2, full
    EXPECT_EQ(out[400], 0.0f);  // at 300: 300 % 3 == 0, none
}

TEST(ChorusFeedback, ChangingTheModeSwitchesTheTargetAtTheEvent) {
    Rig rig;
    rig.echo_impulse(100);
    rig.render(150);
    EXPECT_EQ(rig.output[100], 1.0f);
    // From "PreDly" to "Chorus" with no modulation: the repeat now lands on the read point itself
    // and so sounds on every sample after the next pass.
    rig.chorus->set_int(kFeedbackMode, 1);
    const auto& out = rig.render(150);
    EXPECT_EQ(out[200], 1.0f);
    EXPECT_EQ(out[250], 0.0f);
}

TEST(ChorusActive, OffWritesSilenceAndSleepsAfterABlocksWorth) {
    Rig rig(44100.0f, 64);
    rig.feed(kAudioIn, kRamp);
    rig.delay_samples_ms(0.0f);
    rig.render(128);
    EXPECT_EQ(rig.output[127], rig.ramp(127));
    const int changes = rig.chorus->process_changes;
    rig.chorus->set_int(kActive, 0, 150);  // mid-block
    rig.render(64);
    EXPECT_GT(rig.chorus->process_changes, changes);
    EXPECT_EQ(rig.output[149], rig.ramp(149));
    for (int i = 150; i < 192; ++i) ASSERT_EQ(rig.output[i], 0.0f) << i;
    EXPECT_FALSE(rig.chorus->sleeping());
    rig.render(64);  // 42 + 64 samples since the switch: more than a block
    EXPECT_TRUE(rig.chorus->sleeping());
    const auto& log = rig.chorus->status_log;
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().pin, kOut);
    EXPECT_EQ(log.back().state, PIN_CHANGED_ONCE);
    EXPECT_EQ(log.back().clock, 150);
    for (int i = 192; i < 256; ++i) ASSERT_EQ(rig.output[i], 0.0f) << i;
}

// An impulse echoing every 100 samples, 256 samples in: the line holds sound that a restart must
// clear and a kept line must go on playing.
struct ChorusEcho : ::testing::Test {
    Rig rig;
    void SetUp() override {
        rig.echo_impulse(100);
        rig.render(256);
        ASSERT_EQ(rig.output[200], 1.0f);
    }
};

TEST_F(ChorusEcho, SwitchingBackOnStartsFromSilence) {
    rig.chorus->set_int(kActive, 0);
    rig.render(256);
    EXPECT_TRUE(rig.chorus->sleeping());
    rig.chorus->set_int(kActive, 1);
    const auto& out = rig.render(512);
    EXPECT_FALSE(rig.chorus->sleeping());
    for (int i = 512; i < 1024; ++i) ASSERT_EQ(out[i], 0.0f) << i;  // the echo did not survive
    const auto& log = rig.chorus->status_log;
    EXPECT_EQ(log.back().pin, kOut);
    EXPECT_EQ(log.back().state, PIN_STREAMING);
    EXPECT_EQ(log.back().clock, 512);
}

TEST(ChorusActive, StartingSwitchedOffNeverAllocatesAndSleeps) {
    Rig rig(44100.0f, 64);
    rig.feed(kAudioIn, kRamp);
    rig.chorus->set_int(kActive, 0);
    rig.render(256);
    EXPECT_TRUE(rig.chorus->sleeping());
    for (float y : rig.output) ASSERT_EQ(y, 0.0f);
}

TEST_F(ChorusEcho, ChangingMaxPreDelayReallocatesAndClearsTheLine) {
    rig.chorus->set_int(kMaxDelay, 5);
    const auto& out = rig.render(512);
    for (int i = 256; i < 768; ++i) ASSERT_EQ(out[i], 0.0f) << i;
}

TEST_F(ChorusEcho, WakeWhileActiveStartsFromSilence) {
    rig.chorus->dispatch(MD_WAKE);
    const auto& out = rig.render(512);
    for (int i = 256; i < 768; ++i) ASSERT_EQ(out[i], 0.0f) << i;
}

TEST_F(ChorusEcho, ReselectingTheSameChoiceKeepsTheLine) {
    rig.chorus->set_int(kMaxDelay, 4);
    const auto& out = rig.render(256);
    EXPECT_EQ(out[300], 1.0f);
    EXPECT_EQ(out[400], 1.0f);
}

TEST(ChorusBadValues, NonFiniteAndHugeControlsKeepTheOutputFinite) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int pin : {kPreDelay, kModulation, kDepth, kFeedback}) {
        for (float bad : {nan, inf, -inf, 1.0e30f, -1.0e30f}) {
            Rig rig(44100.0f, 64);
            rig.feed(kAudioIn, kSine);
            rig.chorus->set_float(kModulation, 0.2f);
            rig.chorus->set_float(kFeedback, 0.5f);
            rig.render(128);
            rig.chorus->set_float(pin, bad);
            rig.render(4096);
            rig.chorus->set_float(pin, pin == kFeedback ? 0.5f : 0.1f);
            const auto& out = rig.render(4096);
            for (size_t i = 0; i < out.size(); ++i) ASSERT_TRUE(std::isfinite(out[i])) << pin << " " << bad << " " << i;
        }
    }
}

TEST(ChorusBadValues, ChoiceOutsideTheListUsesTheNearestSize) {
    Rig rig(44100.0f, 256);
    rig.feed(kAudioIn, kRamp);
    rig.chorus->set_int(kMaxDelay, 99);
    rig.delay_samples_ms(20.0f);  // 200 ms: 8820 samples, 628 past the 8192 of the last choice
    const auto& out = rig.render(1500);
    for (int i = 628; i < 1500; ++i) ASSERT_EQ(out[i], rig.ramp(i - 628)) << i;
}

TEST(ChorusBadValues, NullCallbackCreatesNoPinsAndDoesNotCrash) {
    mvh::Host host;
    mvh::InstanceOptions options;
    options.null_callback = true;
    mvh::Instance* chorus = host.add(kChorus, "chorus", options);
    ASSERT_NE(chorus, nullptr);
    host.run(256);
    EXPECT_FALSE(chorus->sleeping());
}
