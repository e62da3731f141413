// The stepper's edges, bounds, bound modes and step reduction, driven directly.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "stepper_core.h"

namespace {

using stepper::BoundMode;
using stepper::StepperCore;

constexpr float kTol = 0.000001f;

// Constant step, start and end; a pulse train of `pulses` rising edges, one every other sample.
struct PulseTrain {
    float step = 0.1f;
    float start = 0.0f;
    float end = 0.7f;
    BoundMode mode = BoundMode::kContinuous;

    std::vector<float> values_after_pulses(StepperCore& core, int pulses) const {
        std::vector<float> out;
        for (int p = 0; p < pulses; ++p) {
            const float pulse[2] = {1.0f, 0.0f};
            const float zero[2] = {0.0f, 0.0f};
            const float steps[2] = {step, step};
            const float starts[2] = {start, start};
            const float ends[2] = {end, end};
            float o[2];
            core.run({pulse, steps, starts, ends, zero}, o, 2, mode, kTol);
            out.push_back(o[0]);
        }
        return out;
    }
};

void expect_values(const std::vector<float>& got, const std::vector<float>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-5f) << "pulse " << i + 1;
}

TEST(StepperEdges, AHeldPulseStepsOnceAndMustReturnToExactlyZero) {
    StepperCore core;
    const float pulse[8] = {1.0f, 1.0f, 0.5f, 1e-9f, 0.0f, 1.0f, 1.0f, 0.0f};
    const float step[8] = {0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f};
    const float zero[8] = {};
    const float end[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    float out[8];
    core.run({pulse, step, zero, end, zero}, out, 8, BoundMode::kStop, kTol);
    const float want[8] = {0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.2f, 0.2f, 0.2f};
    for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(out[i], want[i]) << i;
}

TEST(StepperEdges, EdgesCarryAcrossBlocks) {
    StepperCore core;
    const float high[1] = {1.0f};
    const float low[1] = {0.0f};
    const float step[1] = {0.1f};
    const float end[1] = {1.0f};
    float out[1];
    core.run({high, step, low, end, low}, out, 1, BoundMode::kContinuous, kTol);
    core.run({high, step, low, end, low}, out, 1, BoundMode::kContinuous, kTol);  // still held
    EXPECT_FLOAT_EQ(out[0], 0.1f);
    core.run({low, step, low, end, low}, out, 1, BoundMode::kContinuous, kTol);
    core.run({high, step, low, end, low}, out, 1, BoundMode::kContinuous, kTol);
    EXPECT_FLOAT_EQ(out[0], 0.2f);
}

TEST(StepperEdges, ResetLoadsStartAndWinsOverAPulseOnTheSameSample) {
    StepperCore core;
    core.set_value(0.5f);
    const float pulse[3] = {1.0f, 0.0f, 1.0f};
    const float reset[3] = {1.0f, 1.0f, 0.0f};
    const float step[3] = {0.2f, 0.2f, 0.2f};
    const float start[3] = {0.3f, 0.3f, 0.3f};
    const float end[3] = {1.0f, 1.0f, 1.0f};
    float out[3];
    core.run({pulse, step, start, end, reset}, out, 3, BoundMode::kStop, kTol);
    EXPECT_FLOAT_EQ(out[0], 0.3f);  // the reset, not 0.5 + 0.2
    EXPECT_FLOAT_EQ(core.step(), 0.2f);
    EXPECT_FLOAT_EQ(out[1], 0.3f);  // reset held: no second edge
    EXPECT_FLOAT_EQ(out[2], 0.5f);  // the pulse after the reset steps
}

TEST(StepperBounds, WrapRunsZeroToSevenVoltsAndStartsOver) {
    StepperCore core;
    PulseTrain run;
    run.mode = BoundMode::kWrap;
    expect_values(run.values_after_pulses(core, 10), {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.0f, 0.1f, 0.2f});
}

TEST(StepperBounds, WrapDownwardComesBackAtTheTop) {
    StepperCore core;
    PulseTrain run;
    run.mode = BoundMode::kWrap;
    run.step = -0.1f;
    expect_values(run.values_after_pulses(core, 3), {0.7f, 0.6f, 0.5f});
}

TEST(StepperBounds, StopHoldsTheLastValueInside) {
    StepperCore core;
    PulseTrain run;
    run.mode = BoundMode::kStop;
    auto v = run.values_after_pulses(core, 9);
    expect_values(v, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.7f, 0.7f});
    EXPECT_EQ(core.step(), 0.0f);
}

