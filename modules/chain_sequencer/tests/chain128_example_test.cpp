// The example patch examples/chain128.json: eight sequencers with ranges 1-16 ... 113-128 on one
// index, outputs summed. The index is a saw of +-63.9 V around 64.55 V, one period in the 8 s of
// the render; step g of the chain holds g/16 V, so the render is a staircase that names every
// step it plays.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mvhost/patch.h"

namespace {

TEST(Chain128Example, RendersAll128StepsInTheOrderOfTheSweep) {
    mvh::PatchRun run(std::string(MV_SOURCE_DIR) + "/examples/chain128.json",
                      {MV_PLUGIN_DIR, std::string(MV_BINARY_DIR) + "/lib/builtin"});
    ASSERT_EQ(run.outputs().size(), 1u);
    std::vector<int> played;  // the step of each run of equal samples
    std::vector<int> lengths;
    int strays = 0;
    run.run_until(run.total_samples(), [&](const std::vector<const float*>& channels, int n) {
        for (int i = 0; i < n; ++i) {
            const float volts = channels[0][i] * 10.0f;
            const int step = static_cast<int>(std::lround(volts * 16.0f));
            if (step < 1 || step > 128 || std::fabs(volts - static_cast<float>(step) / 16.0f) > 1e-5f) ++strays;
            if (played.empty() || played.back() != step) {
                played.push_back(step);
                lengths.push_back(0);
            }
            ++lengths.back();
        }
    });
    EXPECT_EQ(strays, 0) << "samples that are no step value of the chain";

    // The saw starts at 64.55 V, rises to 128.45 V, drops to 0.65 V and rises back to 64.55 V.
    std::vector<int> want;
    for (int g = 65; g <= 128; ++g) want.push_back(g);
    for (int g = 1; g <= 64; ++g) want.push_back(g);
    want.push_back(65);
    ASSERT_EQ(played, want);

    // Each step lasts as long as the sweep stays within its volt around the step number.
    const double samples_per_volt = run.total_samples() / (2.0 * 63.9);
    for (size_t i = 0; i < want.size(); ++i) {
        double volts = 1.0;
        if (i == 0) volts = 65.5 - 64.55;
        else if (i == want.size() - 1) volts = 64.55 - 64.5;
        else if (want[i] == 128) volts = 128.45 - 127.5;
        else if (want[i] == 1) volts = 1.5 - 0.65;
        EXPECT_NEAR(lengths[i], volts * samples_per_volt, 3.0) << "step " << want[i] << " (run " << i << ")";
    }
}

}  // namespace
