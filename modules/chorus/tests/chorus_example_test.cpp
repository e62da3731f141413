// The example patches examples/chorus.json, chorus_flanger.json and delay_echo.json, rendered
// through the host with the real tallisk and built-in modules. The chorus output is compared with
// a model of the effect written directly from its description: a delay line indexed by time, the
// read point at the pre-delay plus the modulation offset, linear interpolation, and the feedback
// added either to the sample just written (echo) or to the one read at the pre-delay (flanger).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "mvhost/patch.h"

namespace {

enum class Feedback { kEcho, kFlange };

struct Expect {
    const char* patch;
    const char* source;      // the instance feeding "Audio_In"
    const char* source_pin;
    bool modulated;          // an LFO on "Mod_1 +/-5"
    const char* effect;      // the chorus instance
    int pre_delay;           // samples
    double depth;            // samples at full modulation
    double feedback;
    Feedback target;
};

struct Capture {
    std::vector<double> in, mod, out;
};

Capture render(const Expect& e) {
    mvh::PatchRun run(std::string(MV_SOURCE_DIR) + "/examples/" + e.patch,
                      {MV_PLUGIN_DIR, std::string(MV_BINARY_DIR) + "/lib/builtin"});
    mvh::Instance* src = run.host().find(e.source);
    mvh::Instance* lfo = run.host().find("lfo");
    mvh::Instance* fx = run.host().find(e.effect);
    Capture c;
    EXPECT_TRUE(src && fx && (lfo || !e.modulated));
    if (!src || !fx || (e.modulated && !lfo)) return c;
    const int src_pin = src->find_pin(e.source_pin);
    const int out_pin = fx->find_pin("Cho_Out1");
    const int lfo_pin = lfo ? lfo->find_pin("Out") : -1;
    run.run_until(run.total_samples(), [&](const std::vector<const float*>&, int n) {
        for (int i = 0; i < n; ++i) {
            c.in.push_back(src->buffer(src_pin)[i]);
            c.mod.push_back(e.modulated ? lfo->buffer(lfo_pin)[i] : -0.5);
            c.out.push_back(fx->buffer(out_pin)[i]);
        }
    });
    return c;
}

// Line[w] is what was written at time w, with the feedback it has received so far.
std::vector<double> model(const Expect& e, const Capture& c) {
    const int n = static_cast<int>(c.in.size());
    std::vector<double> line(n, 0.0), out(n, 0.0);
    auto at = [&](long w) { return w >= 0 ? line[w] : 0.0; };
    for (int t = 0; t < n; ++t) {
        line[t] = c.in[t];
        const double m = (c.mod[t] + 0.5) * e.depth;
        const long k = static_cast<long>(m);
        const double f = m - static_cast<double>(k);
        const long newer = t - e.pre_delay - k;
        out[t] = at(newer) + f * (at(newer - 1) - at(newer));
        if (e.target == Feedback::kEcho) line[t] += e.feedback * out[t];
        else if (t - e.pre_delay >= 0) line[t - e.pre_delay] += e.feedback * out[t];
    }
    return out;
}

void check(const Expect& e) {
    const Capture c = render(e);
    ASSERT_GT(c.out.size(), 44100u);
    const std::vector<double> want = model(e, c);
    double peak_in = 0.0, peak_out = 0.0, worst = 0.0;
    size_t worst_at = 0;
    for (size_t t = 0; t < c.out.size(); ++t) {
        ASSERT_TRUE(std::isfinite(c.out[t])) << t;
        peak_in = std::max(peak_in, std::fabs(c.in[t]));
        peak_out = std::max(peak_out, std::fabs(c.out[t]));
        if (std::fabs(c.out[t] - want[t]) > worst) {
            worst = std::fabs(c.out[t] - want[t]);
            worst_at = t;
        }
    }
    EXPECT_GT(peak_in, 0.1) << "the source is silent";
    EXPECT_GT(peak_out, 0.1) << "the effect is silent";
    EXPECT_LT(worst, 2e-5) << "at sample " << worst_at << ": " << c.out[worst_at] << " against " << want[worst_at];
}

}  // namespace

TEST(ChorusExamples, ChorusFollowsTheLfoBetweenPreDelayAndDepth) {
    // 15 ms of pre-delay (661 samples), 4 ms of depth, no feedback.
    check({"chorus.json", "osc", "Output", true, "cho", 661, 0.4 * 441.0, 0.0, Feedback::kEcho});
}

TEST(ChorusExamples, FlangerFeedsBackIntoTheModulatedPart) {
    // 0.5 ms of pre-delay (22 samples), 3 ms of depth, feedback +7 into the modulated part.
    check({"chorus_flanger.json", "osc", "Output", true, "cho", 22, 0.3 * 441.0, 0.7, Feedback::kFlange});
}

TEST(ChorusExamples, DelayEchoesEvery375MillisecondsAtHalfLevel) {
    // 0.375 s in seconds mode (16537 samples), no modulation, feedback +5 through the pre-delay.
    check({"delay_echo.json", "vca", "Out", false, "dly", 16537, 0.0, 0.5, Feedback::kEcho});
}
