// tallisk: oscillator cost per sample at block 64, and the editor's table rebuilds on the UI thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "editor_core.h"
#include "oscillator.h"
#include "oscillator_loops.h"
#include "real_fft.h"
#include "tallisk_bench_rig.h"

using namespace tallisk;
using namespace tallisk::bench;

namespace {

// Arg "plain": 1 keeps the oscillator on the plain loops, 0 lets it use the AVX2 ones if present.
void BM_OscillatorStaticPitch(benchmark::State& state) { measure_static<Oscillator>(state, state.range(0) != 0); }
BENCHMARK(BM_OscillatorStaticPitch)->Arg(0)->Arg(1)->ArgNames({"plain"});

// Arg "vibrato": 0 the sweep, 1 the vibrato (measure_streaming). "plain": 1 keeps the plain loops.
void BM_OscillatorStreamingPitch(benchmark::State& state) {
    measure_streaming<Oscillator>(state, state.range(0) != 0, state.range(1) != 0);
}
BENCHMARK(BM_OscillatorStreamingPitch)->Args({0, 0})->Args({1, 0})->Args({0, 1})->ArgNames({"vibrato", "plain"});

void BM_OscillatorMorph(benchmark::State& state) {
    measure_morph<Oscillator>(state, state.range(0) != 0, state.range(1) != 0);
}
BENCHMARK(BM_OscillatorMorph)->Args({0, 0})->Args({0, 1})->Args({1, 0})->ArgNames({"gliding", "plain"});

// The morph position's chain alone, over the gliding run's inputs: the floor under the gliding
// morph, whose every step waits for the one before.
void BM_MorphChain(benchmark::State& state) {
    std::vector<float> morph(kBlock), positions(kBlock);
    float target = 0.37f, pos = Oscillator::morph_target(target);
    for (auto _ : state) {
        target = target > 0.5f ? 0.2f : 0.8f;
        std::fill(morph.begin(), morph.end(), target);
        benchmark::DoNotOptimize(morph.data());
        for (int i = 0; i < kBlock; ++i) positions[i] = pos = Oscillator::morph_step(pos, morph[i]);
        benchmark::DoNotOptimize(positions.data());
    }
    per_sample(state);
}
BENCHMARK(BM_MorphChain);

// The bare loops over one level at 5 V (no reader, no checks): what the block path costs without
// the per-block bookkeeping.
void BM_Loop(benchmark::State& state) {
    const OscillatorLoops* loops = state.range(0) != 0 ? &kPlainLoops : avx2_loops();
    if (!loops) {
        state.SkipWithError("no AVX2");
        return;
    }
    const bool crossfade = state.range(1) != 0;
    auto e = filled_editor();
    const float* wa = e->level_store()->published(3) + kLevels[4].offset;
    const float* wb = e->level_store()->published(4) + kLevels[4].offset;
    PhaseWalk w{0, 42852281u, 22u, (1u << 22) - 1u, 1.0f / 4194304.0f};
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        w.phase = crossfade ? loops->crossfade(wa, wb, 0.25f, w, out.data(), kBlock)
                            : loops->single(wa, w, out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    per_sample(state);
}
BENCHMARK(BM_Loop)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})->ArgNames({"plain", "crossfade"});

void BM_BuildLevelsOneWaveform(benchmark::State& state) {
    auto e = filled_editor();
    for (auto _ : state) e->build_levels(0, 0);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildLevelsOneWaveform)->Unit(benchmark::kMicrosecond);

void BM_RebuildAll(benchmark::State& state) {
    auto e = filled_editor();
    for (auto _ : state) e->rebuild_all();
    // 12 when every plan came from the kept wisdom, fewer where it does not fit this machine.
    state.counters["plans_from_wisdom"] = FftPlans::instance().from_wisdom();
}
BENCHMARK(BM_RebuildAll)->Unit(benchmark::kMillisecond);

void BM_SelectWaveform(benchmark::State& state) {
    auto e = filled_editor();
    int n = 0;
    for (auto _ : state) {
        n = (n + 1) % kWaveCount;
        e->select_waveform(n);
    }
}
BENCHMARK(BM_SelectWaveform)->Unit(benchmark::kMicrosecond);

void BM_EditorConstruction(benchmark::State& state) {
    auto first = std::make_unique<BenchEditor>();  // the plans exist from here on
    for (auto _ : state) {
        auto e = std::make_unique<BenchEditor>();
        benchmark::DoNotOptimize(e.get());
    }
}
BENCHMARK(BM_EditorConstruction)->Unit(benchmark::kMicrosecond);

// One instance up to its first block: an editor (bank and level store; the process-wide FFT plans
// exist already) and an oscillator with its increment tables (those of the rate exist already, held
// by another instance), rendering one block; and the memory the level store reserves (zero pages
// until tables are written).
void BM_InstanceStartUp(benchmark::State& state) {
    auto first = std::make_unique<BenchEditor>();
    Oscillator first_osc;
    first_osc.build_increment_tables(44100.0f);
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        auto e = std::make_unique<BenchEditor>();
        auto osc = std::make_unique<Oscillator>();
        osc->build_increment_tables(44100.0f);
        osc->set_store(e->level_store());
        osc->static_pitch_update(0.5f);
        osc->render_static(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["level_store_MiB"] = LevelStore::kBlockCount * (kBlockSamples * 4.0) / 1048576.0;
    state.counters["oscillator_KiB"] = sizeof(Oscillator) / 1024.0;
}
BENCHMARK(BM_InstanceStartUp)->Unit(benchmark::kMicrosecond);

// The increment tables of one sample rate, made by the first oscillator at that rate.
void BM_IncrementTables(benchmark::State& state) {
    float rate = 44100.0f;
    for (auto _ : state) {
        Oscillator osc;
        osc.build_increment_tables(rate);
        rate = rate == 44100.0f ? 48000.0f : 44100.0f;
        benchmark::DoNotOptimize(osc.table(PitchLaw::VoltPerOctave));
    }
}
BENCHMARK(BM_IncrementTables)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
