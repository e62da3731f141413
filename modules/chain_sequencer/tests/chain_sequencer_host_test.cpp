// chain_sequencer through the reference host's older-entry path: loading through `main`, the
// exported symbols, ranges, sampling on index moves, chaining and sleeping.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "mv_testing/host_rig.h"

namespace {

constexpr int kIndex = 0;
constexpr int kRange = 17;
constexpr int kOutput = 18;

int step_pin(int k) { return k; }  // "Step k" is pin k

TEST(SequencerBoundary, LoadsThroughMainAndExportsNothingElse) {
    std::string error;
    auto plugin = mvh::Plugin::load(mv_testing::plugin_path("chain_sequencer"), &error);
    ASSERT_TRUE(plugin) << error;
    EXPECT_TRUE(plugin->is_v1());
    EXPECT_EQ(plugin->name(), "Sequencer");
    EXPECT_EQ(plugin->id(), "Morvane Chainable Sequencer");
    EXPECT_FALSE(plugin->about().empty());

    mvh::Host host;
    mvh::Instance* seq = host.add(plugin, "seq");
    ASSERT_NE(seq->audio_v1(), nullptr);
    ASSERT_EQ(seq->pins().size(), 19u);
    EXPECT_EQ(seq->pins()[kIndex].name, "Index");
    EXPECT_EQ(seq->pins()[16].name, "Step 16");
    EXPECT_EQ(seq->pins()[kRange].name, "Range");
    EXPECT_EQ(seq->pins()[kOutput].name, "Output");

    const std::string cmd = "nm -D --defined-only " + mv_testing::plugin_path("chain_sequencer");
    FILE* nm = popen(cmd.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::vector<std::string> symbols;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        symbols.push_back(s.substr(s.rfind(' ') + 1));
    }
    ASSERT_EQ(pclose(nm), 0) << "nm failed";
    EXPECT_EQ(symbols, (std::vector<std::string>{"main"}));
}

TEST(SequencerStatic, RangesSelectStepsAndOthersGiveZero) {
    struct Case {
        int range;
        float index;
        float want;
    };
    // Step k holds k / 100, so the output names the chosen step.
    const Case cases[] = {{0, 0.1f, 0.01f},  {0, 1.6f, 0.16f},  {0, 0.0f, 0.0f},   {0, 1.7f, 0.0f},
                          {16, 1.7f, 0.01f}, {16, 1.6f, 0.0f},  {0, 0.14f, 0.01f}, {0, 0.15f, 0.02f},
                          {112, 12.8f, 0.16f}, {112, 11.3f, 0.01f}, {96, 11.3f, 0.0f}};
    for (const Case& c : cases) {
        mv_testing::HostRig r;
        mvh::Instance* seq = r.add("chain_sequencer", "seq");
        for (int k = 1; k <= 16; ++k) seq->set_float(step_pin(k), static_cast<float>(k) / 100.0f);
        seq->set_int(kRange, c.range);
        seq->set_float(kIndex, c.index);
        r.host.open();
        r.host.run_block();
        EXPECT_FLOAT_EQ(seq->buffer(kOutput)[63], c.want) << "range " << c.range << " index " << c.index;
    }
}

TEST(SequencerStatic, OutputsOneBlockThenSleepsAndWakesForAChange) {
    mv_testing::HostRig r;
    mvh::Instance* seq = r.add("chain_sequencer", "seq");
    seq->set_float(step_pin(3), 0.3f);
    seq->set_float(step_pin(4), 0.4f);
    seq->set_float(kIndex, 0.3f);
    r.host.open();
    r.host.run_block();
    EXPECT_TRUE(seq->sleeping());
    EXPECT_FLOAT_EQ(seq->buffer(kOutput)[0], 0.3f);
    ASSERT_FALSE(seq->status_log.empty());
    EXPECT_EQ(seq->status_log.back().pin, kOutput);
    EXPECT_EQ(seq->status_log.back().state, PIN_STATIC);

    // A step that changes while the index stays reaches nothing.
    seq->set_float(step_pin(3), 0.9f);
    r.host.run_block();
    EXPECT_FLOAT_EQ(seq->buffer(kOutput)[63], 0.3f);
    EXPECT_TRUE(seq->sleeping());

    seq->set_float(kIndex, 0.4f);
    r.host.run_block();
    EXPECT_FLOAT_EQ(seq->buffer(kOutput)[0], 0.4f);
    EXPECT_TRUE(seq->sleeping());
}

TEST(SequencerStatic, ARangeChangeActsFromItsOwnSample) {
    mv_testing::HostRig r;
    mvh::Instance* seq = r.add("chain_sequencer", "seq");
    for (int k = 1; k <= 16; ++k) seq->set_float(step_pin(k), static_cast<float>(k) / 100.0f);
    // 17 V and 18 V in turn: steps 1 and 2 of Range 16, nothing in Range 0.
    r.feed(seq, kIndex, [](int clock) { return clock % 2 ? 1.8f : 1.7f; });
    r.host.open();
    r.host.run_block();
    seq->set_int(kRange, 16, 64 + 40);
    r.host.run_block();
    const float* out = seq->buffer(kOutput);
    for (int i = 0; i < 64; ++i) ASSERT_FLOAT_EQ(out[i], i < 40 ? 0.0f : (i % 2 ? 0.02f : 0.01f)) << "sample " << i;
}

TEST(SequencerChain, TwoRangesOnOneIndexAnswerWithExactlyOneForEveryStep) {
    mv_testing::HostRig r;
    mvh::Instance* low = r.add("chain_sequencer", "low");
    mvh::Instance* high = r.add("chain_sequencer", "high");
    for (int k = 1; k <= 16; ++k) {
        low->set_float(step_pin(k), static_cast<float>(k) / 100.0f);
        high->set_float(step_pin(k), static_cast<float>(16 + k) / 100.0f);
    }
    high->set_int(kRange, 16);
    // Index 0.1 ... 3.2 (1 V to 32 V), two samples each: one block walks all 32 steps.
    auto index = [](int clock) { return static_cast<float>(clock / 2 % 32 + 1) / 10.0f; };
    r.feed(low, kIndex, index);
    r.feed(high, kIndex, index);
    r.host.open();
    for (int block = 0; block < 3; ++block) {
        r.host.run_block();
        const float* a = low->buffer(kOutput);
        const float* b = high->buffer(kOutput);
        for (int i = 0; i < 64; ++i) {
            const int step = (i / 2) % 32 + 1;
            ASSERT_TRUE((a[i] == 0.0f) != (b[i] == 0.0f)) << "block " << block << " sample " << i;
            ASSERT_FLOAT_EQ(a[i] + b[i], static_cast<float>(step) / 100.0f) << "sample " << i;
        }
    }
    EXPECT_FALSE(low->sleeping());
    EXPECT_EQ(low->status_log.back().state, PIN_STREAMING);
}

}  // namespace
