// Step choice by index voltage and range, and the sample-and-hold of the chosen step.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "step_selector.h"

namespace {

using chain::step_for_index;
using chain::StepSelector;

TEST(StepForIndex, FirstRangeAnswersOneToSixteenVolts) {
    EXPECT_EQ(step_for_index(0.1f, 0), 1);
    EXPECT_EQ(step_for_index(1.6f, 0), 16);
    EXPECT_EQ(step_for_index(0.0f, 0), 0);
    EXPECT_EQ(step_for_index(1.7f, 0), 0);
    EXPECT_EQ(step_for_index(-0.1f, 0), 0);
}

TEST(StepForIndex, SecondRangeStartsAtSeventeenVolts) {
    EXPECT_EQ(step_for_index(1.7f, 16), 1);
    EXPECT_EQ(step_for_index(1.6f, 16), 0);
    EXPECT_EQ(step_for_index(3.2f, 16), 16);
    EXPECT_EQ(step_for_index(3.3f, 16), 0);
}

TEST(StepForIndex, RoundsToTheNearestVolt) {
    EXPECT_EQ(step_for_index(0.14f, 0), 1);
    EXPECT_EQ(step_for_index(0.15f, 0), 2);
    EXPECT_EQ(step_for_index(0.05f, 0), 1);
    EXPECT_EQ(step_for_index(0.049f, 0), 0);
    EXPECT_EQ(step_for_index(1.649f, 0), 16);
    EXPECT_EQ(step_for_index(1.65f, 0), 0);
    EXPECT_EQ(step_for_index(1.65f, 16), 1);
}

TEST(StepForIndex, EveryRangeAnswersItsSixteenVolts) {
    for (int range = 0; range <= 112; range += 16) {
        for (int volts = range + 1; volts <= range + 16; ++volts) {
            EXPECT_EQ(step_for_index(static_cast<float>(volts) / 10.0f, range), volts - range) << volts;
            EXPECT_EQ(step_for_index(static_cast<float>(volts) * 0.1f, range), volts - range) << volts;
        }
        EXPECT_EQ(step_for_index(static_cast<float>(range) / 10.0f, range), 0);
        EXPECT_EQ(step_for_index(static_cast<float>(range + 17) / 10.0f, range), 0);
    }
}

TEST(StepForIndex, NonNumbersAndHugeIndicesSelectNothing) {
    const float inf = std::numeric_limits<float>::infinity();
    for (float v : {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1e30f, -1e30f, 1e9f}) {
        EXPECT_EQ(step_for_index(v, 0), 0) << v;
        EXPECT_EQ(step_for_index(v, 112), 0) << v;
    }
}

TEST(StepChain, ExactlyOneOfEightRangesAnswersEveryIndexFromOneTo128Volts) {
    // Every float on a fine grid, boundaries included: chained modules never overlap or leave a gap.
    for (int i = 50; i <= 12849; ++i) {
        const float index = static_cast<float>(i) / 1000.0f;
        int answering = 0;
        for (int range = 0; range <= 112; range += 16) answering += step_for_index(index, range) > 0 ? 1 : 0;
        ASSERT_EQ(answering, 1) << "index " << index;
    }
    // And on each side of every rounding boundary inside the chain, float by float.
    for (int half = 1; half <= 127; ++half) {
        float x = (static_cast<float>(half) + 0.5f) / 10.0f;
        for (int k = 0; k < 8; ++k) x = std::nextafter(x, 0.0f);
        for (int k = 0; k < 16; ++k, x = std::nextafter(x, 100.0f)) {
            int answering = 0;
            for (int range = 0; range <= 112; range += 16) answering += step_for_index(x, range) > 0 ? 1 : 0;
            ASSERT_EQ(answering, 1) << "index " << x;
        }
    }
}

class StepSelectorTest : public ::testing::Test {
protected:
    // 16 step buffers of n samples, step k holding k / 100 unless changed.
    void SetUp() override {
        for (int k = 0; k < chain::kStepCount; ++k) {
            m_step_data[k].assign(kN, static_cast<float>(k + 1) / 100.0f);
            m_steps[k] = m_step_data[k].data();
        }
    }
    std::vector<float> run(const std::vector<float>& index, int range = 0) {
        std::vector<float> out(index.size(), -1.0f);
        m_selector.run(index.data(), m_steps, 0, out.data(), static_cast<int>(index.size()), range);
        return out;
    }

    static constexpr int kN = 8;
    std::vector<float> m_step_data[chain::kStepCount];
    const float* m_steps[chain::kStepCount];
    StepSelector m_selector;
};

TEST_F(StepSelectorTest, SamplesAStepOnlyWhenTheIndexMoves) {
    m_step_data[2] = {0.03f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 1.0f, 1.1f};
    auto out = run({0.3f, 0.3f, 0.3f, 0.31f, 0.31f, 0.2f, 0.3f, 0.3f});
    // Index 0.31 still selects step 3 but is a move, so the step is sampled again.
    EXPECT_EQ(out, (std::vector<float>{0.03f, 0.03f, 0.03f, 0.7f, 0.7f, 0.02f, 1.0f, 1.0f}));
}

TEST_F(StepSelectorTest, TheFirstSampleAlwaysPicksAStepAndTheHoldCarriesAcrossBlocks) {
    auto out = run({1.6f});
    EXPECT_FLOAT_EQ(out[0], 0.16f);
    m_step_data[15][0] = 0.9f;
    out = run({1.6f, 1.6f});
    EXPECT_FLOAT_EQ(out[0], 0.16f);
    EXPECT_FLOAT_EQ(out[1], 0.16f);
}

TEST_F(StepSelectorTest, OutsideTheRangeTheOutputIsZeroAndNaNCountsAsNoChange) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto out = run({0.5f, 1.7f, nan, 0.1f, nan}, 0);
    EXPECT_EQ(out, (std::vector<float>{0.05f, 0.0f, 0.0f, 0.01f, 0.01f}));
    out = run({1.7f}, 16);
    EXPECT_FLOAT_EQ(out[0], 0.01f);
}

TEST_F(StepSelectorTest, AMissingStepBufferReadsAsZero) {
    m_steps[4] = nullptr;
    auto out = run({0.5f, 0.4f});
    EXPECT_EQ(out, (std::vector<float>{0.0f, 0.04f}));
}

}  // namespace
