// What the host itself costs: 64 instances of a module that does nothing, each fed by the one
// before it, run block after block. Reported per instance and sample.
#include <benchmark/benchmark.h>

#include <string>

#include "mvhost/host.h"

namespace {

constexpr int kInstances = 64;

void BM_HostOverhead(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    mvh::HostConfig config;
    config.block_size = block;
    mvh::Host host(config);
    std::string error;
    mvh::Instance* previous = nullptr;
    for (int k = 0; k < kInstances; ++k) {
        mvh::InstanceOptions options;
        options.with_gui = false;
        mvh::Instance* inst = host.add(MV_NULL_MODULE, "n" + std::to_string(k), options, &error);
        if (!inst) {
            state.SkipWithError(error.c_str());
            return;
        }
        if (previous) host.connect(previous, previous->find_pin("Out"), inst, inst->find_pin("In"));
        previous = inst;
    }
    host.open();
    for (int k = 0; k < 16; ++k) host.run_block();
    for (auto _ : state) host.run_block();
    state.counters["ns_per_instance_sample"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kInstances * block,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    host.close();
}
BENCHMARK(BM_HostOverhead)->Arg(16)->Arg(64)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
