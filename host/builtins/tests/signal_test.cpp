// Constant, VCA, mixer and LFO through the reference host: exact samples, honest states, sleep.
#include "builtin_rig.h"
#include "lfo_wave.h"
#include "mv_testing/test_signal.h"

namespace {

using mvb_test::Rig;

TEST(ConstantThroughVca, EverySampleIsTheExactProduct) {
    Rig rig(48000.0f, 256);
    auto* c = rig.add("constant", "c");
    auto* vca = rig.add("vca", "vca");
    rig.set_volts(c, "Value", 3.0);
    rig.set_volts(vca, "Gain", 7.0);
    rig.wire(c, "Out", vca, "Signal");
    const auto& out = rig.record(vca, "Out");
    rig.host.run(4 * 256);
    const float expected = 0.3f * 0.7f;
    ASSERT_EQ(out.size(), 1024u);
    for (size_t k = 0; k < out.size(); ++k) ASSERT_EQ(out[k], expected) << k;
    // One announcement of a constant output each, and both asleep once their buffers settled.
    ASSERT_EQ(Rig::states(vca, "Out").size(), 1u);
    EXPECT_EQ(Rig::states(vca, "Out")[0].state, PIN_CHANGED_ONCE);
    EXPECT_EQ(Rig::states(vca, "Out")[0].clock, 0);
    EXPECT_TRUE(c->sleeping());
    EXPECT_TRUE(vca->sleeping());
}

TEST(ConstantThroughVca, AChangeInTheMiddleOfABlockLandsOnItsSample) {
    Rig rig(48000.0f, 256);
    auto* c = rig.add("constant", "c");
    auto* vca = rig.add("vca", "vca");
    rig.set_volts(c, "Value", 2.0);
    rig.wire(c, "Out", vca, "Signal");
    const auto& out = rig.record(vca, "Out");
    rig.host.run(512);
    ASSERT_TRUE(vca->sleeping());
    rig.set_volts(c, "Value", -4.0, 700);
    rig.host.run(512);
    for (int k = 0; k < 700; ++k) ASSERT_EQ(out[k], 0.2f * 1.0f) << k;
    for (int k = 700; k < 1024; ++k) ASSERT_EQ(out[k], -0.4f * 1.0f) << k;
    const auto states = Rig::states(vca, "Out");
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[1].clock, 700);
    EXPECT_EQ(states[1].state, PIN_CHANGED_ONCE);
}

// The host fills an unconnected input once and keeps it while its value holds; a change must still
// reach every later sample, whether it lands inside a block or on its first sample.
TEST(UnconnectedInput, HoldsEachValueFromItsSampleOn) {
    Rig rig(48000.0f, 256);
    auto* vca = rig.add("vca", "vca");
    rig.set_volts(vca, "Signal", 2.0);
    const auto& in = rig.record(vca, "Signal");
    rig.host.run(256);
    rig.set_volts(vca, "Signal", -4.0, 300);
    rig.set_volts(vca, "Signal", -1.0, 768);
    rig.host.run(1024);
    ASSERT_EQ(in.size(), 1280u);
    for (int k = 0; k < 300; ++k) ASSERT_EQ(in[k], 0.2f) << k;
    for (int k = 300; k < 768; ++k) ASSERT_EQ(in[k], -0.4f) << k;
    for (int k = 768; k < 1280; ++k) ASSERT_EQ(in[k], -0.1f) << k;
}

TEST(Vca, StreamsTheProductOfAModulatedSignal) {
    Rig rig(1280.0f, 128);
    auto* lfo = rig.add("lfo", "lfo");
    auto* gain = rig.add("constant", "gain");
    auto* vca = rig.add("vca", "vca");
    rig.set_volts(lfo, "Rate", 5.0);
    rig.set_volts(gain, "Value", 2.5);
    rig.wire(lfo, "Out", vca, "Signal");
    rig.wire(gain, "Out", vca, "Gain");
    const auto& sig = rig.record(lfo, "Out");
    const auto& out = rig.record(vca, "Out");
    rig.host.run(512);
    for (size_t k = 0; k < out.size(); ++k) ASSERT_EQ(out[k], sig[k] * 0.25f) << k;
    ASSERT_FALSE(Rig::states(vca, "Out").empty());
    EXPECT_EQ(Rig::states(vca, "Out").back().state, PIN_STREAMING);
    EXPECT_FALSE(vca->sleeping());
}

