// Chorus delay line: nanoseconds per sample for each active loop (the four process functions that
// do work; the inactive one writes one block of zeros and sleeps), at blocks of 64 and 256 samples,
// 44.1 and 384 kHz. Inputs are a sine, a slow sine on the modulation (-5 to +5 V unless a case says
// otherwise), 10 ms of pre-delay, 4 ms of depth and half feedback; the line is the default "0.500"
// choice.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "delay_line.h"
#include "kernel.h"

namespace {

enum Loop { kPlain, kEcho, kFlange, kStreamingDepth };

// `lowest` is the modulation's low point (delivered volts / 10); the sweep reaches +5 V.
void run_loop(benchmark::State& state, Loop loop, const chorus::kernel::Loops& set, float lowest = -0.5f) {
    const int block = static_cast<int>(state.range(0));
    const float rate = static_cast<float>(state.range(1));
    chorus::DelayLine line;
    if (!line.allocate(4, rate)) {
        state.SkipWithError("no memory for the delay line");
        return;
    }
    line.use_loops(set);
    // Long enough that the modulation sweeps while the benchmark cycles through it.
    const int span = 64 * 1024;
    std::vector<float> input(span), modulation(span), output(block);
    for (int i = 0; i < span; ++i) {
        input[i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
        const float sweep = std::sin(6.2831853f * static_cast<float>(i) / static_cast<float>(span));
        modulation[i] = lowest + (0.5f - lowest) * 0.5f * (1.0f + sweep);
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
    // Seconds per sample; the report prints it with an SI prefix ("1.2n" is 1.2 ns).
    state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * block,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Args(benchmark::internal::Benchmark* b) {
    for (int block : {64, 256})
        for (int rate : {44100, 384000}) b->Args({block, rate});
    b->ArgNames({"block", "rate"});
}

const chorus::kernel::Loops& best() { return chorus::kernel::best_loops(); }
const chorus::kernel::Loops& portable() { return chorus::kernel::portable_loops(); }

void BM_ChorusNoFeedback(benchmark::State& s) { run_loop(s, kPlain, best()); }
void BM_ChorusEchoFeedback(benchmark::State& s) { run_loop(s, kEcho, best()); }
void BM_ChorusFlangeFeedback(benchmark::State& s) { run_loop(s, kFlange, best()); }
void BM_ChorusStreamingDepth(benchmark::State& s) { run_loop(s, kStreamingDepth, best()); }
BENCHMARK(BM_ChorusNoFeedback)->Apply(Args);
BENCHMARK(BM_ChorusEchoFeedback)->Apply(Args);
BENCHMARK(BM_ChorusFlangeFeedback)->Apply(Args);
BENCHMARK(BM_ChorusStreamingDepth)->Apply(Args);

// The flanger with the sweep kept above -4 V, so that the offset never falls under the chunk
// width: every chunk can run in vector form (the full sweep spends part of its time near no
// offset, where each sample depends on the one before).
void BM_ChorusFlangeFeedbackAbove4V(benchmark::State& s) { run_loop(s, kFlange, best(), -0.4f); }
BENCHMARK(BM_ChorusFlangeFeedbackAbove4V)->Apply(Args);

// The loops built for any x86-64 (SSE2), for processors without AVX2.
void BM_PortableNoFeedback(benchmark::State& s) { run_loop(s, kPlain, portable()); }
void BM_PortableEchoFeedback(benchmark::State& s) { run_loop(s, kEcho, portable()); }
void BM_PortableFlangeFeedback(benchmark::State& s) { run_loop(s, kFlange, portable()); }
void BM_PortableStreamingDepth(benchmark::State& s) { run_loop(s, kStreamingDepth, portable()); }
void BM_PortableFlangeFeedbackAbove4V(benchmark::State& s) { run_loop(s, kFlange, portable(), -0.4f); }
BENCHMARK(BM_PortableNoFeedback)->Args({256, 44100})->ArgNames({"block", "rate"});
BENCHMARK(BM_PortableEchoFeedback)->Args({256, 44100})->ArgNames({"block", "rate"});
BENCHMARK(BM_PortableFlangeFeedback)->Args({256, 44100})->ArgNames({"block", "rate"});
BENCHMARK(BM_PortableStreamingDepth)->Args({256, 44100})->ArgNames({"block", "rate"});
BENCHMARK(BM_PortableFlangeFeedbackAbove4V)->Args({256, 44100})->ArgNames({"block", "rate"});

}  // namespace

BENCHMARK_MAIN();
