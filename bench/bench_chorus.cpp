// Chorus delay line: nanoseconds per sample for each active loop, at blocks of 64 and 256 samples,
// 44.1 and 384 kHz. Inputs are a sine, a slow sine on the modulation, 10 ms of pre-delay, 4 ms of
// depth and half feedback; the line is the default "0.500" choice.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "delay_line.h"

namespace {

enum Loop { kPlain, kEcho, kFlange, kStreamingDepth };

void run_loop(benchmark::State& state, Loop loop) {
    const int block = static_cast<int>(state.range(0));
    const float rate = static_cast<float>(state.range(1));
    chorus::DelayLine line;
    if (!line.allocate(4, rate)) {
        state.SkipWithError("no memory for the delay line");
        return;
    }
    // Long enough that the modulation sweeps while the benchmark cycles through it.
    const int span = 64 * 1024;
    std::vector<float> input(span), modulation(span), output(block);
    for (int i = 0; i < span; ++i) {
        input[i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
        modulation[i] = 0.5f * std::sin(6.2831853f * static_cast<float>(i) / static_cast<float>(span));
    }
    const std::vector<float> pre_delay(block, 0.001f), depth(block, 0.4f), feedback(block, 0.5f);
    chorus::Block b;
    b.pre_delay = pre_delay.data();
    b.depth = depth.data();
    b.feedback = feedback.data();
    b.output = output.data();
    b.count = block;
    b.delay_scale = rate * 10.0f;
    b.depth_scale = rate * 0.01f;
    int at = 0;
    for (auto _ : state) {
        b.input = input.data() + at;
        b.modulation = modulation.data() + at;
        switch (loop) {
        case kPlain: line.process_plain(b); break;
        case kEcho: line.process_echo(b); break;
        case kFlange: line.process_flange(b); break;
        case kStreamingDepth: line.process_streaming_depth(b, chorus::Feedback::kPreDelay); break;
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
        at += block;
        if (at + block > span) at = 0;
    }
    state.SetItemsProcessed(state.iterations() * block);
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * block * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Args(benchmark::internal::Benchmark* b) {
    for (int block : {64, 256})
        for (int rate : {44100, 384000}) b->Args({block, rate});
    b->ArgNames({"block", "rate"});
}

void BM_ChorusNoFeedback(benchmark::State& s) { run_loop(s, kPlain); }
void BM_ChorusEchoFeedback(benchmark::State& s) { run_loop(s, kEcho); }
void BM_ChorusFlangeFeedback(benchmark::State& s) { run_loop(s, kFlange); }
void BM_ChorusStreamingDepth(benchmark::State& s) { run_loop(s, kStreamingDepth); }

BENCHMARK(BM_ChorusNoFeedback)->Apply(Args);
BENCHMARK(BM_ChorusEchoFeedback)->Apply(Args);
BENCHMARK(BM_ChorusFlangeFeedback)->Apply(Args);
BENCHMARK(BM_ChorusStreamingDepth)->Apply(Args);

}  // namespace

BENCHMARK_MAIN();
