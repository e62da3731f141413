// chain_sequencer: nanoseconds per sample of the step loop (an index that moves every sample, the
// worst case), and of the older entry's process call splitting a 1024-sample block at 16 queued
// events, as a host drives it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "sequencer.h"
#include "step_selector.h"
#include "v1_module.h"

namespace {

constexpr int kBlock = 1024;

void set_ns_per_sample(benchmark::State& state) {
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void step_loop_moving_index(benchmark::State& state) {
    std::vector<float> index(kBlock), out(kBlock);
    std::vector<std::vector<float>> steps(chain::kStepCount, std::vector<float>(kBlock, 0.25f));
    const float* step_ptrs[chain::kStepCount];
    for (int k = 0; k < chain::kStepCount; ++k) step_ptrs[k] = steps[k].data();
    for (int i = 0; i < kBlock; ++i) index[i] = static_cast<float>(i % 160) / 100.0f;
    chain::StepSelector selector;
    for (auto _ : state) {
        selector.run(index.data(), step_ptrs, 0, out.data(), kBlock, 0);
        benchmark::DoNotOptimize(out.data());
    }
    set_ns_per_sample(state);
}
BENCHMARK(step_loop_moving_index);

void process_with_sixteen_events(benchmark::State& state) {
    MVModStructV1* rec = chain::create_sequencer(nullptr);
    std::vector<float> index(kBlock), out(kBlock);
    std::vector<std::vector<float>> steps(chain::kStepCount, std::vector<float>(kBlock, 0.25f));
    for (int i = 0; i < kBlock; ++i) index[i] = static_cast<float>(i % 160) / 100.0f;
    MVPinProperties p;
    for (int pin = 0; pin < 19; ++pin) {
        std::memset(&p, 0, sizeof p);
        rec->dispatcher(rec, v1::kPinDescription, pin, 0, &p, 0.0f);
        if (p.datatype != DT_FSAMPLE) continue;
        float* b = pin == 0 ? index.data() : pin == 18 ? out.data() : steps[pin - 1].data();
        *static_cast<float**>(p.variable) = b;
    }
    rec->dispatcher(rec, v1::kOpen, 0, 0, nullptr, 0.0f);
    int clock = 0;
    for (auto _ : state) {
        for (int e = 0; e < 16; ++e) {
            MVEvent ev{clock + e * (kBlock / 16), v1::kEventPinState, PIN_STREAMING, 0, nullptr};
            rec->dispatcher(rec, v1::kQueueEvent, 0, 0, &ev, 0.0f);
        }
        rec->process(rec, 0, kBlock);
        clock += kBlock;
        benchmark::DoNotOptimize(out.data());
    }
    set_ns_per_sample(state);
    rec->dispatcher(rec, v1::kClose, 0, 0, nullptr, 0.0f);
}
BENCHMARK(process_with_sixteen_events);

}  // namespace

BENCHMARK_MAIN();
