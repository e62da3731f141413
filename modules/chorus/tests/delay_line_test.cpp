// The delay line on its own: buffer sizes, exact delays, interpolation, both feedback targets,
// the denormal step, and bad control values that must stay inside the buffer.
#include "delay_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using chorus::Block;
using chorus::DelayLine;
using chorus::Feedback;

namespace {

constexpr float kRate = 44100.0f;
constexpr float kMsScale = 441.0f;  // samples per delivered depth unit at 44.1 kHz
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

enum class Variant { kPlain, kEcho, kFlange, kStreamingEcho, kStreamingFlange };

// Control streams held constant unless a test overwrites them; `delay_scale` 1 makes the delivered
// pre-delay a number of samples.
struct Streams {
    explicit Streams(int n, float pre_delay = 0.0f, float modulation = -0.5f, float depth = 0.0f,
                     float feedback = 0.0f)
        : input(n, 0.0f), pre_delay(n, pre_delay), modulation(n, modulation), depth(n, depth),
          feedback(n, feedback), output(n, -99.0f) {}
    std::vector<float> input, pre_delay, modulation, depth, feedback, output;
    float delay_scale = 1.0f;
    float depth_scale = kMsScale;
};

void run(DelayLine& line, Streams& s, Variant v, int block = 64) {
    const int n = static_cast<int>(s.input.size());
    for (int at = 0; at < n; at += block) {
        Block b;
        b.input = s.input.data() + at;
        b.pre_delay = s.pre_delay.data() + at;
        b.modulation = s.modulation.data() + at;
        b.depth = s.depth.data() + at;
        b.feedback = s.feedback.data() + at;
        b.output = s.output.data() + at;
        b.count = std::min(block, n - at);
        b.delay_scale = s.delay_scale;
        b.depth_scale = s.depth_scale;
        switch (v) {
        case Variant::kPlain: line.process_plain(b); break;
        case Variant::kEcho: line.process_echo(b); break;
        case Variant::kFlange: line.process_flange(b); break;
        case Variant::kStreamingEcho: line.process_streaming_depth(b, Feedback::kPreDelay); break;
        case Variant::kStreamingFlange: line.process_streaming_depth(b, Feedback::kChorus); break;
        }
    }
}

DelayLine make_line(int choice = 6, float rate = kRate) {
    DelayLine line;
    EXPECT_TRUE(line.allocate(choice, rate));
    return line;
}

void expect_all_finite(const DelayLine& line) {
    for (uint32_t i = 0; i < line.size(); ++i) ASSERT_TRUE(std::isfinite(line.data()[i])) << "entry " << i;
}

}  // namespace

TEST(DelayLineSize, FollowsChoiceAndDoublesPerRateThreshold) {
    EXPECT_EQ(chorus::entries_for(0, 44100.0f), 524288u);
    EXPECT_EQ(chorus::entries_for(0, 96000.0f), 1048576u);
    EXPECT_EQ(chorus::entries_for(0, 384000.0f), 4194304u);
    const uint32_t at48k[] = {524288, 262144, 131072, 65536, 32768, 16384, 8192};
    for (int c = 0; c < chorus::kChoiceCount; ++c) {
        EXPECT_EQ(chorus::entries_for(c, 48000.0f), at48k[c]);
        EXPECT_EQ(chorus::entries_for(c, 48001.0f), 2 * at48k[c]);
        EXPECT_EQ(chorus::entries_for(c, 96001.0f), 4 * at48k[c]);
        EXPECT_EQ(chorus::entries_for(c, 192000.0f), 4 * at48k[c]);
        EXPECT_EQ(chorus::entries_for(c, 192001.0f), 8 * at48k[c]);
    }
}

TEST(DelayLineSize, EveryChoiceHoldsItsLabelPlusFullDepthUpTo384k) {
    const double labels[] = {10.8, 5.3, 2.6, 1.2, 0.5, 0.2, 0.05};
    for (float rate : {22050.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f, 176400.0f, 192000.0f, 384000.0f})
        for (int c = 0; c < chorus::kChoiceCount; ++c)
            EXPECT_GE(chorus::entries_for(c, rate), (labels[c] + 0.1) * rate + 2) << c << " at " << rate;
}

TEST(DelayLineSize, ChoiceOutsideTheListUsesTheNearestOne) {
    EXPECT_EQ(chorus::entries_for(-3, 44100.0f), 524288u);
    EXPECT_EQ(chorus::entries_for(7, 44100.0f), 8192u);
    EXPECT_EQ(chorus::entries_for(32767, 44100.0f), 8192u);
}

TEST(DelayLineBuffer, AllocationZeroesAndResetsWritePosition) {
    DelayLine line = make_line();
    EXPECT_EQ(line.size(), 8192u);
    EXPECT_EQ(line.mask(), 8191u);
    Streams s(100, 3.0f);
    for (auto& x : s.input) x = 1.0f;
    run(line, s, Variant::kPlain);
    EXPECT_NE(line.write_pos(), 0u);

    ASSERT_TRUE(line.allocate(5, kRate));
    EXPECT_EQ(line.size(), 16384u);
    EXPECT_EQ(line.write_pos(), 0u);
    for (uint32_t i = 0; i < line.size(); ++i) ASSERT_EQ(line.data()[i], 0.0f);
}

