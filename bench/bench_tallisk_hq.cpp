// tallisk_hq: the sinc reader's oscillator beside the linear one, in the same run, per sample at
// block 64 (the goal is a ratio: the high-quality static loop within 4x the linear static loop).
#include <benchmark/benchmark.h>

#include "hq_oscillator.h"
#include "tallisk_bench_rig.h"

using namespace tallisk;
using namespace tallisk::bench;

namespace {

// Arg "plain": 1 keeps the oscillator on its plain loops, 0 lets it take the AVX2 ones.
template <class Osc>
void BM_Static(benchmark::State& state) {
    measure_static<Osc>(state, state.range(0) != 0);
}
BENCHMARK(BM_Static<Oscillator>)->Name("BM_LinearStatic")->Arg(0)->Arg(1)->ArgNames({"plain"});
BENCHMARK(BM_Static<HqOscillator>)->Name("BM_HqStatic")->Arg(0)->Arg(1)->ArgNames({"plain"});

// A morph settled between two waveforms: one cross-fade loop.
template <class Osc>
void BM_MorphSettled(benchmark::State& state) {
    measure_morph<Osc>(state, false, false);
}
BENCHMARK(BM_MorphSettled<Oscillator>)->Name("BM_LinearMorphSettled");
BENCHMARK(BM_MorphSettled<HqOscillator>)->Name("BM_HqMorphSettled");

// Arg "vibrato": 1 the vibrato, 0 the sweep (measure_streaming), as bench_tallisk's streaming
// benchmark.
template <class Osc>
void BM_Streaming(benchmark::State& state) {
    measure_streaming<Osc>(state, state.range(0) != 0, false);
}
BENCHMARK(BM_Streaming<Oscillator>)->Name("BM_LinearStreaming")->Arg(1)->Arg(0)->ArgNames({"vibrato"});
BENCHMARK(BM_Streaming<HqOscillator>)->Name("BM_HqStreaming")->Arg(1)->Arg(0)->ArgNames({"vibrato"});

}  // namespace

BENCHMARK_MAIN();