TEST(Vca, FollowsASourceThatAnnouncesStreamingFromItsOpen) {
    Rig rig(48000.0f, 256);
    std::string err;
    auto* ramp = rig.host.add(mv_testing::test_signal_plugin(), "ramp", {}, &err);
    ASSERT_NE(ramp, nullptr) << err;
    ramp->set_int(mv_testing::kSignalShape, mv_testing::kSaw);
    ramp->set_int(mv_testing::kSignalAnnounce, mv_testing::kAnnounceAtOpen);
    auto* vca = rig.add("vca", "vca");
    rig.set_volts(vca, "Gain", 5.0);
    rig.wire(ramp, "Out", vca, "Signal");
    const auto& out = rig.record(vca, "Out");
    rig.host.run(512);
    for (int k = 0; k < 512; ++k) ASSERT_EQ(out[k], static_cast<float>(k % 100) / 128.0f * 0.5f) << k;
    EXPECT_EQ(Rig::states(vca, "Out").back().state, PIN_STREAMING);
}

TEST(Vca, AStaticZeroGainSilencesAStreamingSignalAndSleeps) {
    Rig rig(1280.0f, 128);
    auto* lfo = rig.add("lfo", "lfo");
    auto* vca = rig.add("vca", "vca");
    rig.set_volts(vca, "Gain", 0.0);
    rig.wire(lfo, "Out", vca, "Signal");
    const auto& out = rig.record(vca, "Out");
    rig.host.run(512);
    for (float v : out) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(Rig::states(vca, "Out").back().state, PIN_CHANGED_ONCE);
    EXPECT_TRUE(vca->sleeping());
}

TEST(Mixer, SumsThreeWiredInputsInPinOrder) {
    Rig rig(48000.0f, 256);
    auto* a = rig.add("constant", "a");
    auto* b = rig.add("constant", "b");
    auto* lfo = rig.add("lfo", "lfo");
    auto* mix = rig.add("mixer", "mix");
    rig.set_volts(a, "Value", 1.0);
    rig.set_volts(b, "Value", -2.5);
    rig.wire(a, "Out", mix, "In");
    rig.wire(b, "Out", mix, "In");
    rig.wire(lfo, "Out", mix, "In");
    // Three wired, plus the spare that the last wire opened.
    int ins = 0;
    for (const auto& p : mix->pins()) ins += p.name == "In";
    EXPECT_EQ(ins, 4);
    const auto& l = rig.record(lfo, "Out");
    const auto& out = rig.record(mix, "Out");
    rig.host.run(1024);
    for (size_t k = 0; k < out.size(); ++k) {
        const float expected = ((0.0f + 0.1f) + -0.25f) + l[k] + 0.0f;
        ASSERT_EQ(out[k], expected) << k;
    }
    EXPECT_EQ(Rig::states(mix, "Out").back().state, PIN_STREAMING);
}

TEST(Mixer, StaticInputsGiveAHeldSumAndSleep) {
    Rig rig(48000.0f, 256);
    auto* a = rig.add("constant", "a");
    auto* b = rig.add("constant", "b");
    auto* c = rig.add("constant", "c");
    auto* mix = rig.add("mixer", "mix");
    rig.set_volts(a, "Value", 1.0);
    rig.set_volts(b, "Value", 2.0);
    rig.set_volts(c, "Value", 4.0);
    rig.wire(a, "Out", mix, "In");
    rig.wire(b, "Out", mix, "In");
    rig.wire(c, "Out", mix, "In");
    const auto& out = rig.record(mix, "Out");
    rig.host.run(768);
    const float expected = ((0.0f + 0.1f) + 0.2f) + 0.4f;
    for (float v : out) ASSERT_EQ(v, expected);
    EXPECT_TRUE(mix->sleeping());
    // One input changes: the sum follows at that sample and the mixer wakes for it.
    rig.set_volts(b, "Value", 0.0, 900);
    rig.host.run(512);
    for (int k = 768; k < 900; ++k) ASSERT_EQ(out[k], expected) << k;
    for (int k = 900; k < 1280; ++k) ASSERT_EQ(out[k], (0.0f + 0.1f) + 0.0f + 0.4f) << k;
}

