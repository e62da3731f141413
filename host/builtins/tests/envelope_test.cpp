// The ADSR: the envelope core's segment law, and the module's samples and states through the host.
#include "builtin_rig.h"
#include "envelope.h"

namespace {

using mvb::Envelope;
using mvb::EnvelopeSettings;
using mvb_test::Rig;

EnvelopeSettings settings(double a, double d, double s, double r) {
    EnvelopeSettings e;
    e.attack = a;
    e.decay = d;
    e.sustain = s;
    e.release = r;
    return e;
}

TEST(EnvelopeCore, ZeroTimesJumpInOneSample) {
    Envelope env;
    const EnvelopeSettings s = settings(0, 0, 0.25, 0);
    env.gate_on();
    EXPECT_EQ(env.next(s), 1.0);
    EXPECT_EQ(env.next(s), 0.25);
    EXPECT_EQ(env.stage(), Envelope::Stage::Sustain);
    env.gate_off();
    EXPECT_EQ(env.next(s), 0.0);
    EXPECT_EQ(env.stage(), Envelope::Stage::Idle);
    EXPECT_EQ(mvb::segment_samples(-1.0, 44100.0), 0.0);
    EXPECT_EQ(mvb::segment_samples(0.5, 0.0), 0.0);
}

TEST(EnvelopeCore, SustainOutsideItsRangeIsClamped) {
    Envelope env;
    env.gate_on();
    EXPECT_EQ(env.next(settings(0, 0, 3.0, 0)), 1.0);
    EXPECT_EQ(env.next(settings(0, 0, 3.0, 0)), 1.0);
    EXPECT_EQ(env.stage(), Envelope::Stage::Sustain);
    EXPECT_EQ(env.next(settings(0, 0, -1.0, 0)), 0.0);
}

TEST(EnvelopeCore, ATimeChangedInsideASegmentBendsFromTheCurrentLevel) {
    Envelope env;
    env.gate_on();
    for (int k = 0; k < 5; ++k) env.next(settings(10, 10, 0.5, 10));
    EXPECT_EQ(env.level(), 0.5);
    EXPECT_EQ(env.next(settings(100, 10, 0.5, 10)), 0.5 + 0.01);
}

// At 1024 Hz, times of 1/128, 1/64 and 1/32 s (0.078125, 0.15625 and 0.3125 V) give segments
// of 8, 16 and 32 samples per full swing, so every level is exact.
struct AdsrRig : ::testing::Test {
    Rig rig{1024.0f, 128};
    mvh::Instance* env = rig.add("adsr", "env");
    const std::vector<float>* out = nullptr;
    void SetUp() override {
        env->set_float(Rig::pin(env, "Attack"), 1.0f / 128);
        env->set_float(Rig::pin(env, "Decay"), 1.0f / 64);
        env->set_float(Rig::pin(env, "Sustain"), 0.5f);
        env->set_float(Rig::pin(env, "Release"), 1.0f / 32);
        out = &rig.record(env, "Out");
    }
    void gate(int clock, float v) { rig.set_at(env, "Gate", v, clock); }
    // The documented law, written out on its own: sample k of a segment from L is L ± (k+1)·slope.
    static std::vector<float> expected(int on, int off, int total) {
        std::vector<float> e(total, 0.0f);
        const double a = 1.0 / 8, d = 1.0 / 16, r = 1.0 / 32, s = 0.5;
        double level = 0.0, from = 0.0;
        int stage = 0, k = 0;  // 0 idle, 1 attack, 2 decay, 3 sustain, 4 release
        for (int n = 0; n < total; ++n) {
            if (n == on) stage = 1, k = 0, from = level;
            if (n == off && stage != 0) stage = 4, k = 0, from = level;
            ++k;
            if (stage == 1 && (level = from + k * a) >= 1.0) level = 1.0, stage = 2, k = 0, from = 1.0;
            else if (stage == 2 && (level = from - k * d) <= s) level = s, stage = 3;
            else if (stage == 3) level = s;
            else if (stage == 4 && (level = from - k * r) <= 0.0) level = 0.0, stage = 0;
            e[n] = static_cast<float>(level);
        }
        return e;
    }
};

TEST_F(AdsrRig, SamplesFollowTheSegmentLawFromTheGateSample) {
    gate(200, 1.0f);
    gate(300, 0.0f);
    rig.host.run(512);
    const auto e = expected(200, 300, 512);
    for (int n = 0; n < 512; ++n) ASSERT_EQ((*out)[n], e[n]) << n;
    EXPECT_EQ((*out)[199], 0.0f);
    EXPECT_EQ((*out)[200], 0.125f);
    EXPECT_EQ((*out)[207], 1.0f);
    EXPECT_EQ((*out)[215], 0.5f);
    EXPECT_EQ((*out)[300], 0.5f - 1.0f / 32);
    EXPECT_EQ((*out)[315], 0.0f);
}

TEST_F(AdsrRig, AnnouncesStreamingSegmentsAndHeldLevels) {
    gate(200, 1.0f);
    rig.host.run(512);
    const auto states = Rig::states(env, "Out");
    ASSERT_EQ(states.size(), 3u);
    EXPECT_EQ(states[0].state, PIN_CHANGED_ONCE);
    EXPECT_EQ(states[0].clock, 0);
    EXPECT_EQ(states[1].state, PIN_STREAMING);
    EXPECT_EQ(states[1].clock, 200);
    // Eight samples of attack, then eight of decay down to the sustain level.
    EXPECT_EQ(states[2].state, PIN_CHANGED_ONCE);
    EXPECT_EQ(states[2].clock, 215);
    EXPECT_TRUE(env->sleeping());
}

TEST_F(AdsrRig, AGateFromMidiToCvStartsTheAttackOnTheNoteSample) {
    auto* cv = rig.add("midi_to_cv", "cv");
    rig.wire(cv, "Gate", env, "Gate");
    rig.host.open();
    rig.host.queue_midi(cv, Rig::pin(cv, "MIDI In"), 200, 0x90 | 60 << 8 | 100 << 16);
    rig.host.queue_midi(cv, Rig::pin(cv, "MIDI In"), 250, 0x80 | 60 << 8);
    rig.host.run(512);
    const auto e = expected(200, 250, 512);
    for (int n = 0; n < 512; ++n) ASSERT_EQ((*out)[n], e[n]) << n;
}

TEST_F(AdsrRig, ARetriggerDuringReleaseRisesFromWhereItWas) {
    env->set_float(Rig::pin(env, "Release"), 1.0f / 4);  // 256 samples per swing
    gate(130, 1.0f);
    gate(300, 0.0f);
    gate(400, 1.0f);
    rig.host.run(512);
    EXPECT_EQ((*out)[399], 0.5f - 100.0f / 256);
    EXPECT_EQ((*out)[400], 0.5f - 100.0f / 256 + 0.125f);
    EXPECT_LT((*out)[406], 1.0f);
    EXPECT_EQ((*out)[407], 1.0f);
}

TEST_F(AdsrRig, AStreamingGateIsFollowedSampleBySample) {
    auto* lfo = rig.add("lfo", "lfo");
    // A 10 Hz saw as the gate: high while it is above 1 V, about half of each cycle.
    rig.set_volts(lfo, "Rate", 10.0);
    rig.set_volts(lfo, "Amplitude", 10.0);
    lfo->set_int(Rig::pin(lfo, "Shape"), 2);
    rig.wire(lfo, "Out", env, "Gate");
    const auto& gate = rig.record(lfo, "Out");
    rig.host.run(256);
    int first_high = -1, first_low = -1;
    for (int n = 0; n < 256; ++n) {
        if (first_high < 0 && gate[n] > 0.1f) first_high = n;
        if (first_high >= 0 && first_low < 0 && gate[n] <= 0.1f) first_low = n;
    }
    ASSERT_GT(first_high, 0);
    ASSERT_GT(first_low, first_high);
    const auto e = expected(first_high, first_low, 100);
    for (int n = 0; n < 100; ++n) ASSERT_EQ((*out)[n], e[n]) << n;
    EXPECT_EQ(Rig::states(env, "Out")[1].state, PIN_STREAMING);
    EXPECT_EQ(Rig::states(env, "Out")[1].clock, first_high);
}

}  // namespace
