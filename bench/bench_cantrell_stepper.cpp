// cantrell_stepper: nanoseconds per sample of the stepping loop over 1024-sample blocks, with a
// pulse every 8 samples (a fast clock) in each bound mode.
#include <benchmark/benchmark.h>

#include <vector>

#include "stepper_core.h"

namespace {

void stepping_loop(benchmark::State& state) {
    constexpr int kBlock = 1024;
    const auto mode = static_cast<stepper::BoundMode>(state.range(0));
    std::vector<float> pulse(kBlock), step(kBlock, 0.1f), start(kBlock, 0.0f), end(kBlock, 1.5f), reset(kBlock, 0.0f),
        out(kBlock);
    for (int i = 0; i < kBlock; ++i) pulse[i] = i % 8 < 4 ? 1.0f : 0.0f;
    stepper::StepperCore core;
    const stepper::Inputs in{pulse.data(), step.data(), start.data(), end.data(), reset.data()};
    for (auto _ : state) {
        core.run(in, out.data(), kBlock, mode, 0.000001f);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(stepping_loop)->DenseRange(0, 3)->ArgName("mode");

}  // namespace

BENCHMARK_MAIN();