TEST(StepperBounds, ReverseTurnsOneStepBackInsideAtEachBound) {
    StepperCore core;
    PulseTrain run;
    run.mode = BoundMode::kReverse;
    expect_values(run.values_after_pulses(core, 17), {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.6f, 0.5f, 0.4f,
                                                      0.3f, 0.2f, 0.1f, 0.0f, 0.1f, 0.2f, 0.3f});
}

TEST(StepperBounds, ContinuousIgnoresBothBounds) {
    StepperCore core;
    PulseTrain run;
    auto up = run.values_after_pulses(core, 10);
    EXPECT_NEAR(up.back(), 1.0f, 1e-5f);
    run.step = -0.1f;
    auto down = run.values_after_pulses(core, 12);
    EXPECT_NEAR(down.back(), -0.2f, 1e-5f);
}

TEST(StepperBounds, ToleranceDecidesWhetherAFloatJustPastTheBoundCounts) {
    // Seven steps of 0.1 sum to a float a hair above 0.7; within tolerance it is still inside.
    StepperCore core;
    PulseTrain run;
    run.mode = BoundMode::kStop;
    auto v = run.values_after_pulses(core, 7);
    EXPECT_NEAR(v.back(), 0.7f, 1e-6f);

    StepperCore strict;
    const float pulse[1] = {1.0f};
    const float zero[1] = {0.0f};
    const float step[1] = {0.3f};
    const float end[1] = {0.3f};
    float out[1];
    strict.set_value(0.0000005f);  // 0.3000005 lies within the default tolerance of 0.3
    strict.run({pulse, step, zero, end, zero}, out, 1, BoundMode::kStop, kTol);
    EXPECT_FLOAT_EQ(out[0], 0.3000005f);
    StepperCore tight;
    tight.set_value(0.0000005f);
    tight.run({pulse, step, zero, end, zero}, out, 1, BoundMode::kStop, 0.0f);
    EXPECT_FLOAT_EQ(out[0], 0.0000005f);
}

TEST(StepperBounds, EndBelowStartSwapsTheBoundsAndDoesNotReduceSteps) {
    StepperCore core;
    PulseTrain run;
    run.start = 0.7f;
    run.end = 0.0f;
    run.mode = BoundMode::kWrap;
    core.set_value(0.6f);
    expect_values(run.values_after_pulses(core, 3), {0.7f, 0.0f, 0.1f});

    // A step of 1.0 is larger than the 0.8 period, but swapped bounds do not reduce it.
    StepperCore big;
    run.step = 1.0f;
    run.mode = BoundMode::kContinuous;
    expect_values(run.values_after_pulses(big, 1), {1.0f});
    StepperCore big_up;
    run.start = 0.0f;
    run.end = 0.7f;
    expect_values(run.values_after_pulses(big_up, 1), {0.2f});  // reduced to 1.0 - 0.8
}

TEST(StepperReduction, StepsLargerThanThePeriodAreReducedFirst) {
    // Start 0, end 0.1: a period of 0.2; 0.25 becomes 0.05.
    StepperCore core;
    PulseTrain run;
    run.step = 0.25f;
    run.end = 0.1f;
    run.mode = BoundMode::kContinuous;
    auto v = run.values_after_pulses(core, 1);
    EXPECT_NEAR(v[0], 0.05f, 1e-6f);
    EXPECT_NEAR(core.step(), 0.05f, 1e-6f);

    EXPECT_FLOAT_EQ(stepper::reduce_step(0.2f, 0.2f), 0.2f);  // (0, t]: a whole period stays
    EXPECT_NEAR(stepper::reduce_step(-0.45f, 0.2f), -0.05f, 1e-6f);
    EXPECT_FLOAT_EQ(stepper::reduce_step(-0.2f, 0.2f), -0.2f);
    EXPECT_FLOAT_EQ(stepper::reduce_step(0.1f, 0.2f), 0.1f);
}

TEST(StepperReduction, HugeAndNonFiniteStepsEndAndLeaveTheValueUsable) {
    const float r = stepper::reduce_step(1e30f, 0.2f);
    EXPECT_GT(r, 0.0f);
    EXPECT_LE(r, 0.2f);
    const float n = stepper::reduce_step(-1e30f, 0.2f);
    EXPECT_LT(n, 0.0f);
    EXPECT_GE(n, -0.2f);

    StepperCore core;
    core.set_value(0.3f);
    for (float s : {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::quiet_NaN()}) {
        core.take_step(s, 0.0f, 0.7f, BoundMode::kContinuous, kTol);
        EXPECT_FLOAT_EQ(core.value(), 0.3f);
        core.take_step(s, 0.7f, 0.0f, BoundMode::kWrap, kTol);
        EXPECT_FLOAT_EQ(core.value(), 0.3f);
    }
}

}  // namespace
