// The sweep example renders through the patch runner: the bank loads from "wbf_path" by the
// host-folder fallback, the sweep starts at 440 Hz, and morphing switches on at 4 s.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "signal_measure.h"
#include "mvhost/patch.h"

using tallisk::test::measured_frequency;
using tallisk::test::peak;

TEST(SweepExample, LoadsItsBankAndPlaysTheSweep) {
    const std::string patch = std::string(MV_SOURCE_DIR) + "/examples/tallisk_sweep.json";
    mvh::PatchRun run(patch, {MV_PLUGIN_DIR, std::string(MV_BINARY_DIR) + "/lib/builtin"});
    mvh::Instance* osc = run.host().find("osc");
    ASSERT_NE(osc, nullptr);
    std::vector<float> left;
    run.run_until(4410, [&](const std::vector<const float*>& channels, int n) {
        left.insert(left.end(), channels[0], channels[0] + n);
    });
    EXPECT_EQ(osc->value(osc->find_pin("Text Out")).text, "Sawtooth");
    EXPECT_GT(peak(left), 0.45f);
    // 5 V plus the LFO's saw, rising from 0 V to 3 V in its first 2 s: 1.5 V per second, so over
    // the first 0.1 s the pitch moves from 440 Hz to 440 * 2^0.15 Hz.
    const double f = measured_frequency(left, 44100.0);
    EXPECT_GT(f, 440.0);
    EXPECT_LT(f, 440.0 * std::pow(2.0, 0.15));
}
