// volt_to_index: nanoseconds per sample of the two conversions over a 1024-sample block of a slow
// ramp across -20 V .. 20 V (so the index changes every few dozen samples, as from a CV).
#include <benchmark/benchmark.h>

#include <vector>

#include "index_conversion.h"

namespace {

template <vti::Rounding kMode>
void convert_block(benchmark::State& state) {
    constexpr int kBlock = 1024;
    std::vector<float> in(kBlock);
    for (int i = 0; i < kBlock; ++i) in[i] = -2.0f + 4.0f * static_cast<float>(i) / kBlock;
    int16_t last = 0;
    int changes = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBlock; ++i) {
            const int16_t index = vti::to_index(kMode, in[i]);
            changes += index != last;
            last = index;
        }
        benchmark::DoNotOptimize(changes);
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK_TEMPLATE(convert_block, vti::Rounding::kFloor);
BENCHMARK_TEMPLATE(convert_block, vti::Rounding::kNearest);

}  // namespace

BENCHMARK_MAIN();