TEST(Lfo, PeriodIsExactWhenTheStepIsABinaryFraction) {
    // 5 Hz at 1280 Hz: a step of 1/256 of a cycle, exact in double.
    for (int shape = 0; shape < 3; ++shape) {
        Rig rig(1280.0f, 100);
        auto* lfo = rig.add("lfo", "lfo");
        rig.set_volts(lfo, "Rate", 5.0);
        rig.set_volts(lfo, "Amplitude", 10.0);
        lfo->set_int(Rig::pin(lfo, "Shape"), shape);
        const auto& out = rig.record(lfo, "Out");
        rig.host.run(1024);
        for (int k = 0; k + 256 < 1024; ++k) ASSERT_EQ(out[k], out[k + 256]) << "shape " << shape << " at " << k;
        EXPECT_EQ(out[0], 0.0f);
        EXPECT_GT(out[1], 0.0f);
    }
}

TEST(Lfo, ShapesHaveTheirDocumentedCorners) {
    Rig rig(1280.0f, 256);
    auto* lfo = rig.add("lfo", "lfo");
    rig.set_volts(lfo, "Rate", 5.0);
    rig.set_volts(lfo, "Amplitude", 5.0);
    lfo->set_int(Rig::pin(lfo, "Shape"), 1);
    const auto& out = rig.record(lfo, "Out");
    rig.host.run(256);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[64], 0.5f);
    EXPECT_EQ(out[128], 0.0f);
    EXPECT_EQ(out[192], -0.5f);
    EXPECT_EQ(out[32], 0.25f);
}

TEST(Lfo, OneVoltIsOneHertz) {
    Rig rig(44100.0f, 1024);
    auto* lfo = rig.add("lfo", "lfo");
    const auto& out = rig.record(lfo, "Out");
    rig.host.run(3 * 44100 + 100);
    std::vector<int> rising;
    for (size_t k = 1; k < out.size(); ++k)
        if (out[k - 1] < 0.0f && out[k] >= 0.0f) rising.push_back(static_cast<int>(k));
    ASSERT_EQ(rising.size(), 3u);
    for (size_t i = 1; i < rising.size(); ++i) EXPECT_NEAR(rising[i] - rising[i - 1], 44100, 1);
    EXPECT_NEAR(rising[0], 44100, 1);
}

TEST(Lfo, ShapeChangeKeepsThePhase) {
    Rig rig(1280.0f, 128);
    auto* lfo = rig.add("lfo", "lfo");
    rig.set_volts(lfo, "Rate", 5.0);
    rig.set_volts(lfo, "Amplitude", 10.0);
    const auto& out = rig.record(lfo, "Out");
    rig.host.run(128);
    lfo->set_int(Rig::pin(lfo, "Shape"), 2, 160);
    rig.host.run(128);
    EXPECT_EQ(out[159], static_cast<float>(mvb::lfo_wave(mvb::LfoShape::Sine, 159 / 256.0)));
    EXPECT_EQ(out[160], static_cast<float>(mvb::lfo_wave(mvb::LfoShape::Saw, 160 / 256.0)));
}

TEST(Lfo, RateZeroHoldsAndSleepsUntilItMovesAgain) {
    Rig rig(1280.0f, 128);
    auto* lfo = rig.add("lfo", "lfo");
    rig.set_volts(lfo, "Rate", 0.0);
    const auto& out = rig.record(lfo, "Out");
    rig.host.run(512);
    for (float v : out) ASSERT_EQ(v, 0.0f);
    EXPECT_TRUE(lfo->sleeping());
    rig.set_volts(lfo, "Rate", 5.0, 600);
    rig.host.run(256);
    EXPECT_FALSE(lfo->sleeping());
    EXPECT_EQ(out[599], 0.0f);
    EXPECT_EQ(out[600], 0.0f);
    EXPECT_EQ(out[601], static_cast<float>(0.5 * mvb::lfo_wave(mvb::LfoShape::Sine, 1 / 256.0)));
    EXPECT_EQ(Rig::states(lfo, "Out").back().state, PIN_STREAMING);
    EXPECT_EQ(Rig::states(lfo, "Out").back().clock, 600);
}

TEST(Lfo, AnUnknownShapeChoicePlaysTheSine) {
    Rig rig(1280.0f, 256);
    auto* lfo = rig.add("lfo", "lfo");
    rig.set_volts(lfo, "Rate", 5.0);
    lfo->set_int(Rig::pin(lfo, "Shape"), 7);
    const auto& out = rig.record(lfo, "Out");
    rig.host.run(256);
    EXPECT_EQ(out[64], 0.5f);
    EXPECT_EQ(out[10], static_cast<float>(0.5 * mvb::lfo_wave(mvb::LfoShape::Sine, 10 / 256.0)));
}

}  // namespace
