// What the host itself costs: 64 instances of a module that does nothing, each fed by the one
// before it, run block after block. Reported per instance and sample. Then what loading a patch
// costs as it grows.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "mvhost/host.h"
#include "mvhost/patch.h"

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

// Loading a patch and queueing its events, for growing patches: the time per instance (and per
// event) must stay about the same as the patch grows. A chain of N instances, each wired into the
// next, or one instance with N value changes at the same sample; the patch is built, its first
// block run (delivering every event) and closed.
nlohmann::json chain_patch(int instances, int events) {
    nlohmann::json insts = nlohmann::json::array(), wires = nlohmann::json::array(), evs = nlohmann::json::array();
    for (int k = 0; k < instances; ++k) {
        insts.push_back({{"name", "n" + std::to_string(k)}, {"module", MV_NULL_MODULE}, {"gui", false}});
        if (k > 0) wires.push_back({"n" + std::to_string(k - 1) + ".Out", "n" + std::to_string(k) + ".In"});
    }
    for (int k = 0; k < events; ++k) evs.push_back({{"sample", 0}, {"pin", "n0.In"}, {"value", 0.001 * (k % 100)}});
    return {{"sample_rate", 44100}, {"block_size", 16}, {"samples", 16}, {"instances", insts},
            {"wires", wires},        {"events", evs},     {"output", {{"channels", {"n" + std::to_string(instances - 1) + ".Out"}}}}};
}

void load_and_run(benchmark::State& state, const nlohmann::json& doc) {
    for (auto _ : state) {
        try {
            mvh::PatchRun run(doc, "bench", ".", {});
            run.run_until(16);
            run.close();
        } catch (const mvh::PatchError& e) {
            state.SkipWithError(e.what());
            return;
        }
    }
    state.SetComplexityN(state.range(0));
    state.counters["per_item"] = benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(state.range(0)),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_LoadInstances(benchmark::State& state) { load_and_run(state, chain_patch(static_cast<int>(state.range(0)), 0)); }
BENCHMARK(BM_LoadInstances)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Unit(benchmark::kMillisecond)->Complexity();

void BM_QueueEventsAtOneTime(benchmark::State& state) { load_and_run(state, chain_patch(1, static_cast<int>(state.range(0)))); }
BENCHMARK(BM_QueueEventsAtOneTime)->RangeMultiplier(4)->Range(1 << 12, 1 << 18)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