TEST(DelayLineBuffer, ClearSilencesButKeepsWritePosition) {
    DelayLine line = make_line();
    Streams s(100, 3.0f);
    for (auto& x : s.input) x = 1.0f;
    run(line, s, Variant::kPlain);
    const uint32_t pos = line.write_pos();
    line.clear();
    EXPECT_EQ(line.write_pos(), pos);
    for (uint32_t i = 0; i < line.size(); ++i) ASSERT_EQ(line.data()[i], 0.0f);
}

TEST(DelayLineBuffer, WithoutBufferTheLoopsWriteSilence) {
    DelayLine line;
    Streams s(64, 3.0f);
    for (auto& x : s.input) x = 1.0f;
    run(line, s, Variant::kEcho);
    for (float y : s.output) EXPECT_EQ(y, 0.0f);
}

TEST(DelayLineDelay, PreDelayIsReadOncePerBlock) {
    DelayLine line = make_line();
    Streams s(128, 5.0f);
    for (int i = 0; i < 128; ++i) s.input[i] = static_cast<float>(i);
    for (int i = 1; i < 64; ++i) s.pre_delay[i] = 40.0f;  // ignored: only the block's first counts
    s.pre_delay[64] = 2.0f;
    run(line, s, Variant::kPlain, 64);
    EXPECT_EQ(s.output[63], 58.0f);
    EXPECT_EQ(s.output[64], 62.0f);
    EXPECT_EQ(s.output[127], 125.0f);
}

TEST(DelayLineDelay, NegativePreDelayWrapsToTheFarEndOfTheBuffer) {
    DelayLine line = make_line();
    Streams s(9000, -3.0f);
    for (int i = 0; i < 9000; ++i) s.input[i] = static_cast<float>(i + 1);
    run(line, s, Variant::kPlain);
    for (int i = 0; i < 8189; ++i) ASSERT_EQ(s.output[i], 0.0f) << i;
    for (int i = 8189; i < 9000; ++i) ASSERT_EQ(s.output[i], s.input[i - 8189]) << i;
}

TEST(DelayLineModulation, InterpolatesBetweenTheTwoTaps) {
    DelayLine line = make_line();
    Streams s(200, 10.0f, 0.0f, 4.5f / kMsScale);  // mod 0 V: half the depth, 2.25 samples
    for (int i = 0; i < 200; ++i) s.input[i] = static_cast<float>(i);
    run(line, s, Variant::kPlain);
    // 12 samples back, then a quarter of the way to the 13th.
    for (int i = 20; i < 200; ++i) ASSERT_FLOAT_EQ(s.output[i], static_cast<float>(i) - 12.25f) << i;
}

TEST(DelayLineModulation, FullSweepReachesTheWholeDepth) {
    DelayLine line = make_line();
    Streams s(300, 0.0f, 0.5f, 100.0f / kMsScale);  // +5 V: the whole 100 samples
    for (int i = 0; i < 300; ++i) s.input[i] = static_cast<float>(i);
    run(line, s, Variant::kPlain);
    for (int i = 100; i < 300; ++i) ASSERT_EQ(s.output[i], static_cast<float>(i - 100));
}

TEST(DelayLineModulation, StaticDepthIsReadOncePerBlock) {
    DelayLine line = make_line();
    Streams s(64, 0.0f, 0.5f, 1.0f / kMsScale);
    for (int i = 0; i < 64; ++i) s.input[i] = static_cast<float>(i);
    for (int i = 1; i < 64; ++i) s.depth[i] = 30.0f / kMsScale;
    run(line, s, Variant::kPlain);
    for (int i = 1; i < 64; ++i) ASSERT_EQ(s.output[i], static_cast<float>(i - 1)) << i;
}

TEST(DelayLineFeedback, EchoRunsThroughPreDelayAndModulationAgain) {
    DelayLine line = make_line();
    Streams s(400, 50.0f, 0.5f, 10.0f / kMsScale, 0.5f);  // 60 samples per pass
    s.input[0] = 1.0f;
    run(line, s, Variant::kEcho);
    EXPECT_EQ(s.output[60], 1.0f);
    EXPECT_EQ(s.output[120], 0.5f);
    EXPECT_EQ(s.output[180], 0.25f);
    EXPECT_EQ(s.output[59] + s.output[61] + s.output[119] + s.output[121], 0.0f);
}

TEST(DelayLineFeedback, FlangerRepeatsOnlyTheModulatedPart) {
    DelayLine line = make_line();
    Streams s(400, 50.0f, 0.5f, 10.0f / kMsScale, 0.5f);  // 50 of pre-delay, 10 of modulation
    s.input[0] = 1.0f;
    run(line, s, Variant::kFlange);
    // The first pass takes 60 samples, every repeat only the 10 of modulation.
    for (int i = 0; i < 400; ++i) {
        const float expected = i >= 60 && i % 10 == 0 ? std::ldexp(1.0f, -(i - 60) / 10) : 0.0f;
        ASSERT_EQ(s.output[i], expected) << i;
    }
}

TEST(DelayLineFeedback, StreamingDepthChoosesItsTargetPerBlock) {
    for (auto [variant, second_echo] : {std::pair{Variant::kStreamingEcho, 120}, {Variant::kStreamingFlange, 70}}) {
        DelayLine line = make_line();
        Streams s(200, 50.0f, 0.5f, 10.0f / kMsScale, 0.5f);
        s.input[0] = 1.0f;
        run(line, s, variant);
        EXPECT_EQ(s.output[60], 1.0f);
        EXPECT_EQ(s.output[second_echo], 0.5f);
    }
}

TEST(DelayLineFeedback, TinyValuesAreClearedNormalOnesKept) {
    EXPECT_EQ(chorus::flush_tiny(1.0e-30f), 0.0f);
    EXPECT_EQ(chorus::flush_tiny(-1.0e-40f), 0.0f);  // a denormal
    EXPECT_EQ(chorus::flush_tiny(0.5f), 0.5f);
    EXPECT_EQ(chorus::flush_tiny(-0.123f), -0.123f);

    DelayLine line = make_line();
    Streams s(300, 100.0f, -0.5f, 0.0f, 1.0f);
    s.input[0] = 1.0e-30f;
    run(line, s, Variant::kEcho);
    EXPECT_EQ(s.output[100], 1.0e-30f);  // the direct path is untouched
    EXPECT_EQ(s.output[200], 0.0f);      // the fed-back copy is cleared
}

TEST(DelayLineBadValues, NonFinitePreDelayMeansNoDelay) {
    for (float bad : {kNaN, kInf, -kInf}) {
        DelayLine line = make_line();
        Streams s(100, bad, -0.5f, 0.0f, 0.5f);
        for (int i = 0; i < 100; ++i) s.input[i] = static_cast<float>(i);
        run(line, s, Variant::kFlange);
        ASSERT_EQ(s.output[37], 37.0f) << bad;
        expect_all_finite(line);
    }
}

TEST(DelayLineBadValues, HugePreDelayWrapsLikeAnyLongDelay) {
    // 2^40 + 9 samples is not a float; 2^40 is, and wraps to no delay in any power-of-two buffer.
    DelayLine line = make_line();
    Streams s(100, 1099511627776.0f);
    for (int i = 0; i < 100; ++i) s.input[i] = static_cast<float>(i);
    run(line, s, Variant::kPlain);
    EXPECT_EQ(s.output, s.input);
    Streams t(100, -1.0e38f, -0.5f, 0.0f, 1.0f);
    run(line, t, Variant::kEcho);
    expect_all_finite(line);
}

TEST(DelayLineBadValues, NonFiniteOrHugeModulationCountsAsNoOffset) {
    const std::vector<std::pair<float, float>> cases = {
        {kNaN, 1.0f}, {kInf, 1.0f}, {-kInf, 1.0f}, {1.0e20f, 1.0f},   // modulation
        {0.0f, kNaN}, {0.5f, kInf}, {-0.5f, kInf}, {0.5f, -kInf}, {0.5f, 1.0e30f}};  // depth
    for (auto [mod, depth] : cases) {
        for (Variant v : {Variant::kFlange, Variant::kStreamingEcho}) {
            DelayLine line = make_line();
            Streams s(200, 20.0f, mod, depth, 0.5f);
            for (int i = 0; i < 200; ++i) s.input[i] = static_cast<float>(i % 7);
            run(line, s, v);
            for (int i = 20; i < 40; ++i) ASSERT_EQ(s.output[i], s.input[i - 20]) << mod << " " << depth;
            expect_all_finite(line);
        }
    }
}

TEST(DelayLineBadValues, LargeNegativeModulationStaysInsideTheBuffer) {
    DelayLine line = make_line();
    Streams s(20000, 0.0f, -1000.0f, 100.0f, 0.9f);
    for (int i = 0; i < 20000; ++i) s.input[i] = std::sin(0.01f * static_cast<float>(i));
    run(line, s, Variant::kStreamingFlange);
    for (float y : s.output) ASSERT_TRUE(std::isfinite(y));
    expect_all_finite(line);
}

TEST(DelayLineBadValues, NonFiniteSamplesNeverEnterTheLine) {
    for (Variant v : {Variant::kPlain, Variant::kEcho, Variant::kFlange}) {
        DelayLine line = make_line();
        Streams s(500, 10.0f, -0.5f, 0.0f, kNaN);
        s.input[0] = 1.0f;
        s.input[3] = kNaN;
        s.input[4] = kInf;
        run(line, s, v);
        expect_all_finite(line);
        EXPECT_EQ(s.output[13], 0.0f);  // the bad samples come back as silence
        EXPECT_EQ(s.output[14], 0.0f);
    }
}
